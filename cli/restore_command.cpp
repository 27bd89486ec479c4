// sorvane-cli restore ARCHIVE FOLDER: one run of the engine, the same two
// messages as the dialog, and on failure one line saying what went wrong.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "cli/console_progress.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/restore.h"

namespace {

constexpr char kRestoreDone[] = "バックアップデータの復元が完了しました。\n";
constexpr char kRestoreFailed[] = "バックアップデータの復元に失敗しました。\n";

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::u16string archive = AbsolutePath(platform::Utf8ToUtf16(args[0]));
    std::u16string folder = AbsolutePath(platform::Utf8ToUtf16(args[1]));
    if (folder.back() != platform::kPathSeparator) folder.push_back(platform::kPathSeparator);

    ConsoleProgress progress(platform::IsTerminal(platform::StandardStream::kError));
    ConsoleInterrupts interrupts;
    RestoreJob job;
    job.destinationFolder = folder;
    job.archivePath = archive;
    job.observer = &progress;
    job.stop = interrupts.Stop();
    RestoreThreadProc(&job);

    if (job.resultCode == RESTORE_ENTRY_FAILED && job.failure.reason == EntryFailure::kInterrupted) {
        WriteErr("interrupted after " + std::to_string(job.failure.entryIndex) + " of " +
                 std::to_string(progress.Last().entriesTotal) +
                 " entries: those are restored; nothing of the others was kept\n");
        interrupts.CleanedUp();
        return kExitInterrupted;
    }

    if (job.resultCode == RESTORE_OK) {
        WriteOut(kRestoreDone);
        return 0;
    }
    WriteOut(kRestoreFailed);
    WriteErr(RestoreFailureLine(job.resultCode, job.failure, platform::PathExists(archive)));
    return -job.resultCode;
}
