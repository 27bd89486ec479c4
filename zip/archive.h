#pragma once
// The ZIP archive reader as its callers see it: open an archive, describe its
// entries, find one by name, extract one to disk, close. Every operation
// reports an ArchiveResult; nothing is thrown. Handle-level results are also
// kept in lastReaderResult. A handle is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

using ArchiveResult = std::int32_t;

// Handle level (positive) ...
inline constexpr ArchiveResult ARCHIVE_OK = 0x0;
inline constexpr ArchiveResult ARCHIVE_NO_FILE = 0x200;
inline constexpr ArchiveResult ARCHIVE_WRITE_FAILED = 0x400;
inline constexpr ArchiveResult ARCHIVE_NOT_FOUND = 0x500;
inline constexpr ArchiveResult ARCHIVE_CORRUPT = 0x700;
inline constexpr ArchiveResult ARCHIVE_READ_FAILED = 0x800;
inline constexpr ArchiveResult ARCHIVE_BAD_ARGUMENT = 0x10000;
inline constexpr ArchiveResult ARCHIVE_WRONG_KIND = 0x80000;
// ... and catalogue level (zero or negative).
inline constexpr ArchiveResult CATALOG_OK = 0;
inline constexpr ArchiveResult CATALOG_IO_ERROR = -1;
inline constexpr ArchiveResult CATALOG_END_OF_LIST = -100;
inline constexpr ArchiveResult CATALOG_BAD_PARAMETER = -102;
inline constexpr ArchiveResult CATALOG_BAD_ARCHIVE = -103;
inline constexpr ArchiveResult CATALOG_NO_MEMORY = -104;
inline constexpr ArchiveResult CATALOG_CRC_ERROR = -105;

// Last results, 0 at start, one set per thread: a restore may read one
// archive through several handles on several threads, each thread seeing
// the results of its own calls only.
extern thread_local std::int32_t lastReaderResult;  // last handle-level operation
extern thread_local std::int32_t lastOpenResult;    // last BuildCatalog status
extern thread_local std::int32_t lastWriterResult;  // CloseArchive of a non-reader handle

// One entry as the engine sees it. For index -1 the archive-wide record:
// index = number of entries, empty name, all else 0.
struct ArchiveEntry {
    std::int32_t index = 0;
    std::u16string name;  // as stored, converted from the ANSI code page (or UTF-8 when flagged)
    std::uint32_t attributes = 0;  // Windows FILE_ATTRIBUTE_* bits
    std::uint64_t accessTime = 0;  // file times; 0 = unknown, left unset on disk
    std::uint64_t creationTime = 0;
    std::uint64_t writeTime = 0;
    std::uint64_t compressedSize = 0;  // 64-bit: ZIP64 entries pass 4 GiB
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc32 = 0;  // as recorded in the central directory
};

// Why the last ExtractEntry of a file entry failed, beyond its result code,
// so that callers can tell the user which check refused the data.
enum class ExtractFailure {
    kNone,
    kUnsafeName,      // the name or target path would leave the base folder
    kPathTooLong,     // a path does not fit the platform's limit (platform::PathFits)
    kCreateFailed,    // the output file could not be created
    kOpenFailed,      // the entry's local header is unreadable or disagrees
    kReadFailed,      // the archive could not be read (truncated, I/O error)
    kWriteFailed,     // writing the output failed
    kDiskFull,        // writing the output failed: the disk (or the user's quota) is full
    kCorruptData,     // inflate reported corrupt data
    kShortData,       // the entry ended before its declared size
    kCrcMismatch,     // the CRC-32 of the data differs from the recorded one
    kEncrypted,       // the entry is encrypted (flag bit 0); no password exists
};

struct ArchiveReader;  // zip/reader.h

struct ArchiveHandle {
    std::uint32_t kind = 1;  // 1 = reader, the only kind this system makes
    std::unique_ptr<ArchiveReader> reader;
    ArchiveHandle();
    ~ArchiveHandle();
    ArchiveHandle(const ArchiveHandle&) = delete;
    ArchiveHandle& operator=(const ArchiveHandle&) = delete;
};

// Opens the archive at `path`. The current folder at this moment, with a
// separator appended, becomes the reader's baseFolder. Null on failure;
// lastReaderResult then holds ARCHIVE_NO_FILE or the catalogue status.
std::unique_ptr<ArchiveHandle> OpenArchive(const std::u16string& path);

// OpenArchive with `baseFolder` as the reader's baseFolder instead of the
// current folder: for a destination longer than a current folder may be.
std::unique_ptr<ArchiveHandle> OpenArchiveIn(const std::u16string& path, std::u16string baseFolder);

