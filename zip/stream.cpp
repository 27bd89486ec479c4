// The data of one entry: read from the archive in chunks, copied or inflated
// into the caller's buffer, with a running CRC-32. Beside the bytes, the
// stream keeps what it learnt about them (cut short, corrupt, encrypted) so
// that extraction can refuse data that is not the entry's content, while the
// three operations keep their own results.

#include <algorithm>
#include <cstring>
#include <limits>

#include "zip/reader.h"

EntryStream::~EntryStream() = default;

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
    stream->facts.encrypted = (h.flags & kFlagEncrypted) != 0;
    stream->inflaterReady = false;
    if (stream->method != 0) {
        if (!stream->inflater || stream->inflaterKind != catalog->inflaterKind) {
            stream->inflater = MakeInflater(catalog->inflaterKind);
            stream->inflaterKind = catalog->inflaterKind;
        }
        // A decoder that can't start doesn't fail the open: the first read
        // reports the data as corrupt.
        stream->inflaterReady = stream->inflater && stream->inflater->Reset();
    }
    stream->retrying = false;
    stream->retrySkipLeft = 0;
    stream->compressedSize = h.compressedSize;
    stream->uncompressedSize = h.uncompressedSize;
    stream->compressedLeft = h.compressedSize;
    stream->uncompressedLeft = h.uncompressedSize;
    stream->dataStart = catalog->currentLocalOffset + 30 + local.nameAndExtraLength;
    stream->dataPos = stream->dataStart;
    stream->nextIn = nullptr;
    stream->availIn = 0;
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
    s.nextIn = s.inputBuffer.data();
    s.availIn = chunk;
    return CATALOG_OK;
}

// Hands the entry to zlib after ISA-L failed it: the data is read again from
// its start, and what was delivered is decoded again and dropped.
// False when zlib's decoder can't start.
bool StartZlibRetry(EntryStream& s) {
    if (!s.retryInflater) s.retryInflater = MakeZlibInflater();
    if (!s.retryInflater || !s.retryInflater->Reset()) return false;
    s.retrying = true;
    s.retrySkipLeft = s.uncompressedSize - s.uncompressedLeft;
    s.dataPos = s.dataStart;
    s.compressedLeft = s.compressedSize;
    s.nextIn = nullptr;
    s.availIn = 0;
    return true;
}

enum class Verdict { kNone, kEnded, kShort, kCorrupt };

// One call of the decoder into out/room, with more input read when it has
// nothing left to give; `produced` is what it wrote. kNone while the data
// may go on; otherwise what became of it. A chunk that can't be read is
// `io`.
Verdict Step(EntryStream& s, Inflater& decoder, std::uint8_t* out, std::uint32_t room, bool finish,
             std::uint32_t& produced, ArchiveResult& io) {
    produced = 0;
    io = CATALOG_OK;
    const std::uint32_t inBefore = s.availIn;
    std::uint8_t* next = out;
    std::uint32_t left = room;
    const InflateStatus status = decoder.Inflate(s.nextIn, s.availIn, next, left, finish);
    produced = room - left;
    if (status == InflateStatus::kEnd) return Verdict::kEnded;
    if (status == InflateStatus::kCorrupt) return Verdict::kCorrupt;
    if (left > 0 && produced == 0 && s.availIn == inBefore) {
        // Nothing taken, nothing given, with room left. More input is read
        // only now, once the decoder has given out what it held: ISA-L
        // takes in a whole chunk and may still hold much of its output,
        // which a chunk that can't be read must not hold back.
        if (s.availIn == 0 && s.compressedLeft > 0) {
            io = Refill(s);
            return Verdict::kNone;
        }
        // Without input, the compressed data ran out mid-stream; with input
        // at hand, the decoder is stuck on it, which no valid stream does.
        return s.availIn == 0 ? Verdict::kShort : Verdict::kCorrupt;
    }
    return Verdict::kNone;
}

// Whether the data ends right where the declared size has come out: the
// decoder, asked for more, gives nothing and reaches the end of the stream
// (reading more input if it must). Anything else, a read that fails
// included, leaves the entry to zlib.
bool EndsAtDeclaredSize(EntryStream& s) {
    std::uint8_t scratch[64];
    for (;;) {
        std::uint32_t produced = 0;
        ArchiveResult io = CATALOG_OK;
        const Verdict v = Step(s, *s.inflater, scratch, sizeof scratch, false, produced, io);
        if (io != CATALOG_OK || produced > 0) return false;
        if (v == Verdict::kEnded) return true;
        if (v != Verdict::kNone) return false;
    }
}

