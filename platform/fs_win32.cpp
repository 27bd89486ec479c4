// Win32 back end of the path operations: the calls the restore engine names.

#include <windows.h>
#include <shlwapi.h>

#include <io.h>
#include <locale.h>

#include <vector>

#include "platform/fs.h"
#include "platform/identity_win32.h"
#include "platform/path_rules.h"
#include "platform/wide.h"

namespace platform {

const char16_t kPathSeparator = u'\\';

namespace {

// Every path this layer hands to a file call goes through here: long ones
// in the "\\\\?\\" form, so that no call stops at 260 units.
std::u16string Sys(const std::u16string& path) { return LongPathForm(path); }

// The longest prefix the long form adds ("\\\\?\\UNC\\" for "\\\\"), and the
// terminator.
constexpr std::size_t kMaxPathUnits = 32767 - 6 - 1;
constexpr std::size_t kMaxNameUnits = 255;

}  // namespace

bool PathFits(std::u16string_view path) { return path.size() <= kMaxPathUnits; }
bool NameFits(std::u16string_view name) { return name.size() <= kMaxNameUnits; }
const char* PathLimitText() { return "32,760 characters"; }
const char* NameLimitText() { return "255 characters"; }

std::u16string FullPath(const std::u16string& path) {
    if (path.empty()) return {};
    const DWORD size = ::GetFullPathNameW(W(path), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(W(path), size, full.data(), nullptr);
    if (length == 0 || length >= size) return {};
    return U16(full.data(), length);
}

bool GetCurrentFolder(std::u16string& folder) {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return false;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return false;
    folder = U16(buffer.data(), n);
    return true;
}

// Beyond 260 units this needs a system that lets long-path-aware programs
// (the manifest says this one is) use long paths; elsewhere it fails.
bool SetCurrentFolder(const std::u16string& folder) { return ::SetCurrentDirectoryW(W(Sys(folder))) != FALSE; }

bool MakeFolder(const std::u16string& path) { return ::CreateDirectoryW(W(Sys(path)), nullptr) != FALSE; }

std::uint32_t ReadAttributes(const std::u16string& path) { return ::GetFileAttributesW(W(Sys(path))); }

bool WriteAttributes(const std::u16string& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(W(Sys(path)), attributes) != FALSE;
}

namespace {

// Refusals that mean another program holds the file: a sharing violation,
// a lock, or access denied on a file that is neither read-only nor a
// folder (one being deleted by its holder, or mapped into memory).
bool HeldByAnother(DWORD error, const std::u16string& path) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = ::GetFileAttributesW(W(Sys(path)));
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Runs `call` until it succeeds, fails for another reason than a file held
// by another program, or kBusyWaitMs have passed.
template <typename Call>
bool RetryWhileHeld(const std::u16string& path, bool* inUse, Call call) {
    if (inUse) *inUse = false;
    DWORD pause = 10;
    DWORD waited = 0;
    for (;;) {
        if (call()) return true;
        const DWORD error = ::GetLastError();
        if (!HeldByAnother(error, path)) {
            ::SetLastError(error);
            return false;
        }
        if (waited >= kBusyWaitMs) {
            if (inUse) *inUse = true;
            ::SetLastError(error);
            return false;
        }
        ::Sleep(pause);
        waited += pause;
        pause = pause * 2 > 250 ? 250 : pause * 2;
    }
}

}  // namespace

bool RemoveFile(const std::u16string& path, bool* inUse) {
    return RetryWhileHeld(path, inUse, [&] { return ::DeleteFileW(W(Sys(path))) != FALSE; });
}

bool RemoveEmptyFolder(const std::u16string& path) { return ::RemoveDirectoryW(W(Sys(path))) != FALSE; }

// The shell's path functions and the runtime's _waccess stop at 260
// units: a longer path is asked about through its attributes.
bool PathExists(const std::u16string& path) {
    if (path.size() >= kLongFormFrom) return ::GetFileAttributesW(W(Sys(path))) != INVALID_FILE_ATTRIBUTES;
    return ::PathFileExistsW(W(path)) != FALSE;
}

bool IsFolder(const std::u16string& path) {
    if (path.size() >= kLongFormFrom) {
        const DWORD attributes = ::GetFileAttributesW(W(Sys(path)));
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return ::PathIsDirectoryW(W(path)) != FALSE;
}

bool CanRead(const std::u16string& path) {
    if (path.size() >= kLongFormFrom) return ::GetFileAttributesW(W(Sys(path))) != INVALID_FILE_ATTRIBUTES;
    return ::_waccess(W(path), 4) == 0;
}

bool FindAny(const std::u16string& path) {
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW(W(Sys(path)), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::FindClose(h);
    return true;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to, bool* inUse) {
    // Either file may be the one held: the new one by a scanner that opened
    // it when it was closed, the old one by whoever uses it.
    return RetryWhileHeld(to, inUse, [&] { return ::MoveFileExW(W(Sys(from)), W(Sys(to)), MOVEFILE_REPLACE_EXISTING) != FALSE; });
}

MoveResult MoveNoReplace(const std::u16string& from, const std::u16string& to) {
    if (::MoveFileExW(W(Sys(from)), W(Sys(to)), 0)) return MoveResult::kMoved;
    switch (::GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return MoveResult::kExists;
    case ERROR_NOT_SAME_DEVICE:
        return MoveResult::kOtherVolume;
    default:
        // Some refusals (access denied on a folder, a sharing clash) don't
        // say whether something stands there: the caller looks.
        return ::GetFileAttributesW(W(Sys(to))) != INVALID_FILE_ATTRIBUTES ? MoveResult::kExists : MoveResult::kFailed;
    }
}

PathIdentity ReadPathIdentity(const std::u16string& path) {
    PathIdentity result;
    // No access rights: only the metadata is read, and the reparse point
    // itself is opened, never what a link leads to.
    HANDLE h = ::CreateFileW(W(Sys(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Something may stand there that can't be opened even this way (a
        // file in use by another program with no sharing): it exists but
        // is no file this run made.
        const DWORD attributes = ::GetFileAttributesW(W(Sys(path)));
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            result.exists = true;
            result.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        }
        return result;
    }
    result.exists = true;
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
        result.folder = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
    IdentityOfHandle(h, result.identity);
    ::CloseHandle(h);
    return result;
}

bool CompleteMovedFile(const std::u16string& path, FileTime creation, FileTime access, FileTime write,
                       FileIdentity& identity) {
    // The move has just made this our file; only its times are written.
    HANDLE h = ::CreateFileW(W(Sys(path)), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME c{static_cast<DWORD>(creation), static_cast<DWORD>(creation >> 32)};
    FILETIME a{static_cast<DWORD>(access), static_cast<DWORD>(access >> 32)};
    FILETIME w{static_cast<DWORD>(write), static_cast<DWORD>(write >> 32)};
    ::SetFileTime(h, creation ? &c : nullptr, access ? &a : nullptr, write ? &w : nullptr);
    const bool known = IdentityOfHandle(h, identity);
    ::CloseHandle(h);
    return known;
}

std::u16string ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return U16(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

void SetJapaneseLocale() { ::_wsetlocale(LC_ALL, L"japanese"); }

}  // namespace platform