// A second handle on the archive that `original` has open, at `path`, for
// reading entries on another thread: a file handle, cursor and stream of its
// own over the catalogue `original` built (shared, never changed once
// built, so no per-handle copy of a large directory). Null, with
// lastReaderResult ARCHIVE_NO_FILE, when the file can't be opened again as
// a seekable file; ARCHIVE_BAD_ARGUMENT for a handle that is not a reader's.
std::unique_ptr<ArchiveHandle> OpenArchiveAlongside(const ArchiveHandle& original, const std::u16string& path);

// Closes a reader handle and everything under it (handle becomes null);
// a handle of another kind is left alone and sets lastWriterResult.
ArchiveResult CloseArchive(std::unique_ptr<ArchiveHandle>& handle);

// Entry `index` (0-based), or -1 for the archive-wide record. On failure the
// caller's record is untouched.
ArchiveResult GetArchiveEntry(ArchiveHandle* handle, std::int32_t index, ArchiveEntry& entry);

// First entry, in directory order, whose name equals `name` with ASCII case
// ignored. `index` (optional) becomes -1 when none is found
// (ARCHIVE_NOT_FOUND), also for a name longer than kMaxSearchNameUnits,
// which the search refuses.
inline constexpr std::size_t kMaxSearchNameUnits = 255;
ArchiveResult FindEntryByName(ArchiveHandle* handle, std::u16string_view name, std::int32_t* index,
                              ArchiveEntry& entry);

// Writes entry `index` to `targetPath` with its attributes and times, or for
// a folder entry creates its folders below baseFolder. ARCHIVE_WRITE_FAILED
// whenever the data that reached the file is not exactly the entry's
// content. `failure`, when given, tells which check failed.
ArchiveResult ExtractEntry(ArchiveHandle* handle, std::int32_t index, const std::u16string& targetPath,
                           ExtractFailure* failure = nullptr);

// zlib's crc32 continued over `size` bytes (same value), faster on most
// processors.
std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// Where ExtractEntryToSink delivers an entry's data, in order. Write
// returns false to stop the extraction (a failed write, or the caller
// giving up); the extraction then fails with kWriteFailed.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
    // Why the last Write failed, for the failure the extraction reports.
    virtual ExtractFailure WriteFailure() const { return ExtractFailure::kWriteFailed; }
    // A sink that keeps a whole entry in memory may offer room for all of
    // its `size` declared bytes: the data then goes straight there instead
    // of through Write. Null (the default) when it doesn't; never asked of
    // a sink that takes the CRC (below).
    virtual std::uint8_t* Room(std::uint64_t /*size*/) { return nullptr; }
    // A sink that hands the data on to another thread may lend the buffer
    // the next piece is read into, so that nothing is copied on the way:
    // `size` says how much the reader would read and comes back as how
    // much the buffer holds; the piece then arrives through Write in that
    // very buffer. A buffer lent and not written (the data ended) may be
    // lent again. Null (the default): the reader reads into its own buffer.
    virtual std::uint8_t* LendBuffer(std::size_t& /*size*/) { return nullptr; }
    // A sink that hands the data on to another thread may also take the
    // CRC-32 there, off the thread that inflates: true here, and the
    // extraction leaves the CRC to it. Once the data has ended, WrittenCrc
    // (which may wait for that thread) gives zlib's CRC-32 of every byte
    // that reached the sink through Write, and the extraction compares it
    // with the recorded one, as it does its own.
    virtual bool TakesCrc() const { return false; }
    virtual std::uint32_t WrittenCrc() { return 0; }
};

// Delivers file entry `index`'s data to `sink` with every check ExtractEntry
// makes (an encrypted entry is refused before any byte; short, corrupt or
// unreadable data and a CRC mismatch after the whole entry fail with
// ARCHIVE_WRITE_FAILED), and writes nothing anywhere else. The sink may
// have received bytes of a failing entry: only ARCHIVE_OK vouches for them.
// A folder entry has no data: ARCHIVE_BAD_ARGUMENT.
ArchiveResult ExtractEntryToSink(ArchiveHandle* handle, std::int32_t index, EntrySink& sink,
                                 ExtractFailure* failure = nullptr);

// Creates `root` + `path` and each of its ancestors below root (root ends
// with a separator). Results of the folder creations are ignored; a path
// that could leave root ("..", ":", a leading separator) creates nothing.
void EnsureFolderChain(std::u16string_view root, std::u16string_view path);

// Whether an entry name is safe to turn into a path below a destination:
// no ".." component (split at '/' and '\\'), no ':', no leading separator.
bool IsSafeEntryName(std::u16string_view name);
