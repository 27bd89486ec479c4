// ANSI code page conversions through the real CP_ACP calls.

#include <windows.h>

#include "platform/text.h"

namespace platform {

namespace {

// Code pages that refuse WC_NO_BEST_FIT_CHARS and the default-character
// arguments (WideCharToMultiByte fails with ERROR_INVALID_FLAGS or
// ERROR_INVALID_PARAMETER): the UTF ones, ISCII and a few stateful ones.
bool TakesNoFlags(unsigned codePage) {
    return codePage == CP_UTF8 || codePage == CP_UTF7 || codePage == 42 || codePage == 54936 ||
           (codePage >= 50220 && codePage <= 50229) || codePage == 52936 || (codePage >= 57002 && codePage <= 57011);
}

std::u16string ToUtf16(std::string_view bytes, UINT codePage) {
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                          reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string FromUtf16(std::u16string_view text, UINT codePage, bool* usedDefault) {
    if (usedDefault) *usedDefault = false;
    if (text.empty()) return {};
    const auto* w = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    if (codePage == CP_UTF8) {
        // Every character has a UTF-8 form; a lone surrogate has none and is
        // refused with this flag, then written as U+FFFD and reported.
        int n = ::WideCharToMultiByte(codePage, WC_ERR_INVALID_CHARS, w, length, nullptr, 0, nullptr, nullptr);
        DWORD flags = WC_ERR_INVALID_CHARS;
        if (n <= 0) {
            if (usedDefault) *usedDefault = true;
            flags = 0;
            n = ::WideCharToMultiByte(codePage, 0, w, length, nullptr, 0, nullptr, nullptr);
            if (n <= 0) return {};
        }
        std::string out(static_cast<std::size_t>(n), '\0');
        if (::WideCharToMultiByte(codePage, flags, w, length, out.data(), n, nullptr, nullptr) <= 0) return {};
        return out;
    }
    if (TakesNoFlags(codePage)) {
        const int n = ::WideCharToMultiByte(codePage, 0, w, length, nullptr, 0, nullptr, nullptr);
        if (n <= 0) return {};
        std::string out(static_cast<std::size_t>(n), '\0');
        if (::WideCharToMultiByte(codePage, 0, w, length, out.data(), n, nullptr, nullptr) <= 0) return {};
        return out;
    }
    // No best fit: a character the code page lacks becomes the default
    // character, never a look-alike ("é" must not turn into "e" and find,
    // or decode to, something else).
    constexpr DWORD kFlags = WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(codePage, kFlags, w, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    BOOL defaulted = FALSE;
    if (::WideCharToMultiByte(codePage, kFlags, w, length, out.data(), n, nullptr, &defaulted) <= 0) return {};
    if (usedDefault) *usedDefault = defaulted != FALSE;
    return out;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes) { return ToUtf16(bytes, CP_ACP); }

// CP_ACP itself is passed on as the code page's number: the flags a call
// may take depend on which code page that is.
std::string Utf16ToAnsi(std::u16string_view text, bool* usedDefault) {
    return FromUtf16(text, ::GetACP(), usedDefault);
}

unsigned AnsiCodePage() { return ::GetACP(); }

std::u16string CodePageToUtf16(std::string_view bytes, unsigned codePage) { return ToUtf16(bytes, codePage); }

std::string Utf16ToCodePage(std::u16string_view text, unsigned codePage, bool* usedDefault) {
    return FromUtf16(text, codePage, usedDefault);
}

}  // namespace platform
