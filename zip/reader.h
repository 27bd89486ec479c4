#pragma once
// The inside of the archive reader: the buffered file source, the catalogue
// with its cursor over the central directory, and the entry data stream.
// Only zip/ and its tests include this header; everyone else uses
// zip/archive.h.
//
// Positions are 64-bit throughout, so every offset a 32-bit archive can name
// is reachable even when the archive sits behind gigabytes of other data.

// zlib is the reference for the reader's CRC-32 (crc32.cpp and the tests
// take its crc32 through this header); inflating is zip/inflater.h's.
#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "zip/archive.h"
#include "zip/inflater.h"

// The open archive file. Reads go through a buffer of our own: the
// structures are read one field at a time, and a system call per byte would
// make a large directory slow to walk.
struct ArchiveSource {
    ArchiveSource() = default;
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;

    bool seekable = false;       // a regular disk file; other sources can't seek
    platform::File handle;       // opened for reading, others may read too
    bool readFailed = false;     // set by any failed read, never cleared
    std::uint64_t startOffset = 0;  // file position at open; folded into leadingBytes

    // Buffer state. `position` is where the next read starts (a file
    // position); the buffer holds the file bytes from `bufferStart` on.
    std::vector<std::uint8_t> buffer;
    std::uint64_t bufferStart = 0;
    std::size_t bufferLength = 0;
    std::uint64_t position = 0;
    std::uint64_t osReads = 0;   // read calls that reached the OS (for tests)
    // Where the handle's own file pointer stands after the last read, so
    // that reading on from there needs no seek.
    bool osPositionKnown = false;
    std::uint64_t osPosition = 0;
};

// Fixed fields of one central file header, each widened to 32 bits; the two
// sizes are 64-bit and hold the values that count, taken from the ZIP64
// extra field where the classic field holds all ones.
struct EntryHeader {
    std::uint32_t versionMadeBy = 0;
    std::uint32_t versionNeeded = 0;
    std::uint32_t flags = 0;
    std::uint32_t method = 0;
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t nameLength = 0;
    std::uint32_t extraLength = 0;
    std::uint32_t commentLength = 0;
    std::uint32_t diskNumberStart = 0;
    std::uint32_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
};

inline constexpr std::uint32_t kFlagEncrypted = 0x0001;
inline constexpr std::uint32_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint32_t kFlagUtf8Name = 0x0800;

// Extra field tags the reader understands beyond the "UT" time stamps.
inline constexpr std::uint16_t kTagZip64 = 0x0001;
inline constexpr std::uint16_t kTagUnicodePath = 0x7075;
inline constexpr std::uint16_t kTagNtfs = 0x000A;

// The times an NTFS extra field (0x000A) of a central header holds, as
// file times to 100 ns; 0 where it holds none (no field, a malformed one,
// or a zero there: writers that keep only the write time leave the other
// two 0).
struct NtfsTimes {
    std::uint64_t write = 0;
    std::uint64_t access = 0;
    std::uint64_t creation = 0;
};

// An entry record with its name as stored (8-bit text, whole, up to its
// first zero byte).
struct ArchiveEntryA {
    std::int32_t index = 0;
    std::string name;
    bool utf8Name = false;  // flag bit 11: the name is UTF-8, not the ANSI code page
    std::uint32_t attributes = 0;
    std::uint64_t accessTime = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t writeTime = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc32 = 0;
};

// What a stream learnt about its entry beside the bytes it delivered. The
// three stream operations keep their results; extraction reads these to
// refuse data that is not the entry's content.
struct EntryStreamFacts {
    bool shortData = false;    // the data ended before the declared size came out
    bool corruptData = false;  // inflate reported an error (or could not start)
    bool encrypted = false;    // flag bit 0: the bytes are ciphertext
    bool complete = false;     // every declared byte has been delivered
    bool crcMatches = false;   // complete, and the CRC-32 equals the recorded one
};

