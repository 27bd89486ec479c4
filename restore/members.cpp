// Members of an archive chosen by name and pattern.

#include "restore/members.h"

#include <algorithm>
#include <set>
#include <utility>
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

// A pattern compiled to steps and matched by walking every position the
// pattern could be at, one character of the name at a time: time grows
// with the name's length times the pattern's, never exponentially, however
// many stars the pattern holds (backtracking took seconds for
// "*a*a*a*a*a*a*a*a*c.txt" over one 60-character name). Characters are
// code points: "?" takes "😀", which UTF-16 holds in two units.
class Matcher {
public:
    Matcher(std::u16string_view pattern, bool ignoreCase) : ignoreCase_(ignoreCase) { Compile(CodePoints(pattern)); }

    // Whether the pattern matches `name` whole, or (`orFolder`) a folder
    // it lies in: a prefix of it that ends before one of its separators.
    bool Matches(std::u16string_view name, bool orFolder) const {
        const std::u32string n = CodePoints(name);
        std::vector<char> now(steps_.size() + 1, 0), next(steps_.size() + 1, 0);
        Reach(now, 0);
        for (std::size_t k = 0; k < n.size(); ++k) {
            if (orFolder && k > 0 && IsSeparator32(n[k]) && now[steps_.size()]) return true;
            std::fill(next.begin(), next.end(), 0);
            bool any = false;
            for (std::size_t i = 0; i < steps_.size(); ++i) {
                if (!now[i]) continue;
                const Step& step = steps_[i];
                switch (step.kind) {
                case Kind::kStar:
                    if (!IsSeparator32(n[k])) Reach(next, i), any = true;
                    break;
                case Kind::kAnyLevels: Reach(next, i), any = true; break;
                default:
                    if (Takes(step, n[k])) Reach(next, i + 1), any = true;
                    break;
                }
            }
            if (!any) return false;
            now.swap(next);
        }
        return now[steps_.size()] != 0;
    }

private:
    enum class Kind { kChar, kSeparator, kAnyChar, kSet, kStar, kAnyLevels };
    struct Step {
        Kind kind = Kind::kChar;
        char32_t c = 0;
        bool negated = false;
        std::vector<std::pair<char32_t, char32_t>> ranges;  // a set's ranges (a single character as both ends)
    };

    static Step Of(Kind kind, char32_t c = 0) {
        Step step;
        step.kind = kind;
        step.c = c;
        return step;
    }

    static bool IsSeparator32(char32_t c) { return c == U'/' || c == U'\\'; }

    static std::u32string CodePoints(std::u16string_view s) {
        std::u32string out;
        out.reserve(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) {
            const char16_t c = s[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
                ++i;
            } else {
                out.push_back(c);
            }
        }
        return out;
    }

    char32_t Key(char32_t c) const { return ignoreCase_ && c <= 0xFFFF ? Fold(static_cast<char16_t>(c)) : c; }

    void Compile(const std::u32string& p) {
        for (std::size_t i = 0; i < p.size(); ++i) {
            const char32_t c = p[i];
            if (c == U'*') {
                if (i + 1 < p.size() && p[i + 1] == U'*') {
                    ++i;
                    if (steps_.empty() || steps_.back().kind != Kind::kAnyLevels) steps_.push_back(Of(Kind::kAnyLevels));
                } else if (steps_.empty() || (steps_.back().kind != Kind::kStar && steps_.back().kind != Kind::kAnyLevels)) {
                    steps_.push_back(Of(Kind::kStar));
                }
            } else if (c == U'?') {
                steps_.push_back(Of(Kind::kAnyChar));
            } else if (IsSeparator32(c)) {
                steps_.push_back(Of(Kind::kSeparator));
            } else if (c == U'[' && CompileSet(p, i)) {
                // i is at the closing bracket
            } else {
                steps_.push_back(Of(Kind::kChar, Key(c)));
            }
        }
    }

    // The set that opens at p[i]: its step, and i moved to its closing
    // bracket. False when it has none (the "[" is then a plain character).
    bool CompileSet(const std::u32string& p, std::size_t& i) {
        Step set = Of(Kind::kSet);
        std::size_t j = i + 1;
        set.negated = j < p.size() && (p[j] == U'!' || p[j] == U'^');
        if (set.negated) ++j;
        for (bool first = true; j < p.size(); ++j, first = false) {
            if (p[j] == U']' && !first) {
                steps_.push_back(std::move(set));
                i = j;
                return true;
            }
            if (j + 2 < p.size() && p[j + 1] == U'-' && p[j + 2] != U']') {
                set.ranges.emplace_back(p[j], p[j + 2]);
                j += 2;
            } else {
                set.ranges.emplace_back(p[j], p[j]);
            }
        }
        return false;
    }

    bool Takes(const Step& step, char32_t c) const {
        switch (step.kind) {
        case Kind::kChar: return step.c == Key(c);
        case Kind::kSeparator: return IsSeparator32(c);
        case Kind::kAnyChar: return !IsSeparator32(c);
        case Kind::kSet: {
            if (IsSeparator32(c)) return false;
            bool found = false;
            for (const auto& [low, high] : step.ranges) {
                if ((c >= low && c <= high) || (Key(c) >= Key(low) && Key(c) <= Key(high))) found = true;
            }
            return found != step.negated;
        }
        case Kind::kStar:
        case Kind::kAnyLevels: break;
        }
        return false;
    }

    // Marks `i` and every step reached from it without taking a character:
    // a star takes none, and "**/" also stands for no level at all.
    void Reach(std::vector<char>& states, std::size_t i) const {
        while (i <= steps_.size() && !states[i]) {
            states[i] = 1;
            if (i == steps_.size()) return;
            const Kind kind = steps_[i].kind;
            if (kind == Kind::kAnyLevels && i + 1 < steps_.size() && steps_[i + 1].kind == Kind::kSeparator)
                Reach(states, i + 2);
            if (kind != Kind::kStar && kind != Kind::kAnyLevels) return;
            ++i;
        }
    }

    bool ignoreCase_;
    std::vector<Step> steps_;
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
    // The folders the name lies in too: a pattern naming one takes the name.
    return Matcher(p, ignoreCase).Matches(n, true);
}

bool ChooseMembers(ArchiveHandle* archive, const MemberChoice& choice, std::vector<bool>& chosen,
                   std::vector<std::u16string>& unmatched, std::int32_t* unreadable) {
    if (unreadable) *unreadable = 0;
    ArchiveEntry record;
    if (GetArchiveEntry(archive, -1, record) != ARCHIVE_OK) return false;
    const std::int32_t count = record.index;
    chosen.assign(static_cast<std::size_t>(count > 0 ? count : 0), false);
    std::vector<bool> used(choice.include.size(), false);
    std::vector<bool> excluded(chosen.size(), false);
    std::set<std::u16string> folders;  // keys of the folders chosen entries lie in
    for (std::int32_t i = 0; i < count; ++i) {
        if (GetArchiveEntry(archive, i, record) != ARCHIVE_OK) {
            chosen[i] = true;
            if (unreadable) ++*unreadable;
            continue;
        }
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
