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

// UTF-8 and UTF-16 (portable; ill-formed input becomes U+FFFD).
std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace platform
