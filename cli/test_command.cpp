// sorvane-cli test ARCHIVE: whether a backup would restore intact, without
// restoring it. Every entry is read and checked as a restore reads it, and
// nothing is written; the exit statuses are the restore's.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "cli/console_progress.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/restore.h"

int RunTestCommand(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty()) {
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::u16string archive = AbsolutePath(platform::Utf8ToUtf16(args[0]));

    ConsoleProgress progress(platform::IsTerminal(platform::StandardStream::kError));
    ConsoleInterrupts interrupts;
    progress.OnRestoreStarted();
    RestoreFailure failure;
    const int code = VerifyArchive(archive, &progress, &failure, interrupts.Stop());
    progress.OnRestoreFinished(code);

    if (code == RESTORE_ENTRY_FAILED && failure.reason == EntryFailure::kInterrupted) {
        WriteErr("interrupted after " + std::to_string(failure.entryIndex) + " of " +
                 std::to_string(progress.Last().entriesTotal) + " entries checked\n");
        interrupts.CleanedUp();
        return kExitInterrupted;
    }

    if (code == RESTORE_OK) {
        const RestoreProgress& done = progress.Last();
        WriteOut("ok: all " + std::to_string(done.entriesTotal) + " entries intact (" +
                 std::to_string(done.bytesDone) + " bytes checked)\n");
        return 0;
    }
    WriteErr(RestoreFailureLine(code, failure, platform::PathExists(archive)));
    return -code;
}
