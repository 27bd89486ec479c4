// Win32 back end of the path operations: the calls the restore engine names.

#include <windows.h>
#include <shlwapi.h>

#include <io.h>
#include <locale.h>

#include <vector>

#include "platform/fs.h"
#include "platform/identity_win32.h"
#include "platform/path_rules.h"
#include "platform/refusal_win32.h"
#include "platform/wide.h"

namespace platform {

const bool kNamesIgnoreCase = true;

std::u16string NameKey(std::u16string_view name) {
    std::u16string key(name);
    if (key.empty()) return key;
    // Simple case mapping keeps the length: one unit in, one unit out.
    const int made = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, reinterpret_cast<LPCWSTR>(name.data()),
                                     static_cast<int>(name.size()), reinterpret_cast<LPWSTR>(key.data()),
                                     static_cast<int>(key.size()), nullptr, nullptr, 0);
    if (made != static_cast<int>(key.size())) {
        // Never less folded than the ASCII letters.
        key.assign(name);
        for (char16_t& c : key) {
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
        }
    }
    return key;
}
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

// The NTSTATUS behind the last error: ERROR_ACCESS_DENIED stands for a
// refusal by the file's access rules and for a file being deleted or mapped
// by another program alike, and only the status tells them apart.
LONG LastNtStatus() {
    using GetStatus = LONG(WINAPI*)();
    static const auto get = reinterpret_cast<GetStatus>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
    return get ? get() : 0;
}

// What opening the file for deletion, sharing everything, says: 0 when it
// opens (nobody's rights forbid it, and nobody holds it without sharing).
DWORD OpenForDeleteError(const std::u16string& path) {
    HANDLE h = ::CreateFileW(W(Sys(path)), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    ::CloseHandle(h);
    return ERROR_SUCCESS;
}

// Runs `call` until it succeeds, fails for another reason than a file held
// by another program, or `budgetMs` have passed.
template <typename Call>
bool RetryWhileHeld(const std::u16string& path, Refusal* why, unsigned budgetMs, Call call) {
    if (why) *why = Refusal::kNone;
    DWORD pause = 10;
    DWORD waited = 0;
    for (;;) {
        if (call()) return true;
        const DWORD error = ::GetLastError();
        const LONG status = LastNtStatus();
        const DWORD attributes = ::GetFileAttributesW(W(Sys(path)));
        const DWORD probe = error == ERROR_ACCESS_DENIED ? OpenForDeleteError(path) : ERROR_SUCCESS;
        const Refusal refusal = ClassifyRefusal(error, status, attributes, probe);
        if (refusal != Refusal::kInUse || waited >= budgetMs) {
            if (why) *why = refusal;
            ::SetLastError(error);
            return false;
        }
        ::Sleep(pause);
        waited += pause;
        pause = pause * 2 > 250 ? 250 : pause * 2;
    }
}

}  // namespace

Refusal ClassifyRefusal(unsigned long error, long status, unsigned long attributes, unsigned long openForDeleteError) {
    constexpr long kSharingViolation = static_cast<long>(0xC0000043);
    constexpr long kDeletePending = static_cast<long>(0xC0000056);
    constexpr long kCannotDelete = static_cast<long>(0xC0000121);
    constexpr long kUserMappedFile = static_cast<long>(0xC0000243);
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return Refusal::kInUse;
    case ERROR_ACCESS_DENIED:
        break;
    default:
        return Refusal::kOther;
    }
    // A guarded file (read-only, hidden, system) is refused for what it is
    // marked: its owner may unguard it and try again, never wait for it.
    constexpr DWORD kGuarded = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kGuarded) != 0) return Refusal::kAccessDenied;
    switch (status) {
    case kSharingViolation:
    case kDeletePending:
    case kUserMappedFile:
    case kCannotDelete:  // mapped into memory: a running program, a loaded library
        return Refusal::kInUse;
    default:
        break;
    }
    // STATUS_ACCESS_DENIED stands for a refusal by the file's access rules,
    // and also for a rename onto a file another program has open: the file
    // itself tells. It opens for deletion when nobody's rules forbid that.
    if (openForDeleteError == ERROR_SUCCESS || openForDeleteError == ERROR_SHARING_VIOLATION) return Refusal::kInUse;
    return Refusal::kAccessDenied;
}

