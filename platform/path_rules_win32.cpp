// The shell's own path rules.

#include <windows.h>
#include <shlwapi.h>

#include "platform/path_rules.h"
#include "platform/wide.h"

namespace platform {

namespace {

// The shell functions stop at the first zero unit, as the C strings they
// were written for do.
std::u16string UpToZero(std::u16string_view path) {
    const auto zero = path.find(u'\0');
    return std::u16string(zero == std::u16string_view::npos ? path : path.substr(0, zero));
}

}  // namespace

std::u16string RemoveLastPathElement(std::u16string_view path) {
    std::u16string buffer = UpToZero(path);
    ::PathRemoveFileSpecW(reinterpret_cast<wchar_t*>(buffer.data()));
    buffer.resize(std::char_traits<char16_t>::length(buffer.c_str()));
    return buffer;
}

std::u16string_view LastPathElement(std::u16string_view path) {
    const std::u16string buffer = UpToZero(path);
    const wchar_t* start = W(buffer);
    const wchar_t* name = ::PathFindFileNameW(start);
    return path.substr(static_cast<std::size_t>(name - start), buffer.size() - static_cast<std::size_t>(name - start));
}

std::u16string NativeFolderOf(std::u16string_view path) { return RemoveLastPathElement(path); }

}  // namespace platform
