// sorvane-cli restore ARCHIVE FOLDER [MEMBER...]: one run of the engine, the
// same two messages as the dialog, and on failure one line saying what went
// wrong. Members, -x, --existing and --skip-identical choose what the run
// restores and what it does with what stands there already; a run given any
// of them ends its output with what it restored, kept and left identical.

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

namespace {

constexpr char kRestoreDone[] = "バックアップデータの復元が完了しました。\n";
constexpr char kRestoreFailed[] = "バックアップデータの復元に失敗しました。\n";

// The outcomes of the entries confirmed, beside the progress line.
class CountingProgress : public ConsoleProgress {
public:
    using ConsoleProgress::ConsoleProgress;
    void OnEntryDone(std::int32_t, EntryOutcome outcome) override {
        switch (outcome) {
        case EntryOutcome::kRestored: ++restored; break;
        case EntryOutcome::kKept: ++kept; break;
        case EntryOutcome::kIdentical: ++identical; break;
        }
    }
    void OnEntryFailed(const RestoreFailure& failure) override { failed.push_back(failure); }
    std::int32_t restored = 0, kept = 0, identical = 0;
    std::vector<RestoreFailure> failed;  // gone past, with --keep-going
};

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& args) {
    RestoreLine read;
    if (!ReadRestoreLine(args, read)) return kExitUsage;
    const std::u16string& archive = read.archive;

    CountingProgress progress(platform::IsTerminal(platform::StandardStream::kError));
    ConsoleInterrupts interrupts;
    RestoreJob job;
    job.destinationFolder = read.folder;
    job.archivePath = archive;
    job.observer = &progress;
    job.stop = interrupts.Stop();
    job.choices = read.choices;
    RestoreThreadProc(&job);

    if (job.resultCode == RESTORE_ENTRY_FAILED && job.failure.reason == EntryFailure::kInterrupted) {
        WriteErr("interrupted after " + std::to_string(job.failure.entryIndex) + " of " +
                 std::to_string(progress.Last().entriesTotal) +
                 " entries: those are restored; nothing of the others was kept (restoring again with "
                 "--skip-identical finishes only what is missing)\n");
        interrupts.CleanedUp();
        return kExitInterrupted;
    }

    WriteOut(job.resultCode == RESTORE_OK ? kRestoreDone : kRestoreFailed);
    // Every entry gone past, named as test names a damaged one.
    std::string failures;
    for (const RestoreFailure& failed : progress.failed) failures += RestoreFailureLine(RESTORE_ENTRY_FAILED, failed, true);
    WriteErr(failures);
    if (read.line.ChoosesAnything(2) && job.resultCode != RESTORE_NO_ARCHIVE && job.resultCode != RESTORE_OPEN_FAILED &&
        job.resultCode != RESTORE_COUNT_FAILED) {
        WriteOut("restored " + std::to_string(progress.restored) + ", kept " + std::to_string(progress.kept) +
                 ", identical " + std::to_string(progress.identical) +
                 (read.line.keepGoing ? ", failed " + std::to_string(progress.failed.size()) : std::string()) + " of " +
                 std::to_string(progress.Last().entriesTotal) + " entries\n");
    }
    if (job.resultCode == RESTORE_OK) return 0;
    if (!progress.failed.empty()) return -job.resultCode;  // each named above
    WriteErr(RestoreFailureLine(job.resultCode, job.failure, platform::PathExists(archive)));
    return -job.resultCode;
}
