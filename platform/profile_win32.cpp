// Profile files through the system's own profile functions.

#include <windows.h>

#include <vector>

#include "platform/profile.h"
#include "platform/wide.h"

namespace platform {

std::u16string ReadIniValue(const std::u16string& path, const std::u16string& section, const std::u16string& key,
                            const std::u16string& defaultValue, std::size_t capacity) {
    // The buffer holds the characters and the terminating zero.
    std::vector<wchar_t> buffer(capacity + 1, L'\0');
    const DWORD n = ::GetPrivateProfileStringW(W(section), W(key), W(defaultValue), buffer.data(),
                                               static_cast<DWORD>(buffer.size()), W(path));
    return U16(buffer.data(), n);
}

bool WriteIniValue(const std::u16string& path, const std::u16string& section, const std::u16string& key,
                   const std::u16string& value) {
    return ::WritePrivateProfileStringW(W(section), W(key), W(value), W(path)) != FALSE;
}

}  // namespace platform
