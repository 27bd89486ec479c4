// Entry names judged and turned into target paths.

#include "restore/entry_name.h"

#include <array>

#include "platform/fs.h"
#include "zip/archive.h"

namespace {

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool HasDeviceComponent(std::u16string_view name) {
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of(u"/\\", start);
        if (end == std::u16string_view::npos) end = name.size();
        if (IsDeviceName(name.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

// A name split into the levels it names: "/" and "\" both separate levels
// (backups come from Windows, where a backslash in a name can only be a
// separator), empty and "." levels name nothing and are dropped.
struct NameParts {
    std::vector<std::u16string_view> parts;
    bool endsWithSeparator = false;
};

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// False for a level ending in a dot or a space: Windows would store it
// under another name ("a." as "a"), merging it with a name the run can't
// see, and a backup written on Windows can't hold one.
bool SplitName(std::u16string_view name, NameParts& split) {
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::u16string_view part = name.substr(start, end - start);
        if (!part.empty() && part != u".") {
            if (part != u".." && (part.back() == u'.' || part.back() == u' ')) return false;
            split.parts.push_back(part);
        }
        start = end + 1;
    }
    split.endsWithSeparator = !name.empty() && IsSeparator(name.back());
    return true;
}

// A name that ends in a separator names folders only; so does a name of
// nothing but "." levels, which names the destination itself.
TargetPlan PlanTarget(const NameParts& split, const std::u16string& destinationFolder) {
    const char16_t sep = platform::kPathSeparator;
    const std::size_t count = split.parts.size();
    const std::size_t levels = (split.endsWithSeparator || count == 0) ? count : count - 1;
    TargetPlan plan;
    plan.target = destinationFolder;
    for (std::size_t i = 0; i < count; ++i) {
        if (!plan.target.empty() && plan.target.back() != sep && (i > 0 || levels > 0)) plan.target.push_back(sep);
        if (i == levels) plan.leafStart = plan.target.size();
        plan.target.append(split.parts[i]);
        if (i < levels) plan.levelEnds.push_back(plan.target.size());
    }
    if (levels == count) {
        if (!plan.target.empty() && plan.target.back() != sep) plan.target.push_back(sep);
        plan.leafStart = plan.target.size();
    }
    return plan;
}

}  // namespace

// Backups made on Windows can't hold device names, so they are refused
// everywhere, not only where they would open a device.
bool IsDeviceName(std::u16string_view component) {
    std::u16string_view base = component.substr(0, component.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    std::u16string upper;
    for (char16_t c : base) upper.push_back(AsciiUpper(c));
    static constexpr std::array<std::u16string_view, 6> kPlain = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$",
                                                                  u"CONOUT$"};
    for (auto name : kPlain) {
        if (upper == name) return true;
    }
    // Windows takes the superscript digits one to three for ports too.
    return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
           ((upper[3] >= u'1' && upper[3] <= u'9') || upper[3] == u'\u00B9' || upper[3] == u'\u00B2' ||
            upper[3] == u'\u00B3');
}

EntryFailure PlanEntryTarget(const std::u16string& entryName, const std::u16string& destinationFolder,
                             TargetPlan& plan) {
    if (entryName.empty()) return EntryFailure::kEmptyName;
    if (!IsSafeEntryName(entryName) || HasDeviceComponent(entryName)) return EntryFailure::kUnsafeName;
    // Every "?" becomes "_" on disk; the name search keeps the stored name.
    std::u16string cleaned = entryName;
    for (char16_t& c : cleaned) {
        if (c == u'?') c = u'_';
    }
    NameParts split;
    if (!SplitName(cleaned, split)) return EntryFailure::kUnsafeName;
    for (const std::u16string_view part : split.parts) {
        if (!platform::NameFits(part)) return EntryFailure::kNameTooLong;
    }
    plan = PlanTarget(split, destinationFolder);
    if (!platform::PathFits(plan.target)) return EntryFailure::kPathTooLong;
    return EntryFailure::kNone;
}

bool KnownFolders::Holds(const std::u16string& target, std::size_t end) const {
    return deepest_.size() >= end && deepest_.compare(0, end, target, 0, end) == 0 &&
           (deepest_.size() == end || deepest_[end] == platform::kPathSeparator);
}
