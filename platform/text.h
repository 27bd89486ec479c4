#pragma once
// Text conversions at the edges. The core keeps text in UTF-16; archive entry
// names and the path inside a backup name are 8-bit text in the system's ANSI
// code page (932 on Japanese Windows). On Windows these use CP_ACP; on POSIX
// code page 932 through iconv, so both builds read the same bytes the same way.

#include <string>
#include <string_view>

namespace platform {

// 8-bit ANSI code page text to UTF-16 (MultiByteToWideChar, CP_ACP, flags 0).
// Never fails; bytes that do not form a character become what Windows makes
// of them.
std::u16string AnsiToUtf16(std::string_view bytes);

// UTF-16 to the ANSI code page (WideCharToMultiByte, CP_ACP, no best fit).
// Characters the code page lacks become its default character '?'.
// `usedDefault`, when given, tells whether that happened.
std::string Utf16ToAnsi(std::u16string_view text, bool* usedDefault = nullptr);

// The ANSI code page number in force (932 under a Japanese locale).
unsigned AnsiCodePage();

// The two conversions above for a code page given by number, with the
// flags and arguments that code page accepts: UTF-8 (65001, which Windows
// offers as the system code page) takes neither the no-best-fit flag nor a
// default character, and has no character it lacks; only a lone surrogate
// can't go into it, which sets `usedDefault`. The POSIX back end knows 932
// and 65001; other code pages give empty text.
std::u16string CodePageToUtf16(std::string_view bytes, unsigned codePage);
std::string Utf16ToCodePage(std::u16string_view text, unsigned codePage, bool* usedDefault = nullptr);

// UTF-8 and UTF-16 (portable; ill-formed input becomes U+FFFD).
std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);
// The length in bytes of Utf16ToUtf8(text), without making it.
std::size_t Utf8Length(std::u16string_view text);

}  // namespace platform
