// Win32 back end of the path operations: the calls the restore engine names.

#include <windows.h>
#include <shlwapi.h>

#include <io.h>
#include <locale.h>

#include <vector>

#include "platform/fs.h"
#include "platform/wide.h"

namespace platform {

const char16_t kPathSeparator = u'\\';

bool GetCurrentFolder(std::u16string& folder) {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return false;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return false;
    folder = U16(buffer.data(), n);
    return true;
}

bool SetCurrentFolder(const std::u16string& folder) { return ::SetCurrentDirectoryW(W(folder)) != FALSE; }

bool MakeFolder(const std::u16string& path) { return ::CreateDirectoryW(W(path), nullptr) != FALSE; }

std::uint32_t ReadAttributes(const std::u16string& path) { return ::GetFileAttributesW(W(path)); }

bool WriteAttributes(const std::u16string& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(W(path), attributes) != FALSE;
}

bool RemoveFile(const std::u16string& path) { return ::DeleteFileW(W(path)) != FALSE; }

bool PathExists(const std::u16string& path) { return ::PathFileExistsW(W(path)) != FALSE; }

bool IsFolder(const std::u16string& path) { return ::PathIsDirectoryW(W(path)) != FALSE; }

bool CanRead(const std::u16string& path) { return ::_waccess(W(path), 4) == 0; }

bool FindAny(const std::u16string& path) {
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW(W(path), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::FindClose(h);
    return true;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to) {
    return ::MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING) != FALSE;
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
