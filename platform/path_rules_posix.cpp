// The Windows shell's path rules, written out for platforms without them.
// The cases that matter (drive roots, bare drives, UNC prefixes, relative
// paths, trailing backslashes) are held to the Windows results by one table
// of tests that runs against both back ends.

#include "platform/path_rules.h"

namespace platform {

namespace {

std::u16string_view UpToZero(std::u16string_view path) {
    const auto zero = path.find(u'\0');
    return zero == std::u16string_view::npos ? path : path.substr(0, zero);
}

}  // namespace

std::u16string RemoveLastPathElement(std::u16string_view whole) {
    const std::u16string_view path = UpToZero(whole);
    std::size_t pos = 0;
    // Where the removed part starts: the element after one or two leading
    // backslashes, after a drive's colon (and the root backslash after it),
    // or the last backslash seen.
    std::size_t cut = 0;
    if (pos < path.size() && path[pos] == u'\\') cut = ++pos;
    if (pos < path.size() && path[pos] == u'\\') cut = ++pos;
    while (pos < path.size()) {
        if (path[pos] == u'\\') {
            cut = pos;
        } else if (path[pos] == u':') {
            // The unit right after the colon is stepped over unexamined, so
            // the root backslash of "C:\\" never becomes a cut point.
            cut = ++pos;
            if (pos < path.size() && path[pos] == u'\\') ++cut;
        }
        if (pos < path.size()) ++pos;
    }
    return std::u16string(path.substr(0, cut));
}

std::u16string_view LastPathElement(std::u16string_view whole) {
    const std::u16string_view path = UpToZero(whole);
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        if ((c == u'\\' || c == u'/' || c == u':') && i + 1 < path.size() && path[i + 1] != u'\\' &&
            path[i + 1] != u'/')
            start = i + 1;
    }
    return path.substr(start);
}

std::u16string NativeFolderOf(std::u16string_view path) {
    const auto slash = path.rfind(u'/');
    if (slash == std::u16string_view::npos) return {};
    if (slash == 0) return u"/";
    return std::u16string(path.substr(0, slash));
}

}  // namespace platform
