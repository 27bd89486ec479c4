#pragma once
// Windows path rules on every platform. A backup name carries a Windows path
// (drive letters, backslashes, UNC shares) whatever machine decodes it, so
// the folder and item name derived from it must come out the same on Linux
// as with the shell's own path functions. The POSIX back end reproduces
// those rules; the Windows one calls them.

#include <string>
#include <string_view>

namespace platform {

// PathRemoveFileSpecW: the path without its last element and the backslash
// before it. A drive root ("C:\"), a bare drive ("C:") and a server prefix
// ("\\") are kept; a path of one relative element becomes "". Backslashes
// only; '/' is an ordinary character here.
std::u16string RemoveLastPathElement(std::u16string_view path);

// PathFindFileNameW: the last element of the path, as a suffix of it. A
// trailing backslash stays with the last element ("C:\a\b\" gives "b\");
// '\', '/' and ':' separate elements.
std::u16string_view LastPathElement(std::u16string_view path);

// How much of an absolute path names the place it is rooted at, which no
// program can make: "C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\", "\\?\Volume{...}\", or "/" on POSIX. '\' and
// '/' both separate. 0 for a relative path.
std::size_t PathRootLength(std::u16string_view path);

// Paths of at least this many units go to Win32 file calls in the long
// form: from here on CreateDirectoryW (which keeps room for an 8.3 name) and
// soon every other call refuse a plain path. Shorter ones go as they are,
// so that what Windows does with them stays what it always was.
inline constexpr std::size_t kLongFormFrom = 248;

// The "\\?\" form of an absolute Windows path ("\\?\C:\...",
// "\\?\UNC\server\share\..."), with '/' made '\', which reaches 32,767
// units. A path already in that form, a relative one and one shorter than
// kLongFormFrom come back as they are.
std::u16string LongPathForm(std::u16string_view path);

// The folder of a path on this machine's own file system (the running
// executable's, for instance): PathRemoveFileSpecW on Windows, everything
// before the last '/' on POSIX ("/" for a file at the root).
std::u16string NativeFolderOf(std::u16string_view path);

}  // namespace platform
