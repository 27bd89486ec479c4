// Path rules that are the same on every platform.

#include "platform/path_rules.h"

namespace platform {

namespace {

bool IsSlash(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The end of the element starting at `from`, its separator included (the
// path's end when none follows).
std::size_t PastElement(std::u16string_view path, std::size_t from) {
    while (from < path.size() && !IsSlash(path[from])) ++from;
    return from < path.size() ? from + 1 : from;
}

bool StartsWithDrive(std::u16string_view path, std::size_t at) {
    return path.size() >= at + 3 && IsDriveLetter(path[at]) && path[at + 1] == u':' && IsSlash(path[at + 2]);
}

}  // namespace

std::size_t PathRootLength(std::u16string_view path) {
    if (path.size() >= 4 && IsSlash(path[0]) && IsSlash(path[1]) && (path[2] == u'?' || path[2] == u'.') &&
        IsSlash(path[3])) {
        // "\\?\" and "\\.\": what follows is a drive, a share or a volume.
        if (StartsWithDrive(path, 4)) return 7;
        if (path.size() >= 8 && (path.substr(4, 3) == u"UNC" || path.substr(4, 3) == u"unc") && IsSlash(path[7]))
            return PastElement(path, PastElement(path, 8));
        return PastElement(path, 4);
    }
    if (path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1])) return PastElement(path, PastElement(path, 2));
    if (StartsWithDrive(path, 0)) return 3;
    if (!path.empty() && IsSlash(path[0])) return 1;
    return 0;
}

std::u16string LongPathForm(std::u16string_view path) {
    std::u16string form(path);
    if (path.size() < kLongFormFrom) return form;
    const bool drive = StartsWithDrive(path, 0);
    const bool share = path.size() > 2 && IsSlash(path[0]) && IsSlash(path[1]) && path[2] != u'?' && path[2] != u'.';
    if (!drive && !share) return form;
    // The long form is taken as it stands: no '/' is turned into '\\' for it.
    for (char16_t& c : form) {
        if (c == u'/') c = u'\\';
    }
    return drive ? u"\\\\?\\" + form : u"\\\\?\\UNC" + form.substr(1);
}

}  // namespace platform
