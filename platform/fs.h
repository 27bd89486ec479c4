#pragma once
// Files and folders by path. Paths are UTF-16; Windows calls take them as
// they are, the POSIX back end converts to UTF-8. The names avoid those of
// Win32 macros (DeleteFile, CreateDirectory...) on purpose.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace platform {

// The separator between folder levels in destination paths: '\\' on
// Windows, '/' on POSIX. The engine writes no other.
extern const char16_t kPathSeparator;

// Whether the platform's file names ignore letter case (Windows: "A.txt"
// and "a.txt" name one file), so that names a user types are compared the
// same way.
extern const bool kNamesIgnoreCase;

// A name or path as the file system compares it: where names ignore case,
// every letter folded to its capital by the system's own simple mapping
// (Windows: LCMapStringEx, invariant, upper case; NTFS compares names
// through the same kind of table, so "Ä.txt" and "ä.txt" are one file),
// else the text as it stands.
std::u16string NameKey(std::u16string_view name);

inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeSystem = 0x4;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
// A symbolic link or junction: the path leads somewhere else.
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

// Whether a path, or one name in it, fits what this platform's file calls
// take. Windows: 32,767 units less the longest prefix of the long form (the
// platform layer hands long paths over in that form), names of 255 units.
// POSIX: PATH_MAX and NAME_MAX, counted in bytes of UTF-8.
bool PathFits(std::u16string_view path);
bool NameFits(std::u16string_view name);
// Those limits in words, for messages ("32,760 characters").
const char* PathLimitText();
const char* NameLimitText();

// The absolute form of a path given by a user (GetFullPathNameW: ".." and
// "." resolved, '/' made '\\', any length; POSIX: joined to the current
// folder, left for the kernel to resolve). Empty on failure.
std::u16string FullPath(const std::u16string& path);

// GetCurrentDirectoryW / SetCurrentDirectoryW. False on failure.
bool GetCurrentFolder(std::u16string& folder);
bool SetCurrentFolder(const std::u16string& folder);

// CreateDirectoryW without security attributes: false when the folder could
// not be made, also when something already stands there.
bool MakeFolder(const std::u16string& path);

// GetFileAttributesW: kInvalidAttributes when nothing is there. Like the
// Windows call it describes a link itself, not what it leads to: a link
// reads as kAttributeReparsePoint, plus kAttributeDirectory when it leads
// to a folder (a dangling link still reads as a link). On POSIX: directory
// from the file type, read-only from the owner write bit; hidden, system
// and archive read back clear; a plain file with no bit set reads as
// kAttributeNormal, like on Windows.
std::uint32_t ReadAttributes(const std::u16string& path);
// SetFileAttributesW. On POSIX only read-only has an effect, and a link is
// left as it is (what it leads to is never changed).
bool WriteAttributes(const std::u16string& path, std::uint32_t attributes);

// Why a removal or a replacing move was refused.
enum class Refusal {
    kNone,
    // Another program holds the file: a sharing violation, a lock, a
    // mapped section, a delete it has begun and not finished. Only these
    // are waited for.
    kInUse,
    // The user's rights don't allow it (an access rule; POSIX: EACCES,
    // EPERM), or the file is read-only. Reported at once.
    kAccessDenied,
    kOther,
};

// Another program may hold a file for a moment (a virus scanner looking at
// a new file, an indexer, a sync client): where the system enforces
// sharing, a call refused for that reason is tried again with a growing
// pause, up to kBusyWaitMs in all, before it fails with Refusal::kInUse.
// No other refusal is retried. POSIX enforces no sharing.
inline constexpr unsigned kBusyWaitMs = 3000;

// DeleteFileW: removes a file; a folder is refused, and so is a read-only
// file (POSIX: one without the owner's write bit, as on Windows). False on
// failure, with `why` saying why.
bool RemoveFile(const std::u16string& path, Refusal* why = nullptr);

// Removes what this program made at `path`, known by the identity it had
// when it was made: a file, or with `folder` an empty folder. Whatever
// stands there now that is not it (another program's file saved in its
// place, a folder made anew) is left as it is, and so is a folder that
// holds anything. A read-only state does not stop it: the program made the
// file and may give itself the right to remove it. A file held by another
// program is waited for up to `busyWaitMs`. True when it was removed.
bool RemoveIfMade(const std::u16string& path, const FileIdentity& made, bool folder,
                  unsigned busyWaitMs = kBusyWaitMs);

