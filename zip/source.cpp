// The archive file as the reader sees it: a position, byte and field reads,
// and a read buffer so that walking the central directory field by field
// costs a system call per 64 KiB rather than per byte.

#include <algorithm>
#include <cstring>

#include "zip/reader.h"

namespace {

constexpr std::size_t kSourceBuffer = 64 * 1024;

// Requests at least this large skip the buffer when it holds nothing of
// them: entry data is read in chunks of this size and copying it through the
// buffer would only cost time.
constexpr std::size_t kDirectReadThreshold = 16 * 1024;

bool OsRead(ArchiveSource& source, std::uint64_t at, void* into, std::size_t count, std::size_t& received) {
    received = 0;
    ++source.osReads;
    // A pipe can't be positioned: its bytes are read as they come, which is
    // what a caller that could not seek still gets to check.
    const bool seek = source.seekable && !(source.osPositionKnown && source.osPosition == at);
    source.osPositionKnown = false;
    if ((seek && !source.handle.SetPosition(at)) || !source.handle.Read(into, count, received)) {
        source.readFailed = true;
        return false;
    }
    source.osPositionKnown = source.seekable;
    source.osPosition = at + received;
    return true;
}

// Copies what the buffer holds at the current position; gives the count.
std::size_t TakeBuffered(ArchiveSource& source, std::uint8_t* into, std::size_t count) {
    if (source.position < source.bufferStart) return 0;
    const std::uint64_t offset = source.position - source.bufferStart;
    if (offset >= source.bufferLength) return 0;
    const std::size_t n = std::min<std::size_t>(count, source.bufferLength - static_cast<std::size_t>(offset));
    std::memcpy(into, source.buffer.data() + offset, n);
    source.position += n;
    return n;
}

// Reads `count` bytes at the current position; false on a failed read.
// `received` is what arrived (less than count at the end of the file).
bool ReadAt(ArchiveSource& source, std::uint8_t* into, std::size_t count, std::size_t& received) {
    received = TakeBuffered(source, into, count);
    while (received < count) {
        const std::size_t want = count - received;
        if (want >= kDirectReadThreshold) {
            std::size_t got = 0;
            const bool ok = OsRead(source, source.position, into + received, want, got);
            source.position += got;
            received += got;
            return ok;
        }
        if (source.buffer.size() != kSourceBuffer) source.buffer.resize(kSourceBuffer);
        std::size_t got = 0;
        source.bufferStart = source.position;
        source.bufferLength = 0;
        if (!OsRead(source, source.position, source.buffer.data(), source.buffer.size(), got)) return false;
        source.bufferLength = got;
        if (got == 0) return true;  // end of file
        received += TakeBuffered(source, into + received, want);
    }
    return true;
}

}  // namespace

std::unique_ptr<ArchiveSource> OpenArchiveSource(const std::u16string& path, ArchiveResult& result) {
    platform::File file = platform::File::OpenForReading(path);
    if (!file.IsOpen()) {
        result = ARCHIVE_NO_FILE;
        return nullptr;
    }
    auto source = std::make_unique<ArchiveSource>();
    source->seekable = file.IsDiskFile();
    std::uint64_t at = 0;
    if (source->seekable && file.GetPosition(at)) source->startOffset = at;
    source->position = source->startOffset;
    source->handle = std::move(file);
    result = ARCHIVE_OK;
    return source;
}

std::size_t ReadSourceBytes(ArchiveSource& source, void* buffer, std::size_t itemSize, std::size_t count) {
    if (itemSize == 0 || count == 0) return 0;
    std::size_t received = 0;
    ReadAt(source, static_cast<std::uint8_t*>(buffer), itemSize * count, received);
    return received / itemSize;
}

int ReadSourceByte(ArchiveSource& source, std::uint8_t& byte, bool& received) {
    std::size_t got = 0;
    ReadAt(source, &byte, 1, got);
    received = got == 1;
    if (received) return 0;
    return source.readFailed ? -1 : 0;
}

namespace {

// A field cut short by the end of the file fails like a failed read. Taken
// as a field of zeros it would make an archive comment that ends in the end
// record's signature read as a valid record of no entries, and a restore of
// a full archive would report success having restored nothing.
int ReadLittleEndian(ArchiveSource& source, int bytes, std::uint32_t& value) {
    value = 0;
    std::uint8_t b[4] = {};
    std::size_t got = 0;
    ReadAt(source, b, static_cast<std::size_t>(bytes), got);
    if (got != static_cast<std::size_t>(bytes)) return -1;
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint32_t{b[i]} << (8 * i);
    value = v;
    return 0;
}

}  // namespace

int ReadSourceUInt16(ArchiveSource& source, std::uint32_t& value) { return ReadLittleEndian(source, 2, value); }

int ReadSourceUInt32(ArchiveSource& source, std::uint32_t& value) { return ReadLittleEndian(source, 4, value); }

int ReadSourceUInt64(ArchiveSource& source, std::uint64_t& value) {
    value = 0;
    std::uint32_t low = 0, high = 0;
    if (ReadLittleEndian(source, 4, low) != 0 || ReadLittleEndian(source, 4, high) != 0) return -1;
    value = (std::uint64_t{high} << 32) | low;
    return 0;
}

int SeekSource(ArchiveSource& source, std::uint64_t position) {
    if (!source.seekable) return -1;
    const std::uint64_t at = source.startOffset + position;
    if (at < position) return -1;  // beyond any file
    // The OS position is set by the next read that needs the file; a seek
    // inside the buffer costs nothing.
    source.position = at;
    return 0;
}