bool RemoveFile(const std::u16string& path, Refusal* why) {
    return RetryWhileHeld(path, why, kBusyWaitMs, [&] { return ::DeleteFileW(W(Sys(path))) != FALSE; });
}

// The file is opened, its identity compared and its removal asked for
// through one handle: nothing another program put at the path in the
// meantime can be the one removed.
bool RemoveIfMade(const std::u16string& path, const FileIdentity& made, bool folder, unsigned busyWaitMs) {
    HANDLE h = INVALID_HANDLE_VALUE;
    const bool opened = RetryWhileHeld(path, nullptr, busyWaitMs, [&] {
        h = ::CreateFileW(W(Sys(path)), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return h != INVALID_HANDLE_VALUE;
    });
    if (!opened) return false;
    bool removed = false;
    FileIdentity there;
    FILE_BASIC_INFO basic{};
    if (IdentityOfHandle(h, there) && there == made &&
        ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) &&
        ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder) {
        if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
            // A file marked read-only can't be marked for deletion.
            basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = basic.LastWriteTime.QuadPart = 0;
            basic.ChangeTime.QuadPart = 0;
            ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
        }
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        // A folder that holds anything refuses (ERROR_DIR_NOT_EMPTY).
        removed = ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
    }
    ::CloseHandle(h);
    return removed;
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

bool ListFolder(const std::u16string& folder, std::vector<FolderItem>& items) {
    items.clear();
    if (folder.empty()) return false;
    std::u16string pattern = folder;
    if (pattern.back() != u'\\' && pattern.back() != u'/') pattern.push_back(u'\\');
    pattern.push_back(u'*');
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileExW(W(Sys(pattern)), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) {
        // An empty folder still has "." and ".."; only a drive's root can
        // find nothing at all and be readable.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::u16string name = U16(data.cFileName);
        if (name == u"." || name == u"..") continue;
        FolderItem item;
        item.name = name;
        item.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!item.folder)
            item.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        items.push_back(std::move(item));
    } while (::FindNextFileW(h, &data));
    ::FindClose(h);
    return true;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to, Refusal* why) {
    // Either file may be the one held: the new one by a scanner that opened
    // it when it was closed, the old one by whoever uses it.
    return RetryWhileHeld(to, why, kBusyWaitMs, [&] {
        return ::MoveFileExW(W(Sys(from)), W(Sys(to)), MOVEFILE_REPLACE_EXISTING) != FALSE;
    });
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
        const bool directory = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool reparse = (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        result.folder = directory && !reparse;
        result.regular = !directory && !reparse && ::GetFileType(h) == FILE_TYPE_DISK;
        result.writeTime = static_cast<FileTime>(basic.LastWriteTime.QuadPart);
        result.accessTime = static_cast<FileTime>(basic.LastAccessTime.QuadPart);
        result.creationTime = static_cast<FileTime>(basic.CreationTime.QuadPart);
        FILE_STANDARD_INFO standard{};
        if (result.regular && ::GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard))
            result.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    }
    IdentityOfHandle(h, result.identity);
    ::CloseHandle(h);
    return result;
}

bool SetFolderTimes(const std::u16string& path, FileTime creation, FileTime access, FileTime write) {
    // A folder opens only with backup semantics; a junction or link at the
    // path is opened itself, not followed.
    HANDLE h = ::CreateFileW(W(Sys(path)), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME c{static_cast<DWORD>(creation), static_cast<DWORD>(creation >> 32)};
    FILETIME a{static_cast<DWORD>(access), static_cast<DWORD>(access >> 32)};
    FILETIME w{static_cast<DWORD>(write), static_cast<DWORD>(write >> 32)};
    const bool set = ::SetFileTime(h, creation ? &c : nullptr, access ? &a : nullptr, write ? &w : nullptr) != FALSE;
    ::CloseHandle(h);
    return set;
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
