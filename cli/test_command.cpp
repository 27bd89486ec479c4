// sorvane-cli test ARCHIVE [MEMBER...]: whether a backup would restore
// intact, without restoring it. Every chosen entry is read and checked as a
// restore reads it, past any damaged one, and nothing is written; each
// damaged entry is named with its reason, and the exit status is 5 when any
// is.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_progress.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/restore.h"

int RunTestCommand(const std::vector<std::string>& args) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, kTakesExclude | kTakesQuiet, line, error) || line.operands.empty() ||
        line.operands[0].empty()) {
        if (!error.empty()) WriteErr("sorvane-cli: " + error + "\n");
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::u16string archive = AbsolutePath(platform::Utf8ToUtf16(line.operands[0]));
    std::vector<bool> chosen;
    const Chosen members = ChooseFromCommandLine(archive, line, 1, chosen);
    if (members == Chosen::kUnmatched) return kExitUsage;

    ConsoleProgress progress(!line.quiet && platform::IsTerminal(platform::StandardStream::kError));
    ConsoleInterrupts interrupts;
    progress.OnRestoreStarted();
    CheckReport report;
    RestoreFailure failure;
    const int code = CheckArchive(archive, members == Chosen::kAll ? nullptr : &chosen, &progress, report, &failure,
                                  interrupts.Stop());
    progress.OnRestoreFinished(code);
    if (code != RESTORE_OK && code != RESTORE_ENTRY_FAILED) {
        WriteErr(RestoreFailureLine(code, failure, platform::PathExists(archive)));
        return -code;
    }
    std::string damage;
    for (const RestoreFailure& damaged : report.damaged) damage += RestoreFailureLine(RESTORE_ENTRY_FAILED, damaged, true);
    WriteErr(damage);
    const RestoreProgress& done = progress.Last();
    if (report.interrupted) {
        WriteErr("interrupted after " + std::to_string(report.checked) + " of " + std::to_string(done.entriesTotal) +
                 " entries checked" +
                 (report.damaged.empty() ? std::string() : ", " + std::to_string(report.damaged.size()) + " damaged") +
                 "\n");
        interrupts.CleanedUp();
        return kExitInterrupted;
    }
    if (!report.damaged.empty()) {
        WriteErr(std::to_string(report.damaged.size()) + " of " + std::to_string(done.entriesTotal) +
                 " entries damaged\n");
        return -RESTORE_ENTRY_FAILED;
    }
    WriteOut("ok: all " + std::to_string(done.entriesTotal) + " entries intact (" + std::to_string(done.bytesDone) +
             " bytes checked)\n");
    return 0;
}