// RemoveDirectoryW: removes an empty folder; one that holds anything, and a
// file, are refused. False on failure.
bool RemoveEmptyFolder(const std::u16string& path);

// PathFileExistsW: anything stands at the path.
bool PathExists(const std::u16string& path);
// PathIsDirectoryW.
bool IsFolder(const std::u16string& path);
// _waccess(path, 4): the path can be read.
bool CanRead(const std::u16string& path);
// A find-first lookup (FindFirstFileW) of the path finds something. A path
// ending in a separator finds nothing, as on Windows.
bool FindAny(const std::u16string& path);

// Moves a file onto another path, replacing a file there
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING; rename on POSIX). A link at
// the new path is itself replaced, never what it leads to.
bool MoveReplacing(const std::u16string& from, const std::u16string& to, Refusal* why = nullptr);

// Sets a folder's creation (where the file system keeps one), last-access
// and last-write times; a time of 0 is left as it is. A link or junction at
// the path has its own times set, never its target's. False when the OS
// refuses.
bool SetFolderTimes(const std::u16string& path, FileTime creation, FileTime access, FileTime write);

// A file a move has just put at `path`, completed there: Windows gives a
// file that replaces another by a move the old one's creation time
// ("tunnelling", NTFS and FAT alike), and FAT numbers a file anew when it
// moves, so the times are set again and the identity read again at its
// place (a time of 0 is left as it is). POSIX moves keep both: only the
// identity is read. False when the file can't be opened there.
bool CompleteMovedFile(const std::u16string& path, FileTime creation, FileTime access, FileTime write,
                       FileIdentity& identity);

// What a no-replace move did.
enum class MoveResult {
    kMoved,        // the file now stands at the new path
    kExists,       // something stands at the new path; nothing was changed
    kOtherVolume,  // the two paths are on different volumes; nothing was changed
    kFailed,       // any other refusal; nothing was changed
};

// Moves a file onto a path where nothing stands, never replacing anything
// (MoveFileExW without MOVEFILE_REPLACE_EXISTING or MOVEFILE_COPY_ALLOWED;
// renameat2 with RENAME_NOREPLACE, or link and unlink where the file system
// refuses that flag).
MoveResult MoveNoReplace(const std::u16string& from, const std::u16string& to);

// What stands at a path, read without following a link and without opening
// it for reading or writing (lstat; CreateFileW with no access,
// FILE_FLAG_OPEN_REPARSE_POINT and FILE_FLAG_BACKUP_SEMANTICS).
struct PathIdentity {
    bool exists = false;
    bool folder = false;   // a real folder, not a link to one
    bool regular = false;  // a plain file: not a folder, a link, a pipe or a device
    std::uint64_t size = 0;      // of a plain file
    FileTime writeTime = 0;      // last write, of whatever stands there (a link itself)
    FileTime accessTime = 0;     // last access, likewise
    FileTime creationTime = 0;   // Windows only (0 on POSIX)
    FileIdentity identity;
};
PathIdentity ReadPathIdentity(const std::u16string& path);

// One item of a folder as ListFolder reads it.
struct FolderItem {
    std::u16string name;      // the item's own name, no folder part
    bool folder = false;      // a folder (a link to one counts as one)
    std::uint64_t size = 0;   // bytes, of a file
};

// The items of `folder` (FindFirstFileW / FindNextFileW; opendir /
// readdir), without "." and "..", in the order the system gives them.
// False when the folder can't be read (missing, not a folder, refused);
// `items` is then empty.
bool ListFolder(const std::u16string& folder, std::vector<FolderItem>& items);

// Full path of the running executable (GetModuleFileNameW;
// /proc/self/exe on POSIX). Empty on failure.
std::u16string ModulePath();

// Sets the C runtime's locale, all categories, to Japanese
// (_wsetlocale(LC_ALL, L"japanese"); ja_JP.UTF-8 on POSIX).
void SetJapaneseLocale();

}  // namespace platform
