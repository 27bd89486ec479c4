// The product version from a module's version resource.

#include <windows.h>

#include <vector>

#include "platform/version_resource.h"
#include "platform/wide.h"

namespace platform {

bool QueryProductVersion(const std::u16string& modulePath, std::u16string& version) {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(W(modulePath), &handle);
    if (size == 0) return false;
    std::vector<std::uint8_t> info(size);
    if (!::GetFileVersionInfoW(W(modulePath), 0, size, info.data())) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), L"\\StringFileInfo\\041103a4\\ProductVersion", &value, &length) || !value)
        return false;
    // The length counts characters and may include the terminating zero.
    version = U16(static_cast<const wchar_t*>(value));
    if (version.size() > length) version.resize(length);
    return true;
}

}  // namespace platform
