// ANSI code page conversions through the real CP_ACP calls.

#include <windows.h>

#include "platform/text.h"

namespace platform {

std::u16string AnsiToUtf16(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), reinterpret_cast<wchar_t*>(out.data()),
                          n);
    return out;
}

std::string Utf16ToAnsi(std::u16string_view text, bool* usedDefault) {
    if (usedDefault) *usedDefault = false;
    if (text.empty()) return {};
    const auto* w = reinterpret_cast<const wchar_t*>(text.data());
    // No best fit: a character the code page lacks becomes the default
    // character, never a look-alike ("é" must not turn into "e" and find,
    // or decode to, something else).
    constexpr DWORD kFlags = WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(CP_ACP, kFlags, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    BOOL defaulted = FALSE;
    if (::WideCharToMultiByte(CP_ACP, kFlags, w, static_cast<int>(text.size()), out.data(), n, nullptr, &defaulted) <= 0)
        return {};
    if (usedDefault) *usedDefault = defaulted != FALSE;
    return out;
}

unsigned AnsiCodePage() { return ::GetACP(); }

}  // namespace platform
