// The product version from a module's version resource. VERSION.dll is not
// among the DLLs Windows always takes from the system folder: imported, it
// would be looked for first beside the program (a downloads folder, for an
// elevated program). So it is loaded here, by its full path in the system
// folder, when the version is first asked for.

#include <windows.h>

#include <vector>

#include "platform/version_resource.h"
#include "platform/wide.h"

namespace platform {
namespace {

struct VersionCalls {
    using InfoSize = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using Info = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using Query = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    InfoSize getInfoSize = nullptr;
    Info getInfo = nullptr;
    Query query = nullptr;
};

template <typename T>
T Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Loaded once, kept for the life of the process.
const VersionCalls& Calls() {
    static const VersionCalls calls = [] {
        VersionCalls c;
        wchar_t system[MAX_PATH] = {};
        const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return c;
        const std::wstring path = std::wstring(system, n) + L"\\version.dll";
        HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) return c;
        c.getInfoSize = Lookup<VersionCalls::InfoSize>(module, "GetFileVersionInfoSizeW");
        c.getInfo = Lookup<VersionCalls::Info>(module, "GetFileVersionInfoW");
        c.query = Lookup<VersionCalls::Query>(module, "VerQueryValueW");
        return c;
    }();
    return calls;
}

}  // namespace

bool QueryProductVersion(const std::u16string& modulePath, std::u16string& version) {
    const VersionCalls& calls = Calls();
    if (!calls.getInfoSize || !calls.getInfo || !calls.query) return false;
    DWORD handle = 0;
    const DWORD size = calls.getInfoSize(W(modulePath), &handle);
    if (size == 0) return false;
    std::vector<std::uint8_t> info(size);
    if (!calls.getInfo(W(modulePath), 0, size, info.data())) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!calls.query(info.data(), L"\\StringFileInfo\\041103a4\\ProductVersion", &value, &length) || !value)
        return false;
    // The length counts characters and may include the terminating zero.
    version = U16(static_cast<const wchar_t*>(value));
    if (version.size() > length) version.resize(length);
    return true;
}

}  // namespace platform
