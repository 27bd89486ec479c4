// The data of one entry: read from the archive in chunks, copied or inflated
// into the caller's buffer, with a running CRC-32. Beside the bytes, the
// stream keeps what it learnt about them (cut short, corrupt, encrypted) so
// that extraction can refuse data that is not the entry's content, while the
// three operations keep their own results.

#include <algorithm>
#include <cstring>
#include <limits>

#include "zip/reader.h"

EntryStream::~EntryStream() {
    if (inflaterReady) inflateEnd(&inflater);
}

ArchiveCatalog::~ArchiveCatalog() {
    // The streams refer to the source; they go first.
    openStream.reset();
    spareStream.reset();
}

ArchiveResult OpenEntryStream(ArchiveCatalog* catalog) {
    if (!catalog || !catalog->currentValid) return CATALOG_BAD_PARAMETER;
    if (catalog->openStream) CloseEntryStream(catalog);

    LocalHeaderInfo local;
    if (CheckLocalHeader(catalog, local) != CATALOG_OK) return CATALOG_BAD_ARCHIVE;

    std::unique_ptr<EntryStream> stream = std::move(catalog->spareStream);
    if (stream) {
        // Everything but the buffer and the inflater starts afresh.
        stream->dataPos = 0;
        stream->finished = false;
        stream->facts = EntryStreamFacts{};
    } else {
        stream = std::make_unique<EntryStream>();
    }
    const EntryHeader& h = catalog->currentHeader;
    stream->chunk = h.compressedSize >= kLargeStreamFrom ? kLargeStreamChunk : kStreamChunk;
    if (stream->inputBuffer.size() < stream->chunk) stream->inputBuffer.resize(stream->chunk);
    stream->localExtraOffset = local.extraOffset;
    stream->localExtraLength = local.extraLength;
    stream->localExtraPos = 0;
    stream->expectedCrc = h.crc32;
    stream->crc = 0;
    stream->crcLeftToCaller = false;
    stream->method = h.method;
    stream->source = catalog->source.get();
    stream->leadingBytes = catalog->leadingBytes;
    stream->inflater.total_out = 0;
    stream->facts.encrypted = (h.flags & kFlagEncrypted) != 0;
    if (stream->method != 0) {
        stream->inflater.next_in = nullptr;
        stream->inflater.avail_in = 0;
        if (stream->inflaterReady && inflateReset(&stream->inflater) != Z_OK) {
            inflateEnd(&stream->inflater);
            stream->inflaterReady = false;
        }
        if (!stream->inflaterReady) {
            stream->inflater.zalloc = nullptr;
            stream->inflater.zfree = nullptr;
            stream->inflater.opaque = nullptr;
            stream->inflaterReady = inflateInit2(&stream->inflater, -15) == Z_OK;
        }
    }
    stream->compressedLeft = h.compressedSize;
    stream->uncompressedLeft = h.uncompressedSize;
    stream->dataPos = catalog->currentLocalOffset + 30 + local.nameAndExtraLength;
    stream->inflater.avail_in = 0;
    catalog->openStream = std::move(stream);
    return CATALOG_OK;
}

namespace {

// Reads the next chunk of entry data into the input buffer. A chunk that
// can't be read in full leaves the positions as they were, so the next read
// tries it again.
ArchiveResult Refill(EntryStream& s) {
    const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(s.chunk, s.compressedLeft));
    if (SeekSource(*s.source, s.leadingBytes + s.dataPos) != 0) return CATALOG_IO_ERROR;
    if (ReadSourceBytes(*s.source, s.inputBuffer.data(), chunk, 1) != 1) return CATALOG_IO_ERROR;
    s.dataPos += chunk;
    s.compressedLeft -= chunk;
    s.inflater.next_in = s.inputBuffer.data();
    s.inflater.avail_in = chunk;
    return CATALOG_OK;
}

}  // namespace