// Decodes again with zlib what ISA-L delivered before it failed the entry.
// kNone once all of it is behind (or a chunk could not be read: `io`);
// otherwise zlib's verdict, reached before that point.
Verdict SkipDelivered(EntryStream& s, ArchiveResult& io) {
    io = CATALOG_OK;
    if (s.retrySkipBuffer.empty()) s.retrySkipBuffer.resize(kStreamChunk);
    while (s.retrySkipLeft > 0) {
        const auto room = static_cast<std::uint32_t>(std::min<std::uint64_t>(s.retrySkipLeft, s.retrySkipBuffer.size()));
        std::uint32_t produced = 0;
        const Verdict v = Step(s, *s.retryInflater, s.retrySkipBuffer.data(), room, false, produced, io);
        s.retrySkipLeft -= produced;
        if (io != CATALOG_OK) return Verdict::kNone;
        // Ending exactly where ISA-L's delivery ended is for the main loop
        // to judge (it may be the declared size).
        if (v == Verdict::kEnded && s.retrySkipLeft == 0) return Verdict::kEnded;
        if (v != Verdict::kNone) return v == Verdict::kEnded ? Verdict::kShort : v;
    }
    return Verdict::kNone;
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
        if (s.method == 0 && s.availIn == 0 && s.compressedLeft > 0 && room >= kStreamChunk) {
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
            room -= k;
            out += k;
            count += static_cast<std::int32_t>(k);
            continue;
        }
        if (s.method == 0) {
            if (s.availIn == 0 && s.compressedLeft > 0) {
                const ArchiveResult status = Refill(s);
                if (status != CATALOG_OK) return status;
            }
            const std::uint32_t k = std::min(room, s.availIn);
            // With no stored data at all there is no input buffer to copy from.
            if (k > 0) std::memcpy(out, s.nextIn, k);
            if (!s.crcLeftToCaller) s.crc = UpdateCrc32(s.crc, out, k);
            s.uncompressedLeft -= k;
            s.availIn -= k;
            s.nextIn += k;
            room -= k;
            out += k;
            count += static_cast<std::int32_t>(k);
            if (s.availIn == 0 && s.compressedLeft == 0 && room > 0) {
                s.facts.shortData = true;  // stored data shorter than declared
                return count;
            }
        } else {
            if (!s.inflaterReady) {
                s.facts.corruptData = true;
                s.finished = true;
                return count;
            }
            Verdict verdict = Verdict::kNone;
            ArchiveResult io = CATALOG_OK;
            if (s.retrying && s.retrySkipLeft > 0) {
                verdict = SkipDelivered(s, io);
                if (io != CATALOG_OK) return io;
            }
            if (verdict == Verdict::kNone) {
                // With the rest of the entry's input at hand and room for
                // all of its output, the decoder is told so: zlib then keeps
                // no copy of the output in its window, one copy of every
                // small entry less.
                const bool lastCall = s.compressedLeft == 0 && room == s.uncompressedLeft;
                std::uint32_t produced = 0;
                verdict = Step(s, s.retrying ? *s.retryInflater : *s.inflater, out, room, lastCall, produced, io);
                if (!s.crcLeftToCaller) s.crc = UpdateCrc32(s.crc, out, produced);
                s.uncompressedLeft -= produced;
                room -= produced;
                out += produced;
                count += static_cast<std::int32_t>(produced);
                if (io != CATALOG_OK) return io;
                const bool isal = !s.retrying && s.inflaterKind != InflaterKind::kZlib;
                bool failed = verdict == Verdict::kCorrupt || verdict == Verdict::kShort ||
                              (verdict == Verdict::kEnded && s.uncompressedLeft > 0);
                // The declared size is out but the stream's end not seen:
                // zlib looks at what follows (up to a symbol and a block
                // header), and damage there fails the entry. ISA-L is laxer
                // about the headers, so unless the stream ends right there,
                // zlib is asked.
                if (isal && verdict == Verdict::kNone && s.uncompressedLeft == 0) failed = !EndsAtDeclaredSize(s);
                if (failed && isal && StartZlibRetry(s)) {
                    // Even with the room filled: zlib may see damage just
                    // past the declared size, and then the entry is damaged.
                    verdict = SkipDelivered(s, io);
                    if (io != CATALOG_OK) return io;
                    if (verdict == Verdict::kNone) continue;
                }
            }
            // Running out of room before the stream's end is no verdict (the
            // loop ends): the declared size has come out, and what lies
            // beyond is not the entry's.
            if (verdict != Verdict::kNone) {
                s.finished = true;
                if (verdict == Verdict::kCorrupt) s.facts.corruptData = true;
                // The final block came early, or the data ran out mid-stream.
                else if (verdict == Verdict::kShort || s.uncompressedLeft > 0) s.facts.shortData = true;
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
