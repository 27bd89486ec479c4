// Links and pipes for the tests, Win32 back end. Under Wine links can be
// made (from the POSIX side) and a failure is a failure; on Windows without
// the privilege they can't, and named pipes and file size limits are not
// there at all.

#include <windows.h>

#include <string>

#include "links.h"
#include "tests/support/start_process_win32.h"

namespace restoretest {

namespace {

// For messages: a path as UTF-8, whatever the ANSI code page can show.
std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

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

// Wine's own call for the POSIX name of a path; absent on Windows.
using ToUnix = char* (*)(const wchar_t*);
ToUnix WineUnixName() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel ? ::GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
    // Through void(*)(), the type GCC accepts as "any function".
    return found ? reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(found)) : nullptr;
}

// Under Wine the link can still be made from the POSIX side: Wine runs a
// native program when asked to start one, and names its own paths in POSIX
// form.
SetUp MakeLinkFromPosix(ToUnix toUnix, const std::filesystem::path& link, const std::filesystem::path& target) {
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
    if (!testsupport::StartProcess(L"Z:\\bin\\ln", command, FALSE, 0, nullptr, startup, process))
        return {SetUp::kFailed, "starting /bin/ln under Wine: error " + std::to_string(::GetLastError())};
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // The handle of a native program may be signalled before it has run.
    for (int i = 0; i < 200 && !Listed(link); ++i) ::Sleep(10);
    if (!Listed(link)) return {SetUp::kFailed, "/bin/ln under Wine made no link at " + Utf8(link)};
    return {};
}

}  // namespace

SetUp MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder) {
    // Without developer mode Windows wants the privilege; the flag asks for
    // the unprivileged form where the system knows it. Wine 8 answers
    // success and makes nothing, so the link is looked for afterwards.
    const DWORD kind = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), kind) && IsLink(link)) return {};
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), kind | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        IsLink(link))
        return {};
    const DWORD error = ::GetLastError();
    if (ToUnix toUnix = WineUnixName()) return MakeLinkFromPosix(toUnix, link, target);
    if (error == ERROR_PRIVILEGE_NOT_HELD)
        return {SetUp::kNotOnThisSystem, "symbolic links need the privilege or developer mode"};
    return {SetUp::kFailed, "CreateSymbolicLinkW " + Utf8(link) + ": error " + std::to_string(error)};
}

SetUp MakeFifo(const std::filesystem::path&) {
    return {SetUp::kNotOnThisSystem, "Windows file systems hold no named pipes"};
}

SetUp SetUmask(unsigned, unsigned&) { return {SetUp::kNotOnThisSystem, "Windows has no umask"}; }

SetUp MakeUnchangeable(const std::filesystem::path&) {
    return {SetUp::kNotOnThisSystem, "a Windows program can't set the immutable flag of the file system below"};
}

void MakeChangeable(const std::filesystem::path&) {}

SetUp LimitFileSize(std::uint64_t) {
    return {SetUp::kNotOnThisSystem, "Windows has no limit on the size of the files a process writes"};
}

}  // namespace restoretest
