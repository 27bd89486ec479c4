// Win32 back end of the DLL search restriction.

#include <windows.h>

#include "platform/system_library.h"

namespace platform {

void SearchDllsInSystemFolderOnly() {
    // Windows 8 and later, and Windows 7 with its loader update, have
    // SetDefaultDllDirectories; it is looked up, not imported, so the
    // program still starts where it is missing.
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        const auto set = reinterpret_cast<SetDefaultDirectories>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (set) set(kSearchSystem32);
    }
    // Without it, at least the current folder leaves the search.
    ::SetDllDirectoryW(L"");
}

}  // namespace platform
