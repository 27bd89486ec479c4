#pragma once
// Which entries of an archive a user asked for: names and wildcard patterns
// as the console front end takes them ("docs", "**/*.txt", "-x cache"),
// matched against the entries' names as stored. Nothing here touches the
// disk.
//
// Patterns: "*" matches within one level, "**" across levels ("**/" also
// matches no level, so "**/*.txt" takes "a.txt"), "?" one character of a
// level, "[...]" one of a set ("[!...]" or "[^...]" none of it, "a-z" a
// range). "/" and "\" both separate levels, in names and patterns alike. A
// pattern that names a folder takes everything below it.

#include <cstdint>
#include <string>
#include <vector>

#include "zip/archive.h"

// Whether `pattern` matches `name` whole, or a folder `name` lies in.
// `ignoreCase` folds letters as Windows names do (case-insensitive there,
// sensitive on POSIX: platform::kNamesIgnoreCase).
bool MemberMatches(std::u16string_view pattern, std::u16string_view name, bool ignoreCase);

struct MemberChoice {
    std::vector<std::u16string> include;  // empty: every entry
    std::vector<std::u16string> exclude;
    bool ignoreCase = false;
};

// The entries of an open archive `choice` takes, by catalogue index: those
// an include pattern matches and no exclude pattern does, and the folder
// entries of the folders they lie in, so that a subtree comes out as a
// whole restore would make it. `unmatched` gets the include patterns that
// matched no entry (each an error to the user). A record that can't be read
// can't be known to lie outside the choice, and a restore would stop at it:
// it is chosen, and counted in `unreadable` (when given); a pattern it
// might have matched is still in `unmatched`. False when the number of
// entries could not be read.
bool ChooseMembers(ArchiveHandle* archive, const MemberChoice& choice, std::vector<bool>& chosen,
                   std::vector<std::u16string>& unmatched, std::int32_t* unreadable = nullptr);
