#pragma once
// An open OS file with one owner. The restore engine and the archive reader
// reach the disk only through this type; the back end behind it is chosen
// per platform (file_win32.cpp with CreateFileW/ReadFile/SetFilePointerEx,
// file_posix.cpp with open/read/lseek). Positions are 64-bit everywhere, so
// every offset of a 32-bit ZIP archive up to 4 GiB is reachable.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// File times are Windows FILETIME values: 100 ns units since 1601-01-01 UTC.
using FileTime = std::uint64_t;

// Seconds between 1601-01-01 and 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11644473600LL;

// Which file a path or handle leads to, whatever name reached it. Two names
// the file system merges ("a" and "A" on a folded volume, a short name and
// its long one) give the same identity.
//
// Windows: the volume serial and the file's 128-bit id (FileIdInfo; the
// 64-bit index where that is missing). Volumes whose ids don't last (FAT
// and exFAT number a file by its directory entry, which a rename changes;
// network redirectors may reuse or zero them) are told apart by name
// instead: the file's full normalized name (short names resolved), folded
// to capitals as those file systems compare names. POSIX: device and inode.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t indexHigh = 0;
    std::uint64_t index = 0;
    std::u16string name;  // set only where ids don't last
    bool operator==(const FileIdentity&) const = default;
};

struct FileIdentityHash {
    std::size_t operator()(const FileIdentity& id) const noexcept {
        return static_cast<std::size_t>((id.index ^ id.indexHigh * 31) * 0x9E3779B97F4A7C15ull ^ id.volume) ^
               std::hash<std::u16string>()(id.name);
    }
};

// Whether a file system, named as GetVolumeInformation names it ("NTFS",
// "FAT32"), keeps a file's id for the file's life, renames included.
bool FileSystemKeepsFileIds(std::u16string_view fileSystemName);

class File {
public:
    File() noexcept = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // Opens an existing file for reading; others may read it too, nobody
    // may write it meanwhile (Win32: GENERIC_READ, FILE_SHARE_READ,
    // OPEN_EXISTING). An empty File on failure.
    static File OpenForReading(std::u16string_view path);

    // Creates or truncates a file for writing with no sharing
    // (CREATE_ALWAYS). `attributes` is a Windows attribute word
    // (FILE_ATTRIBUTE_*); on POSIX only read-only (0x1) has a meaning: the
    // owner write bit is cleared, while the returned handle can still write.
    // An empty File on failure.
    static File CreateAlways(std::u16string_view path, std::uint32_t attributes);

    // Creates a file that did not exist, for writing, with no sharing: fails
    // when anything at all stands at the path, a link (dangling or not)
    // included, so nothing is ever written through what was there (Win32:
    // CREATE_NEW; POSIX: O_CREAT|O_EXCL|O_NOFOLLOW). `existed`, when given,
    // tells a clash with something there from other failures. An empty File
    // on failure.
    static File CreateNew(std::u16string_view path, bool* existed = nullptr);

    bool IsOpen() const noexcept;

    // True when the OS reports a regular disk file (FILE_TYPE_DISK); pipes,
    // consoles and devices are not. False for an empty File.
    bool IsDiskFile() const noexcept;

    // Absolute position; false when the file cannot seek.
    bool GetPosition(std::uint64_t& position) const noexcept;
    bool SetPosition(std::uint64_t position) noexcept;
    // File length; false when unknown.
    bool GetSize(std::uint64_t& size) const noexcept;

    // Reads up to `count` bytes at the current position. `received` is the
    // number that arrived (0 at end of file). False only on a failed read.
    bool Read(void* buffer, std::size_t count, std::size_t& received) noexcept;
    // Writes all `count` bytes; false when any of them could not be written.
    bool Write(const void* buffer, std::size_t count) noexcept;
    // Whether a Write failed for want of room: the disk, or the user's
    // quota on it, is full.
    bool OutOfRoom() const noexcept { return outOfRoom_; }

    // Sets the creation, last-access and last-write times. A time of 0 is
    // left unchanged; where the file system keeps no creation time it is
    // skipped. False when the OS refuses.
    bool SetTimes(FileTime creation, FileTime access, FileTime write) noexcept;

    // Sets the times as SetTimes does and leaves the file with normal
    // attributes (none of read-only, hidden, system, archive), through the
    // handle: no second lookup of the path.
    bool SetTimesAndNormal(FileTime creation, FileTime access, FileTime write) noexcept;

    // The identity of the open file. False when the OS can't tell.
    bool GetIdentity(FileIdentity& identity) const;

    // Closes now; false when the OS reported an error (data may be lost).
    bool Close() noexcept;

private:
    explicit File(std::intptr_t handle) noexcept : handle_(handle) {}
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
    bool outOfRoom_ = false;
};

}  // namespace platform
