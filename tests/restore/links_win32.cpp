// Links and pipes for the tests, Win32 back end.

#include <windows.h>

#include "links.h"

namespace restoretest {

namespace {

bool IsLink(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether a directory listing shows the name (a dangling link has no
// attributes to read, but is listed).
bool Listed(const std::filesystem::path& path) {
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW(path.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::FindClose(h);
    return true;
}

// Under Wine the link can still be made from the POSIX side: Wine runs a
// native program when asked to start one, and names its own paths in POSIX
// form. On Windows these calls don't exist and nothing happens here.
bool MakeLinkFromPosix(const std::filesystem::path& link, const std::filesystem::path& target) {
    using ToUnix = char* (*)(const wchar_t*);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto toUnix = kernel ? reinterpret_cast<ToUnix>(::GetProcAddress(kernel, "wine_get_unix_file_name")) : nullptr;
    if (!toUnix) return false;
    auto unixOf = [&](const std::filesystem::path& p) {
        char* name = toUnix(p.c_str());
        std::wstring wide;
        if (name) {
            for (const char* c = name; *c; ++c) wide.push_back(static_cast<unsigned char>(*c));
            ::HeapFree(::GetProcessHeap(), 0, name);
        }
        return wide;
    };
    // The link's own folder exists, the link itself does not, so its POSIX
    // name is the folder's plus the leaf.
    std::wstring command = L"/bin/ln -s \"" + unixOf(target) + L"\" \"" + unixOf(link.parent_path()) + L"/" +
                           link.filename().wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // The handle of a native program may be signalled before it has run.
    for (int i = 0; i < 200 && !Listed(link); ++i) ::Sleep(10);
    return Listed(link);
}

}  // namespace

bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder) {
    // Without developer mode Windows wants the privilege; the flag asks for
    // the unprivileged form where the system knows it. Wine 8 answers
    // success and makes nothing, so the link is looked for afterwards.
    const DWORD kind = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), kind) && IsLink(link)) return true;
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), kind | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        IsLink(link))
        return true;
    return MakeLinkFromPosix(link, target);
}

bool MakeFifo(const std::filesystem::path&) { return false; }

bool LimitFileSize(std::uint64_t) { return false; }

}  // namespace restoretest