inline constexpr std::uint32_t kStreamChunk = 16384;
// The ways UpdateCrc32 may take a CRC-32, plainest first; it takes the last
// one the processor has. Every one gives zlib's value: the tests compare
// them all.
enum class CrcWay { kZlib, kFold4, kFold16 };
bool CrcWayAvailable(CrcWay way);
// UpdateCrc32 taken one given way (or the best available below it).
std::uint32_t UpdateCrc32Way(CrcWay way, std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// Entries with at least kLargeStreamFrom bytes of data are read in chunks of
// kLargeStreamChunk: a read per 16 KiB costs the thread that inflates a
// large entry several percent of its time.
inline constexpr std::uint64_t kLargeStreamFrom = 1 << 20;
inline constexpr std::uint32_t kLargeStreamChunk = 65536;

// The uncompressed bytes of one entry.
struct EntryStream {
    EntryStream() = default;
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;
    ~EntryStream();

    std::vector<std::uint8_t> inputBuffer;  // at least `chunk` bytes of entry data
    std::uint32_t chunk = kStreamChunk;     // what one read of entry data asks for
    // The entry data read but not yet used: a stretch of inputBuffer.
    const std::uint8_t* nextIn = nullptr;
    std::uint32_t availIn = 0;
    // The decoder of deflated entries, made at the first one and kept
    // (with its state and window) for the entries after it.
    std::unique_ptr<Inflater> inflater;
    InflaterKind inflaterKind = InflaterKind::kZlib;  // the kind `inflater` is
    // Data that ISA-L fails gets zlib's verdict instead. ISA-L decodes
    // ahead of the room it is given and reports damage past the declared
    // size, which zlib never reaches, before the bytes in front of it; and
    // where the data runs out it holds back the last few bytes that zlib
    // still gives. So when ISA-L finds damage, an early end or too little
    // data, zlib decodes the entry again from its start, skips what was
    // delivered and goes on in ISA-L's place. (ISA-L fails no intact data,
    // so none is decoded twice.)
    std::unique_ptr<Inflater> retryInflater;  // zlib's, made at the first retry and kept
    bool retrying = false;                    // retryInflater has taken over this entry
    std::uint64_t retrySkipLeft = 0;          // delivered bytes it has yet to decode again
    std::vector<std::uint8_t> retrySkipBuffer;
    std::uint64_t dataStart = 0;              // archive offset of the entry's first data byte
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t dataPos = 0;          // archive offset of the next data byte to read
    bool inflaterReady = false;         // Reset succeeded for this entry
    std::uint64_t localExtraOffset = 0;
    std::uint32_t localExtraLength = 0;
    std::uint32_t localExtraPos = 0;
    std::uint32_t crc = 0;
    std::uint32_t expectedCrc = 0;
    // The extraction's sink takes the CRC-32 itself (on another thread):
    // the stream neither computes nor vouches for it.
    bool crcLeftToCaller = false;
    std::uint64_t compressedLeft = 0;
    std::uint64_t uncompressedLeft = 0;
    ArchiveSource* source = nullptr;    // the catalogue's; not owned
    std::uint32_t method = 0;
    std::uint64_t leadingBytes = 0;

    bool finished = false;  // inflate reported its end or an error: reads give 0
    EntryStreamFacts facts;
};


// One central header as found by walking the directory once. Flat apart
// from the name: a catalogue of 100,000 entries costs a few megabytes.
struct IndexedEntry {
    std::uint64_t headerPos = 0;
    EntryHeader header;
    std::uint64_t localOffset = 0;
    // Whole, as stored (nameLength bytes), or the UTF-8 name of a Unicode
    // Path field that matches the stored bytes.
    std::string name;
    bool nameRead = false;  // false when the name bytes could not be read
    bool utf8Name = false;  // flag bit 11, or the name came from a Unicode Path field
    NtfsTimes ntfs;         // from the central extra field
};

// One slot of the name table: the first entry (directory order) with a given
// case-folded name and encoding. Open addressing over a flat array, so the
// table costs no allocation per entry.
struct NameSlot {
    std::uint32_t hash = 0;
    std::int32_t index = -1;  // -1: empty
};

// What one walk of the central directory found. Built once when the
// archive opens and never changed after: handles opened alongside the first
// one share it, so reading on several threads costs one catalogue.
struct CatalogIndex {
    // The directory as one walk from entry 0 finds it: the headers that
    // read correctly, in order, and how the walk ends. Cursor moves and
    // name searches answer from here instead of reading the file again; the
    // results are those of reading header by header.
    std::vector<IndexedEntry> index;
    ArchiveResult walkEndStatus = CATALOG_OK;  // status of the header after the last good one
    std::uint64_t walkEndPos = 0;              // its position
    // First entry (directory order) per case-folded name and encoding
    // (ANSI code page or UTF-8); a power-of-two number of slots.
    std::vector<NameSlot> names;
    std::size_t namesUsed = 0;
};

struct ArchiveCatalog {
    ArchiveCatalog() : ArchiveCatalog(std::make_shared<CatalogIndex>()) {}
    explicit ArchiveCatalog(std::shared_ptr<CatalogIndex> built)
        : shared(std::move(built)),
          index(shared->index),
          walkEndStatus(shared->walkEndStatus),
          walkEndPos(shared->walkEndPos),
          names(shared->names),
          namesUsed(shared->namesUsed) {}
    ArchiveCatalog(const ArchiveCatalog&) = delete;
    ArchiveCatalog& operator=(const ArchiveCatalog&) = delete;
    ~ArchiveCatalog();

    std::unique_ptr<ArchiveSource> source;
    std::uint32_t entryCount = 0;
    std::uint32_t archiveCommentLength = 0;
    std::uint64_t leadingBytes = 0;
    std::int32_t currentIndex = 0;
    std::uint64_t currentHeaderPos = 0;
    bool currentValid = false;
    std::uint64_t endRecordPos = 0;
    std::uint64_t directorySize = 0;    // from the ZIP64 end record when there is one
    std::uint64_t directoryOffset = 0;
    bool zip64 = false;                 // a ZIP64 end record supplied count, size and offset
    EntryHeader currentHeader;
    std::uint64_t currentLocalOffset = 0;
    std::unique_ptr<EntryStream> openStream;
    // The last stream, closed, kept for the next entry: its buffer and its
    // inflater (state and window, 40 to 90 KiB) are reset rather than
    // allocated again, which counts on archives of many small entries.
    std::unique_ptr<EntryStream> spareStream;
    // The decoder this catalogue's streams inflate with: the build's own,
    // or zlib where a test holds the two side by side.
    InflaterKind inflaterKind = DefaultInflaterKind();
    // The last local header that passed CheckLocalHeader (entry index, or
    // -1) and what it said: describing an entry and then opening its data
    // would otherwise read and check it twice.
    std::int32_t localCheckedIndex = -1;
    std::uint32_t localNameAndExtraLength = 0;
    std::uint32_t localExtraLength = 0;

    // The walk's results (see CatalogIndex), by their old names.
    std::shared_ptr<CatalogIndex> shared;
    std::vector<IndexedEntry>& index;
    ArchiveResult& walkEndStatus;
    std::uint64_t& walkEndPos;
    std::vector<NameSlot>& names;
    std::size_t& namesUsed;
};

struct ArchiveReader {
    ArchiveReader() = default;
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;
    ~ArchiveReader();

    std::unique_ptr<ArchiveCatalog> catalog;
    std::int32_t openEntryIndex = -1;
    ArchiveEntryA cachedEntry;
    std::int32_t cachedIndex = -1;
    std::u16string baseFolder;  // current folder at open, separator appended
    // The extraction's copy buffer, made once per archive rather than once
    // per entry: a restore of many small files would otherwise spend its
    // time allocating and clearing it.
    std::vector<std::uint8_t> copyBuffer;
};

// --- Source ---------------------------------------------------------------

// Opens the file for reading with read sharing. ARCHIVE_NO_FILE and no
// source when it can't be opened.
std::unique_ptr<ArchiveSource> OpenArchiveSource(const std::u16string& path, ArchiveResult& result);
// Reads itemSize * count bytes at the current position; gives the number of
// whole items that arrived. A failed read sets readFailed.
std::size_t ReadSourceBytes(ArchiveSource& source, void* buffer, std::size_t itemSize, std::size_t count);
// 0 with `received` true when the byte arrived; 0 with `received` false at
// end of file; -1 once a read has failed.
int ReadSourceByte(ArchiveSource& source, std::uint8_t& byte, bool& received);
// Little-endian values. -1 and value 0 when a byte fails to arrive, at the
// end of the file as well as on a failed read: a field cut short by the end
// of the file is not a field.
int ReadSourceUInt16(ArchiveSource& source, std::uint32_t& value);
int ReadSourceUInt32(ArchiveSource& source, std::uint32_t& value);
int ReadSourceUInt64(ArchiveSource& source, std::uint64_t& value);
// Positions at startOffset + position; fails (-1) for a source that can't
// seek.
int SeekSource(ArchiveSource& source, std::uint64_t position);

// --- Catalogue ------------------------------------------------------------

// The end record's position relative to the source's start offset; false
// when none is found. (An end record at offset 0, the empty archive, is
// found like any other.)
bool FindEndRecord(ArchiveSource& source, std::uint64_t& position);
// Takes the source; sets lastOpenResult. On failure the file is closed and
// no catalogue is given.
std::unique_ptr<ArchiveCatalog> BuildCatalog(std::unique_ptr<ArchiveSource> source);
// Reads the central header at the cursor position from the file: the fixed
// fields with the ZIP64 values applied, and the name exactly as stored.
// A ZIP64 extra field that is missing or too short for the values it must
// hold, or a split-archive disk number, is CATALOG_BAD_ARCHIVE.
ArchiveResult ReadEntryHeader(ArchiveCatalog* catalog, EntryHeader* header, std::uint64_t* localOffset,
                              std::string* name);
ArchiveResult GoToFirstEntry(ArchiveCatalog* catalog);
ArchiveResult GoToNextEntry(ArchiveCatalog* catalog);

struct LocalHeaderInfo {
    std::uint32_t nameAndExtraLength = 0;
    std::uint64_t extraOffset = 0;  // archive offset of the local extra field
    std::uint32_t extraLength = 0;
};
ArchiveResult CheckLocalHeader(ArchiveCatalog* catalog, LocalHeaderInfo& info);
// Puts the cursor on the first entry whose name equals `name` with ASCII case
// ignored (a to z fold only where they are whole characters: a trail byte of
// a double-byte character is never folded). Names of 256 UTF-16 units or more: CATALOG_BAD_PARAMETER. Not
// found: CATALOG_END_OF_LIST with the cursor as it was.
ArchiveResult LocateEntryByName(ArchiveCatalog* catalog, std::u16string_view name);
// Entry i (or -1 for the archive-wide record), through the reader's cache.
ArchiveResult GetEntry(ArchiveReader* reader, std::int32_t i, ArchiveEntryA& record);
// Moves the cursor as GetEntry does; false when entry i can't be reached.
bool MoveCursorTo(ArchiveCatalog* catalog, std::int32_t i);

// The name-search key of a stored name: a to z become A to Z where the byte
// is a whole character of the name's encoding (UTF-8, or the ANSI code page,
// where a lead byte takes the next byte with it).
std::string FoldEntryName(std::string_view name, bool utf8);

// The attribute and time rules, exposed for tests. Each time comes from the
// finest source that holds it: the central NTFS field (100 ns), then the
// local "UT" field (1 s, UTC), then the DOS fields (2 s, local time).
std::uint32_t AttributesFromExternal(std::uint32_t externalAttributes);
void TimesFromHeader(std::uint32_t dosDateTime, const std::uint8_t* extra, std::size_t extraLength,
                     const NtfsTimes& ntfs, std::uint64_t& accessTime, std::uint64_t& creationTime,
                     std::uint64_t& writeTime);
// The times of the first NTFS field among a central extra field's blocks;
// all 0 when there is none or the field (or the extra field around it) is
// malformed.
NtfsTimes NtfsTimesOf(const std::uint8_t* extra, std::size_t extraLength);

// --- Stream ---------------------------------------------------------------

ArchiveResult OpenEntryStream(ArchiveCatalog* catalog);
// Bytes placed in buffer (at most n), 0 at the end, or a negative status.
std::int32_t ReadEntryStream(ArchiveCatalog* catalog, void* buffer, std::uint32_t n);
ArchiveResult CloseEntryStream(ArchiveCatalog* catalog);
// What the open stream learnt so far; all false without one.
EntryStreamFacts GetEntryStreamFacts(const ArchiveCatalog* catalog);

// Closes the stream held open for openEntryIndex, if any.
void CloseHeldStream(ArchiveReader* reader);