std::int32_t ReadEntryStream(ArchiveCatalog* catalog, void* buffer, std::uint32_t n) {
    if (!catalog || !catalog->openStream) return CATALOG_BAD_PARAMETER;
    if (n == 0) return 0;
    EntryStream& s = *catalog->openStream;
    if (s.finished) return 0;

    // The count is reported as a signed 32-bit number; what is left of the
    // entry may be far more than any one read.
    std::uint32_t room = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        {n, s.uncompressedLeft, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())}));
    if (room == 0) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int32_t count = 0;

    while (room > 0) {
        if (s.method == 0 && s.inflater.avail_in == 0 && s.compressedLeft > 0 && room >= kStreamChunk) {
            // Stored data goes from the archive straight into the caller's
            // buffer, in one read: a copy through the stream's own buffer,
            // a chunk at a time, costs more than the rest of the work.
            const auto k = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, s.compressedLeft));
            if (SeekSource(*s.source, s.leadingBytes + s.dataPos) != 0) return CATALOG_IO_ERROR;
            if (ReadSourceBytes(*s.source, out, k, 1) != 1) return CATALOG_IO_ERROR;
            s.dataPos += k;
            s.compressedLeft -= k;
            if (!s.crcLeftToCaller) s.crc = UpdateCrc32(s.crc, out, k);
            s.uncompressedLeft -= k;
            s.inflater.total_out += k;
            room -= k;
            out += k;
            count += static_cast<std::int32_t>(k);
            continue;
        }
        if (s.inflater.avail_in == 0 && s.compressedLeft > 0) {
            const ArchiveResult status = Refill(s);
            if (status != CATALOG_OK) return status;
        }
        if (s.method == 0) {
            const std::uint32_t k = std::min(room, s.inflater.avail_in);
            // With no stored data at all there is no input buffer to copy from.
            if (k > 0) std::memcpy(out, s.inflater.next_in, k);
            if (!s.crcLeftToCaller) s.crc = UpdateCrc32(s.crc, out, k);
            s.uncompressedLeft -= k;
            s.inflater.avail_in -= k;
            s.inflater.next_in += k;
            s.inflater.total_out += k;
            room -= k;
            out += k;
            count += static_cast<std::int32_t>(k);
            if (s.inflater.avail_in == 0 && s.compressedLeft == 0 && room > 0) {
                s.facts.shortData = true;  // stored data shorter than declared
                return count;
            }
        } else {
            if (!s.inflaterReady) {
                s.facts.corruptData = true;
                s.finished = true;
                return count;
            }
            const uLong before = s.inflater.total_out;
            s.inflater.next_out = out;
            s.inflater.avail_out = room;
            // With the rest of the entry's input at hand and room for all of
            // its output, the inflater is told so: it then keeps no copy of
            // the output in its window, one copy of every small entry less.
            const bool lastCall = s.compressedLeft == 0 && room == s.uncompressedLeft;
            int rc = inflate(&s.inflater, lastCall ? Z_FINISH : Z_NO_FLUSH);
            // Out of room before the stream's end reads as with Z_NO_FLUSH:
            // the declared size has come out, and what lies beyond is not
            // the entry's.
            if (lastCall && rc == Z_BUF_ERROR && s.inflater.avail_out == 0) rc = Z_OK;
            const auto produced = static_cast<std::uint32_t>(s.inflater.total_out - before);
            if (!s.crcLeftToCaller) s.crc = UpdateCrc32(s.crc, out, produced);
            s.uncompressedLeft -= produced;
            room -= produced;
            out += produced;
            count += static_cast<std::int32_t>(produced);
            if (rc != Z_OK) {
                s.finished = true;
                if (rc == Z_STREAM_END) {
                    if (s.uncompressedLeft > 0) s.facts.shortData = true;
                } else if (rc == Z_BUF_ERROR && s.compressedLeft == 0 && s.inflater.avail_in == 0) {
                    s.facts.shortData = true;  // the compressed data ran out mid-stream
                } else {
                    s.facts.corruptData = true;
                }
                return count;
            }
        }
    }
    return count;
}

ArchiveResult CloseEntryStream(ArchiveCatalog* catalog) {
    if (!catalog || !catalog->openStream) return CATALOG_BAD_PARAMETER;
    const EntryStream& s = *catalog->openStream;
    const ArchiveResult status =
        (s.uncompressedLeft == 0 && !s.crcLeftToCaller && s.crc != s.expectedCrc) ? CATALOG_CRC_ERROR : CATALOG_OK;
    catalog->spareStream = std::move(catalog->openStream);
    return status;
}

EntryStreamFacts GetEntryStreamFacts(const ArchiveCatalog* catalog) {
    if (!catalog || !catalog->openStream) return {};
    const EntryStream& s = *catalog->openStream;
    EntryStreamFacts facts = s.facts;
    facts.complete = s.uncompressedLeft == 0;
    facts.crcMatches = facts.complete && !s.crcLeftToCaller && s.crc == s.expectedCrc;
    return facts;
}
