#pragma once
// The Win32 edge: UTF-16 core strings handed to and taken from wide Win32
// calls. wchar_t is two bytes with MinGW, so this is a reinterpretation, not
// a conversion. Include only from Windows-only code.

#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Win32 edge needs a 2-byte wchar_t");

inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline std::u16string U16(const wchar_t* s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string(); }
inline std::u16string U16(const wchar_t* s, std::size_t n) { return std::u16string(reinterpret_cast<const char16_t*>(s), n); }
