#pragma once
// Profile (INI) files: "[Section]" headers and "Key=Value" lines, text in the
// ANSI code page. On Windows these are the system's own profile functions;
// elsewhere a reader and writer of our own keep the same file format and the
// same rules, so that a file written by one is read alike by the other.
// Always pass full paths: Windows puts a bare file name in its own folder.

#include <cstddef>
#include <string>

namespace platform {

// GetPrivateProfileStringW. Sections and keys match without regard to ASCII
// case; the first matching section and key count. A key that is absent (or
// a file that is missing) reads as `defaultValue` with trailing blanks
// removed; a key present with an empty value reads as "". The result holds
// at most `capacity` characters; a longer value is cut to that length.
std::u16string ReadIniValue(const std::u16string& path, const std::u16string& section, const std::u16string& key,
                            const std::u16string& defaultValue, std::size_t capacity);

// WritePrivateProfileStringW. Replaces the key's line where the key exists,
// else adds it at the end of its section, else adds the section at the end
// of the file; creates the file when it does not exist. Every other line is
// left byte for byte as it was; new lines end in CRLF. False when the file
// could not be read or written.
bool WriteIniValue(const std::u16string& path, const std::u16string& section, const std::u16string& key,
                   const std::u16string& value);

}  // namespace platform
