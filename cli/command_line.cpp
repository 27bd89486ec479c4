// Subcommand arguments, GNU style.

#include "cli/command_line.h"

#include <memory>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "cli/console_progress.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool ParsePolicy(const std::string& value, ExistingPolicy& policy) {
    if (value == "replace") policy = ExistingPolicy::kReplace;
    else if (value == "keep") policy = ExistingPolicy::kKeep;
    else if (value == "newer") policy = ExistingPolicy::kNewer;
    else return false;
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, unsigned takes, CommandLine& line, std::string& error) {
    line = CommandLine{};
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options || a.size() < 2 || a[0] != '-') {
            line.operands.push_back(a);
            continue;
        }
        if (a == "--") {
            options = false;
            continue;
        }
        // An option that takes a value has it attached ("--exclude=x",
        // "-xa") or as the next argument.
        const auto value = [&](std::size_t attachedAt, std::string& out) {
            if (attachedAt < a.size()) {
                out = a.substr(attachedAt);
                return true;
            }
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if ((takes & kTakesExclude) && (StartsWith(a, "-x") && !StartsWith(a, "--"))) {
            if (!value(2, v) || v.empty()) return error = "-x needs a MEMBER", false;
            line.excludes.push_back(v);
        } else if ((takes & kTakesExclude) && (a == "--exclude" || StartsWith(a, "--exclude="))) {
            if (!value(a == "--exclude" ? a.size() : 10, v) || v.empty()) return error = "--exclude needs a MEMBER", false;
            line.excludes.push_back(v);
        } else if ((takes & kTakesExisting) && (a == "--existing" || StartsWith(a, "--existing="))) {
            if (!value(a == "--existing" ? a.size() : 11, v) || !ParsePolicy(v, line.existing))
                return error = "--existing takes replace, keep or newer", false;
            line.existingGiven = true;
        } else if ((takes & kTakesSkipIdentical) && a == "--skip-identical") {
            line.skipIdentical = true;
        } else if ((takes & kTakesQuiet) && (a == "--quiet" || a == "-q")) {
            line.quiet = true;
        } else if ((takes & kTakesKeepGoing) && a == "--keep-going") {
            line.keepGoing = true;
        } else {
            error = "unknown option \"" + a + "\"";
            return false;
        }
    }
    return true;
}

bool ReadRestoreLine(const std::vector<std::string>& args, RestoreLine& read) {
    std::string error;
    CommandLine& line = read.line;
    if (!ParseCommandLine(args, kTakesExclude | kTakesExisting | kTakesSkipIdentical | kTakesKeepGoing, line, error) ||
        line.operands.size() < 2 || line.operands[0].empty() || line.operands[1].empty()) {
        if (!error.empty()) WriteErr("sorvane-cli: " + error + "\n");
        WriteErr(UsageText());
        return false;
    }
    read.archive = AbsolutePath(platform::Utf8ToUtf16(line.operands[0]));
    read.folder = AbsolutePath(platform::Utf8ToUtf16(line.operands[1]));
    if (read.folder.back() != platform::kPathSeparator) read.folder.push_back(platform::kPathSeparator);

    const Chosen members = ChooseFromCommandLine(read.archive, line, 2, read.chosen);
    if (members == Chosen::kUnmatched) return false;
    if (members != Chosen::kAll) read.choices.entries = &read.chosen;
    read.choices.existing = line.existing;
    read.choices.skipIdentical = line.skipIdentical;
    read.choices.keepGoing = line.keepGoing;
    return true;
}

MemberChoice MembersOf(const CommandLine& line, std::size_t first) {
    MemberChoice choice;
    choice.ignoreCase = platform::kNamesIgnoreCase;
    for (std::size_t i = first; i < line.operands.size(); ++i) choice.include.push_back(platform::Utf8ToUtf16(line.operands[i]));
    for (const std::string& x : line.excludes) choice.exclude.push_back(platform::Utf8ToUtf16(x));
    return choice;
}

Chosen ChooseFromCommandLine(const std::u16string& archive, const CommandLine& line, std::size_t first,
                             std::vector<bool>& chosen) {
    chosen.clear();
    if (line.operands.size() <= first && line.excludes.empty()) return Chosen::kAll;
    std::unique_ptr<ArchiveHandle> handle = OpenArchive(archive);
    if (!handle) return Chosen::kUnopened;
    std::vector<std::u16string> unmatched;
    std::int32_t unreadable = 0;
    const bool read = ChooseMembers(handle.get(), MembersOf(line, first), chosen, unmatched, &unreadable);
    CloseArchive(handle);
    if (!read) return Chosen::kUnopened;
    if (!unmatched.empty() && unreadable == 0) {
        for (const std::u16string& pattern : unmatched)
            WriteErr("sorvane-cli: no entry matches \"" + PrintableName(pattern) + "\"\n");
        return Chosen::kUnmatched;
    }
    // A member may lie behind a record that can't be read: that is damage
    // in the archive, not a mistyped name, and the command goes on to name
    // it (as damaged, as the entry a restore would stop at).
    for (const std::u16string& pattern : unmatched)
        WriteErr("sorvane-cli: no readable entry matches \"" + PrintableName(pattern) + "\" (" +
                 std::to_string(unreadable) + (unreadable == 1 ? " record" : " records") +
                 " of the archive's directory can't be read)\n");
    return Chosen::kSome;
}
