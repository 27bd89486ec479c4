#pragma once
// A subcommand's arguments, GNU style: options may stand anywhere among the
// operands (before or after ARCHIVE, FOLDER and the members), "--" ends
// them, and every option has a long form.
//
//   -x MEMBER, --exclude=MEMBER   leave out what MEMBER matches (repeatable)
//   --existing=replace|keep|newer what to do with what stands at an entry's path
//   --skip-identical              leave files that hold their entry already
//   -q, --quiet                   (test) only damage and the summary
//   --keep-going                  (restore, plan) go on past entries that fail

#include <string>
#include <vector>

#include "restore/members.h"
#include "restore/restore.h"

// The options a subcommand takes.
enum CommandOption : unsigned {
    kTakesExclude = 1,
    kTakesExisting = 2,
    kTakesSkipIdentical = 4,
    kTakesQuiet = 8,
    kTakesKeepGoing = 16,
};

struct CommandLine {
    std::vector<std::string> operands;
    std::vector<std::string> excludes;
    ExistingPolicy existing = ExistingPolicy::kReplace;
    bool existingGiven = false;
    bool skipIdentical = false;
    bool quiet = false;
    bool keepGoing = false;

    // Whether the user asked for anything beyond the whole archive as it
    // is replaced today.
    bool ChoosesAnything(std::size_t fixedOperands) const {
        return operands.size() > fixedOperands || !excludes.empty() || existingGiven || skipIdentical || keepGoing;
    }
};

// False with `error` set (one line, for the usage message) when an option is
// unknown to the subcommand, lacks its value or has a wrong one.
bool ParseCommandLine(const std::vector<std::string>& args, unsigned takes, CommandLine& line, std::string& error);

// The command line of restore and plan, read: ARCHIVE and FOLDER (made
// absolute, the folder ending in the separator), and the choices its
// members, -x, --existing and --skip-identical make. `choices.entries`
// points into the object, so it stays where it was read.
struct RestoreLine {
    RestoreLine() = default;
    RestoreLine(const RestoreLine&) = delete;
    RestoreLine& operator=(const RestoreLine&) = delete;

    CommandLine line;
    std::u16string archive, folder;
    std::vector<bool> chosen;
    RestoreChoices choices;
};
// False, with the usage or the members that match nothing written, when
// the command must end with kExitUsage before doing anything. An archive
// the members could not be read from gets an empty choice: the command
// then reports why it can't read it, and never takes every entry.
bool ReadRestoreLine(const std::vector<std::string>& args, RestoreLine& read);

// The members of `operands` from `first` on, and the excludes, as the
// engine takes them (UTF-16, matched the platform's way).
MemberChoice MembersOf(const CommandLine& line, std::size_t first);

// The entries of the archive at `archive` that the members (operands from
// `first` on) and the excludes choose. kAll when the command line names
// none; kUnopened when the archive can't be read (the command then reports
// that as it would without members); kUnmatched, with a message written
// for each, when a member matches nothing (exit status kExitUsage).
enum class Chosen { kAll, kSome, kUnopened, kUnmatched };
Chosen ChooseFromCommandLine(const std::u16string& archive, const CommandLine& line, std::size_t first,
                             std::vector<bool>& chosen);
