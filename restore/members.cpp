// Members of an archive chosen by name and pattern.

#include "restore/members.h"

#include <set>
#include <string_view>

#include "platform/fs.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Letters as Windows compares names: the cased scripts users name files
// in (Latin, Greek, Cyrillic, full-width Latin) folded to capitals.
char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

class Matcher {
public:
    Matcher(std::u16string_view pattern, std::u16string_view name, bool ignoreCase)
        : p_(pattern), n_(name), ignoreCase_(ignoreCase) {}

    bool From(std::size_t pi, std::size_t ni) const {
        while (pi < p_.size()) {
            const char16_t c = p_[pi];
            if (c == u'*') {
                if (pi + 1 < p_.size() && p_[pi + 1] == u'*') return AnyLevels(pi + 2, ni);
                // Within the level: up to the next separator.
                for (std::size_t k = ni;; ++k) {
                    if (From(pi + 1, k)) return true;
                    if (k == n_.size() || IsSeparator(n_[k])) return false;
                }
            }
            if (ni == n_.size()) return false;
            if (c == u'?') {
                if (IsSeparator(n_[ni])) return false;
            } else if (c == u'[') {
                std::size_t end = 0;
                bool in = false;
                if (!InSet(pi, n_[ni], end, in)) {
                    // No closing bracket: a plain "[".
                    if (n_[ni] != u'[') return false;
                } else {
                    if (!in) return false;
                    pi = end;
                }
            } else if (IsSeparator(c)) {
                if (!IsSeparator(n_[ni])) return false;
            } else if (!Same(c, n_[ni])) {
                return false;
            }
            ++pi;
            ++ni;
        }
        return ni == n_.size();
    }

private:
    // "**" at p_[.. pi): any run of characters, separators included; "**/"
    // also none at all.
    bool AnyLevels(std::size_t pi, std::size_t ni) const {
        if (pi < p_.size() && IsSeparator(p_[pi]) && From(pi + 1, ni)) return true;
        for (std::size_t k = ni; k <= n_.size(); ++k) {
            if (From(pi, k)) return true;
        }
        return false;
    }

    // The set that opens at p_[pi]; `end` is its closing bracket, `in`
    // whether `c` is in it. False when the set has no closing bracket.
    bool InSet(std::size_t pi, char16_t c, std::size_t& end, bool& in) const {
        std::size_t i = pi + 1;
        const bool negated = i < p_.size() && (p_[i] == u'!' || p_[i] == u'^');
        if (negated) ++i;
        bool found = false;
        bool first = true;
        for (; i < p_.size(); ++i) {
            if (p_[i] == u']' && !first) {
                end = i;
                in = IsSeparator(c) ? false : (found != negated);
                return true;
            }
            first = false;
            if (i + 2 < p_.size() && p_[i + 1] == u'-' && p_[i + 2] != u']') {
                const char16_t low = Key(p_[i]), high = Key(p_[i + 2]), key = Key(c);
                if ((c >= p_[i] && c <= p_[i + 2]) || (key >= low && key <= high)) found = true;
                i += 2;
            } else if (Same(p_[i], c)) {
                found = true;
            }
        }
        return false;
    }

    char16_t Key(char16_t c) const { return ignoreCase_ ? Fold(c) : c; }
    bool Same(char16_t a, char16_t b) const { return a == b || (ignoreCase_ && Fold(a) == Fold(b)); }

    std::u16string_view p_;
    std::u16string_view n_;
    bool ignoreCase_;
};

std::u16string_view WithoutTrailingSeparators(std::u16string_view s) {
    while (!s.empty() && IsSeparator(s.back())) s.remove_suffix(1);
    return s;
}

// A name as the matching compares it: separators as "/", letters folded
// where the names are.
std::u16string Key(std::u16string_view name, bool ignoreCase) {
    std::u16string key(WithoutTrailingSeparators(name));
    for (char16_t& c : key) {
        if (IsSeparator(c)) c = u'/';
        else if (ignoreCase) c = Fold(c);
    }
    return key;
}

bool IsFolderEntry(const ArchiveEntry& entry) {
    return (entry.attributes & platform::kAttributeDirectory) != 0 ||
           (!entry.name.empty() && IsSeparator(entry.name.back()) && entry.uncompressedSize == 0);
}

}  // namespace

bool MemberMatches(std::u16string_view pattern, std::u16string_view name, bool ignoreCase) {
    const std::u16string_view p = WithoutTrailingSeparators(pattern);
    const std::u16string_view n = WithoutTrailingSeparators(name);
    if (p.empty() || n.empty()) return false;
    if (Matcher(p, n, ignoreCase).From(0, 0)) return true;
    // The folders the name lies in: a pattern naming one takes the name.
    for (std::size_t k = 0; k < n.size(); ++k) {
        if (IsSeparator(n[k]) && k > 0 && Matcher(p, n.substr(0, k), ignoreCase).From(0, 0)) return true;
    }
    return false;
}

bool ChooseMembers(ArchiveHandle* archive, const MemberChoice& choice, std::vector<bool>& chosen,
                   std::vector<std::u16string>& unmatched) {
    ArchiveEntry record;
    if (GetArchiveEntry(archive, -1, record) != ARCHIVE_OK) return false;
    const std::int32_t count = record.index;
    chosen.assign(static_cast<std::size_t>(count > 0 ? count : 0), false);
    std::vector<bool> used(choice.include.size(), false);
    std::vector<bool> excluded(chosen.size(), false);
    std::set<std::u16string> folders;  // keys of the folders chosen entries lie in
    for (std::int32_t i = 0; i < count; ++i) {
        if (GetArchiveEntry(archive, i, record) != ARCHIVE_OK) return false;
        bool in = choice.include.empty();
        for (std::size_t p = 0; p < choice.include.size(); ++p) {
            if (MemberMatches(choice.include[p], record.name, choice.ignoreCase)) in = used[p] = true;
        }
        for (const std::u16string& pattern : choice.exclude) {
            if (MemberMatches(pattern, record.name, choice.ignoreCase)) excluded[i] = true;
        }
        if (!in || excluded[i]) continue;
        chosen[i] = true;
        const std::u16string key = Key(record.name, choice.ignoreCase);
        for (std::size_t k = key.find(u'/'); k != std::u16string::npos; k = key.find(u'/', k + 1))
            folders.insert(key.substr(0, k));
    }
    // The folder entries of the folders on the way come with what lies in
    // them, unless excluded themselves.
    if (!choice.include.empty() && !folders.empty()) {
        for (std::int32_t i = 0; i < count; ++i) {
            if (chosen[i] || excluded[i] || GetArchiveEntry(archive, i, record) != ARCHIVE_OK) continue;
            if (IsFolderEntry(record) && folders.count(Key(record.name, choice.ignoreCase))) chosen[i] = true;
        }
    }
    unmatched.clear();
    for (std::size_t p = 0; p < choice.include.size(); ++p) {
        if (!used[p]) unmatched.push_back(choice.include[p]);
    }
    return true;
}
