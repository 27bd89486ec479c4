// The restore run: one pass over an archive's catalogue, entry after entry
// in catalogue order, below one destination folder.
//
// What the user relies on, and what shapes the run:
// - nothing outside the destination is created, deleted or written: an
//   entry's name is judged before anything on disk is touched for it;
// - a failing entry never destroys what stood at its path, and leaves
//   nothing of itself but the folders on its way; after a failure or an
//   interruption nothing of any later entry exists;
// - with worker threads the result is the serial run's, always: the same
//   code, the same entry reported, the same files, contents, times and
//   folders, each file made in the folder it lives in;
// - the run's codes are fixed (0, -3, -4, -5, -6): the dialog and the
//   console front end turn them into text, the engine never does.
//
// The run thread is the committer: it walks the catalogue in order and
// makes every effect a user can see (folders, each file's creation at its
// target, replacements) itself, in order. Worker threads only fill files it
// has created; the ledger confirms entries in order once their files are
// complete. Whatever can't be taken back (replacing or removing what stood
// at a path) waits until every earlier entry is confirmed. When anything
// fails while fills are outstanding, every fill is finished, what entries
// after the first failing one made is taken back, and that entry is
// restored again on the run thread alone, exactly as the serial run does;
// only a failure it meets there is reported, and the rest of the run stays
// on the run thread.

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/cores.h"
#include "platform/fs.h"
#include "platform/path_rules.h"
#include "restore/entry_restore.h"
#include "restore/fill_workers.h"
#include "restore/restore_internal.h"
#include "restore/run_ledger.h"
#include "restore/run_meter.h"

namespace {

// What the undo after a stop waits, in all, for files held by others.
constexpr unsigned kStopUndoWaitMs = 1500;

class Committer {
public:
    Committer(ArchiveHandle* archive, const std::u16string& destination, std::int32_t count,
              RestoreObserver* observer, RestoreProgress& progress, RestoreFailure& why, const StopRequest* stop,
              const FillFaults* faults, const RestoreChoices& choices, std::unique_ptr<FillWorkers> workers,
              std::chrono::milliseconds progressInterval)
        : archive_(archive), destination_(destination), count_(count), observer_(observer),
          meter_(observer, progress, progressInterval), ledger_(observer, progress, &meter_), why_(why),
          stop_(stop), faults_(faults), choices_(choices), workers_(std::move(workers)) {
        if (workers_) workers_->SetMeter(&meter_);
    }

    int Run();

private:
    bool Stopped() const { return stop_ && stop_->Requested(); }
    // Entry `index`, all of it that happens on this thread. False when it
    // failed (why_ says why), or when an earlier entry's fill failed.
    bool CommitEntry(std::int32_t index);
    // The file of a prepared entry, created at its target and handed over.
    bool HandOverFile(const PreparedEntry& prepared);
    // Whether the user's choices keep what stands where a folder entry goes
    // (`keep`). False when a wait for earlier entries failed.
    bool KeepsFolderTarget(const PreparedEntry& prepared, bool& keep);
    // A file entry over what stands at its target, as the user's choices
    // say (with worker threads).
    bool KeepOrReplace(const PreparedEntry& prepared, const platform::PathIdentity& there);
    // Blocks until every fill handed over has finished and its verdict is
    // in the ledger; true when every entry before the current one is
    // confirmed.
    bool WaitForEarlierEntries();
    void TakeVerdicts();
    // After entry `failed` failed on this thread, or a fill failed: restores
    // the first failing entry again as the serial run does, and continues
    // the run on this thread alone. False when the run ends there; else
    // `next` is the entry after it.
    bool RestoreSeriallyFrom(std::int32_t failed, std::int32_t& next);
    // Entry `index` failed on this thread as the serial run fails it (why_
    // says why). With keepGoing the run notes it, leaves what stood at its
    // path as it was, and goes on: true. False when the run ends here.
    bool GoesOnPast(std::int32_t index);
    int EndFailed();
    int EndInterrupted();
    // The entries' times on the folders they gave, once nothing more is
    // written below them (a file made or removed in a folder changes its
    // time), on every way out of the run.
    void SetFolderTimes();
    int Entries();

    ArchiveHandle* archive_;
    const std::u16string& destination_;
    const std::int32_t count_;
    RestoreObserver* observer_;
    RunMeter meter_;
    Ledger ledger_;
    KnownFolders known_;
    RestoreFailure& why_;
    const StopRequest* stop_;
    const FillFaults* faults_;
    const RestoreChoices& choices_;
    std::unique_ptr<FillWorkers> workers_;  // none: everything on this thread
    ArchiveEntry record_;
    std::vector<FillVerdict> verdicts_;
    std::int32_t failedEntries_ = 0;  // gone past (keepGoing)
    RestoreFailure firstFailure_;
    // Folder entries and the folders they name: the ones restored, and (a
    // restore of some members) the ones not chosen, whose folders get their
    // times only where the run made them as levels of chosen entries.
    struct FolderTimes {
        std::int32_t index = 0;
        std::u16string folder;
        EntryTimes times;
        bool chosen = false;
    };
    std::vector<FolderTimes> folderTimes_;
};

int Committer::Run() {
    const int code = Entries();
    SetFolderTimes();
    return code;
}

void Committer::SetFolderTimes() {
    // Only entries the run reports stay, and only their folders get times;
    // a folder that stood there and has no entry of its own never does. A
    // time that can't be set costs nothing but the time.
    const std::int32_t reported = ledger_.NextUnconfirmed();
    for (const FolderTimes& f : folderTimes_) {
        if (f.index >= reported || (!f.chosen && !ledger_.MadeHere(f.folder))) continue;
        platform::SetFolderTimes(f.folder, f.times.creation, f.times.access, f.times.write);
    }
}

int Committer::Entries() {
    std::int32_t next = 0;
    for (;;) {
        if (next == count_) {
            if (workers_ && !WaitForEarlierEntries()) {
                if (!RestoreSeriallyFrom(count_, next)) return EndFailed();
                continue;
            }
            // A stop asked for while the last fills ran ends the run as
            // stopped, as it would have on the run thread alone (every entry
            // complete by then stays, and is reported).
            if (Stopped()) return EndInterrupted();
            break;
        }
        if (Stopped()) return EndInterrupted();
        if (!CommitEntry(next)) {
            if (!workers_) {
                if (!GoesOnPast(next)) return EndFailed();
                ++next;
                continue;
            }
            // With every earlier entry confirmed, no fill ran beside this
            // entry's steps: its failure is the serial run's own.
            if (!ledger_.OpenBefore(next)) {
                if (GoesOnPast(next)) {
                    ++next;
                    continue;
                }
                workers_.reset();
                return EndFailed();
            }
            if (!RestoreSeriallyFrom(next, next)) return EndFailed();
            continue;
        }
        const std::int32_t failedFill = ledger_.Confirm();
        if (failedFill >= 0) {
            if (!RestoreSeriallyFrom(failedFill, next)) return EndFailed();
            continue;
        }
        ++next;
    }
    if (failedEntries_ > 0) {
        why_ = firstFailure_;
        return RESTORE_ENTRY_FAILED;
    }
    why_ = RestoreFailure{};
    return RESTORE_OK;
}

bool Committer::GoesOnPast(std::int32_t index) {
    if (!choices_.keepGoing || Stopped() || why_.reason == EntryFailure::kInterrupted ||
        why_.reason == EntryFailure::kBadHandle)
        return false;
    if (why_.entryIndex < 0) why_.entryIndex = index;
    if (failedEntries_++ == 0) firstFailure_ = why_;
    ledger_.Failed(index, why_);
    // The folders it made are gone again: the next entry asks for its
    // levels anew.
    known_.Forget();
    ledger_.Confirm();
    return true;
}

bool Committer::CommitEntry(std::int32_t index) {
    // A record that can't be fetched names no entry: restoring whatever the
    // previous fetch left would report that entry twice and this one never.
    const ArchiveResult fetched = GetArchiveEntry(archive_, index, record_);
    if (fetched != ARCHIVE_OK) {
        why_ = RestoreFailure{};
        why_.entryIndex = index;
        why_.reason = EntryFailure::kFetchFailed;
        why_.extractResult = fetched;
        return false;
    }
    ledger_.Begin(index, record_.uncompressedSize);
    if (!IsChosen(choices_.entries, index)) {
        TargetPlan plan;
        const bool namesFolder = (record_.attributes & platform::kAttributeDirectory) != 0 ||
                                 (!record_.name.empty() && record_.uncompressedSize == 0 &&
                                  (record_.name.back() == u'/' || record_.name.back() == u'\\'));
        if (namesFolder && PlanEntryTarget(record_.name, destination_, plan) == EntryFailure::kNone)
            folderTimes_.push_back({index, FolderOf(plan), TimesOf(record_), false});
        ledger_.PassOver();
        return true;
    }
    if (observer_) observer_->OnEntryStarted(index, record_.name);
    PreparedEntry prepared;
    if (!PlanEntry(record_.name, destination_, archive_, index, prepared, &why_)) return false;
    if (!MakeFolderLevels(prepared, &known_, &ledger_, &why_)) return false;
    if (prepared.IsFolder()) {
        bool keep = false;
        if (!KeepsFolderTarget(prepared, keep)) return false;
        if (keep) {
            ledger_.Keep(nullptr, EntryOutcome::kKept);
            return true;
        }
        // Replacing a file, or changing a folder that stood there, can't be
        // taken back, and the check that a file is none of this run's needs
        // every earlier file's identity. A folder the run has just made, or
        // one with nothing to change, needs no wait: Info-ZIP and Explorer
        // archives hold a folder entry per folder.
        if (workers_ && FolderEntryChangesWhatStands(prepared) && !WaitForEarlierEntries()) return false;
        EntryOutcome outcome = EntryOutcome::kRestored;
        if (!RestoreFolderEntry(prepared, &ledger_, &why_, &outcome)) return false;
        ledger_.Complete(nullptr, outcome);
        // A folder that stood there takes its entry's times only when the
        // user lets the archive replace what stands; kept is untouched.
        if (outcome == EntryOutcome::kRestored || choices_.existing == ExistingPolicy::kReplace)
            folderTimes_.push_back({index, FolderOf(prepared.plan), TimesOf(prepared.found), true});
        return true;
    }
    if (!CanHoldFile(prepared, &why_)) return false;
    if (workers_) return HandOverFile(prepared);
    return RestoreFileEntry(archive_, prepared, &ledger_, FillStop{stop_, nullptr, index, nullptr, &meter_}, &why_, choices_);
}

bool Committer::KeepOrReplace(const PreparedEntry& prepared, const platform::PathIdentity& there) {
    // Whether what stands there is a file of this run's needs the identity
    // of every file still being written.
    if (ledger_.FilesFilling() > 0 && !WaitForEarlierEntries()) return false;
    if (ledger_.Claims(prepared.plan.target, there.identity)) {
        why_.reason = EntryFailure::kDuplicateName;
        return false;
    }
    // Reading a file that may hold the entry already is a worker's: a
    // restore again over a complete one is all such reads. A file found not
    // to hold it fails the check, and the run takes the entry up again as
    // the serial run does, reading it itself.
    if (choices_.skipIdentical && MayHoldEntry(prepared.found, there)) {
        FillJob job;
        job.index = prepared.index;
        job.check = true;
        job.checkPath = prepared.plan.target;
        job.checkBefore = there;
        job.checkCrc = prepared.found.crc32;
        ledger_.Checking(there.identity, prepared.plan.target);
        workers_->HandOverOrFillOne(std::move(job), prepared.found, archive_, verdicts_);
        TakeVerdicts();
        return true;
    }
    // Replacing can't be taken back: every earlier entry must be confirmed.
    const bool keeps = JudgeWhatStands(prepared.found, prepared.plan.target, there,
                                       RestoreChoices{nullptr, choices_.existing, false})
                           .verdict == Verdict::kKeep;
    if (!keeps && !WaitForEarlierEntries()) return false;
    return RestoreOverWhatStands(archive_, prepared, &ledger_, FillStop{stop_, nullptr, prepared.index, nullptr, &meter_},
                                 RestoreChoices{nullptr, choices_.existing, false}, &why_, &there);
}

bool Committer::KeepsFolderTarget(const PreparedEntry& prepared, bool& keep) {
    keep = false;
    if (choices_.existing == ExistingPolicy::kReplace) return true;
    const std::u16string folder = FolderOf(prepared.plan);
    const platform::PathIdentity there = platform::ReadPathIdentity(folder);
    // Only what stood there before the run is the user's to keep: what the
    // run made (a folder on an earlier entry's way, an earlier entry's file)
    // is the run's, and the entry goes on as it would without the policy.
    if (!there.exists || ledger_.MadeHere(folder)) return true;
    // Windows reads a link to a folder (or a junction) as a folder: only
    // its attributes tell.
    const bool realFolder =
        there.folder && (platform::ReadAttributes(folder) & platform::kAttributeReparsePoint) == 0;
    if (!realFolder) {
        // Whether the file is one of this run's needs the identity of every
        // file still being written.
        if (ledger_.FilesFilling() > 0 && !WaitForEarlierEntries()) return false;
        if (ledger_.Claims(folder, there.identity)) return true;
    }
    // A folder that stood there is kept untouched under either policy: it
    // holds the entry already, and its attributes (a customised folder's
    // read-only or system mark) are the user's.
    if (choices_.existing == ExistingPolicy::kKeep || realFolder) {
        keep = true;
        return true;
    }
    // A file or a link is replaced only when older than the entry.
    keep = JudgeWhatStands(prepared.found, folder, there, RestoreChoices{nullptr, ExistingPolicy::kNewer, false})
               .verdict == Verdict::kKeep;
    return true;
}

bool Committer::HandOverFile(const PreparedEntry& prepared) {
    if (JudgesWhatStands(choices_)) {
        const platform::PathIdentity there = platform::ReadPathIdentity(prepared.plan.target);
        if (there.exists) return KeepOrReplace(prepared, there);
    }
    FillJob job;
    switch (CreateNewFile(prepared.plan.target, job.file)) {
    case Creation::kCreated:
        break;
    case Creation::kFailed:
        return FailCreate(&why_);
    case Creation::kExists:
        if (!WaitForEarlierEntries()) return false;
        return RestoreOverWhatStands(archive_, prepared, &ledger_,
                                     FillStop{stop_, nullptr, prepared.index, nullptr, &meter_}, choices_, &why_);
    }
    ledger_.MadeFile(prepared.plan.target);
    ledger_.Filling();
    job.index = prepared.index;
    job.times = TimesOf(prepared.found);
    workers_->HandOverOrFillOne(std::move(job), prepared.found, archive_, verdicts_);
    TakeVerdicts();
    return true;
}

void Committer::TakeVerdicts() {
    for (const FillVerdict& v : verdicts_) ledger_.FillFinished(v.index, v.ok, v.identity);
    verdicts_.clear();
}

bool Committer::WaitForEarlierEntries() {
    if (workers_) {
        workers_->WaitForAllFills(archive_, verdicts_);
        TakeVerdicts();
    }
    return ledger_.Confirm() < 0;
}

bool Committer::RestoreSeriallyFrom(std::int32_t failed, std::int32_t& next) {
    // Every fill ends first: an earlier entry's may fail too, and the first
    // failure in catalogue order is the one that counts.
    workers_->GiveUpAfter(failed);
    WaitForEarlierEntries();
    const std::int32_t failedFill = ledger_.Confirm();
    const std::int32_t first = failedFill >= 0 ? std::min(failedFill, failed) : failed;
    workers_->Stop();
    workers_.reset();
    // Back to the serial run's state just before `first`: what later
    // entries made goes, and the folder levels are asked for again.
    if (faults_) faults_->BeforeUndo();
    ledger_.UndoAfter(first);
    known_.Forget();
    if (first >= count_) return true;
    if (Stopped()) return false;
    if (!CommitEntry(first) && !GoesOnPast(first)) return false;
    ledger_.Confirm();
    next = first + 1;
    return true;
}

int Committer::EndFailed() {
    if (Stopped()) return EndInterrupted();
    return RESTORE_ENTRY_FAILED;
}

int Committer::EndInterrupted() {
    if (workers_) {
        workers_->GiveUpAfter(-1);
        WaitForEarlierEntries();
        workers_->Stop();
        workers_.reset();
    }
    ledger_.Confirm();
    // Only complete entries stay, and only those the run reports: the
    // first unconfirmed entry keeps its folders, as the serial run's would.
    const std::int32_t done = ledger_.NextUnconfirmed();
    if (faults_) faults_->BeforeUndo();
    // A closing console or an ending session gives the program seconds:
    // files held by another program are waited for briefly, and one still
    // held then stays (restoring again replaces it).
    ledger_.UndoAfter(done, kStopUndoWaitMs);
    why_ = RestoreFailure{};
    why_.entryIndex = ledger_.Confirmed();
    why_.reason = EntryFailure::kInterrupted;
    if (done < count_ && GetArchiveEntry(archive_, done, record_) == ARCHIVE_OK) why_.entryName = record_.name;
    return RESTORE_ENTRY_FAILED;
}

bool MakeDestinationChain(const std::u16string& destinationFolder) {
    for (const std::u16string& level : DestinationChain(destinationFolder)) {
        if (!platform::PathExists(level) && !platform::MakeFolder(level)) return false;
    }
    return true;
}

}  // namespace

// Only text up to the last separator becomes a folder, which is why
// destinations end in one. Levels within the root ("\\server\", a share, a
// drive) neither need nor can be made.
std::vector<std::u16string> DestinationChain(const std::u16string& destinationFolder) {
    const char16_t sep = platform::kPathSeparator;
    std::vector<std::u16string> levels;
    const std::size_t root = platform::PathRootLength(destinationFolder);
    for (std::size_t p = destinationFolder.find(sep, root); p != std::u16string::npos;
         p = destinationFolder.find(sep, p + 1)) {
        levels.push_back(destinationFolder.substr(0, p + 1));
    }
    return levels;
}

void ArchiveCloser::operator()(ArchiveHandle* handle) const {
    std::unique_ptr<ArchiveHandle> owned(handle);
    CloseArchive(owned);
}

bool RestoreEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
                  RestoreFailure* failure) {
    PreparedEntry prepared;
    if (!PlanEntry(entryName, destinationFolder, handle, -1, prepared, failure)) return false;
    if (!MakeFolderLevels(prepared, nullptr, nullptr, failure)) return false;
    if (prepared.IsFolder()) return RestoreFolderEntry(prepared, nullptr, failure);
    if (!CanHoldFile(prepared, failure)) return false;
    return RestoreFileEntry(handle, prepared, nullptr, FillStop{}, failure);
}

int RestoreArchive(const std::u16string& destinationFolder, const std::u16string& archivePath,
                   RestoreObserver* observer, RestoreFailure* failure, const StopRequest* stop,
                   const RestoreChoices& choices) {
    RunOptions options;
    options.producers = DefaultProducerCount();
    options.stop = stop;
    options.choices = choices;
    return RestoreArchiveWithOptions(destinationFolder, archivePath, observer, failure, options);
}

RestoreProgress StartProgress(ArchiveHandle* archive, std::int32_t count, RestoreObserver* observer,
                              const std::vector<bool>* chosen) {
    RestoreProgress progress;
    for (std::int32_t i = 0; i < count; ++i) {
        if (IsChosen(chosen, i)) ++progress.entriesTotal;
    }
    if (observer && observer->WantsByteTotal()) {
        ArchiveEntry sizes;
        for (std::int32_t i = 0; i < count; ++i) {
            if (IsChosen(chosen, i) && GetArchiveEntry(archive, i, sizes) == ARCHIVE_OK)
                progress.bytesTotal += sizes.uncompressedSize;
        }
    }
    if (observer) observer->OnRestoreProgress(progress);
    return progress;
}

int DefaultProducerCount() {
    const int cores = platform::UsableCores();
    if (cores <= 1) return 0;
    return std::min(cores, kMaxProducers);
}

int RestoreArchiveWithProducers(const std::u16string& destinationFolder, const std::u16string& archivePath,
                                RestoreObserver* observer, RestoreFailure* failure, int producers) {
    RunOptions options;
    options.producers = producers;
    return RestoreArchiveWithOptions(destinationFolder, archivePath, observer, failure, options);
}

int RestoreArchiveWithOptions(const std::u16string& destinationFolder, const std::u16string& archivePath,
                              RestoreObserver* observer, RestoreFailure* failure, const RunOptions& options) {
    RestoreFailure scratch;
    RestoreFailure& why = failure ? *failure : scratch;
    why = RestoreFailure{};

    if (!platform::PathExists(archivePath)) return RESTORE_NO_ARCHIVE;
    if (!MakeDestinationChain(destinationFolder)) return RESTORE_NO_ARCHIVE;

    // The reader takes the current folder at open time as the base for
    // folder entries; the destination is current only for that moment.
    // Folder entries are made below that base, so a destination that can't
    // be entered must not leave some other folder as the base: the run
    // stops as for a destination level that could not be made. Workers
    // read the archive through handles of their own, opened here too, so
    // that everything depending on the current folder happens on this
    // thread, within this moment.
    // A destination longer than Windows lets a current folder be (where
    // long paths are not enabled system-wide) is handed to the reader as its
    // base directly; the current folder is left alone then.
    const bool longDestination = destinationFolder.size() >= platform::kLongFormFrom;
    std::u16string saved;
    if (!platform::GetCurrentFolder(saved)) saved.clear();
    if (!longDestination && !platform::SetCurrentFolder(destinationFolder)) return RESTORE_NO_ARCHIVE;
    OwnedArchive archive((longDestination ? OpenArchiveIn(archivePath, destinationFolder) : OpenArchive(archivePath))
                             .release());
    ArchiveResult readerResult = lastReaderResult;
    ArchiveEntry record;
    const bool counted = archive && GetArchiveEntry(archive.get(), -1, record) == ARCHIVE_OK;
    if (archive) readerResult = lastReaderResult;
    const std::int32_t count = counted ? record.index : 0;
    // Even a single entry runs beside the run thread: a large one is then
    // inflated on one core and written on another (WriteBehindSink).
    std::vector<OwnedArchive> workerHandles;
    for (int i = 0; count > 0 && i < options.producers; ++i) {
        OwnedArchive handle(OpenArchiveAlongside(*archive, archivePath).release());
        if (!handle) break;
        workerHandles.push_back(std::move(handle));
    }
    if (!longDestination && !saved.empty()) platform::SetCurrentFolder(saved);
    if (!archive) {
        why.openResult = readerResult;
        return RESTORE_OPEN_FAILED;
    }
    if (!counted) {
        why.openResult = readerResult;
        return RESTORE_COUNT_FAILED;
    }

    RestoreProgress progress = StartProgress(archive.get(), count, observer, options.choices.entries);
    std::unique_ptr<FillWorkers> workers;
    if (!workerHandles.empty()) {
        workers = std::make_unique<FillWorkers>(std::move(workerHandles), options.stop, options.faults);
        if (!workers->Start()) workers.reset();
    }
    Committer committer(archive.get(), destinationFolder, count, observer, progress, why, options.stop,
                        options.faults, options.choices, std::move(workers), options.progressInterval);
    return committer.Run();
}

unsigned RestoreThreadProc(void* param) {
    auto* job = static_cast<RestoreJob*>(param);
    if (job == nullptr) return 0;
    platform::SetJapaneseLocale();
    if (job->observer) job->observer->OnRestoreStarted();
    job->resultCode = RestoreArchive(job->destinationFolder, job->archivePath, job->observer, &job->failure, job->stop,
                                     job->choices);
    if (job->observer) job->observer->OnRestoreFinished(job->resultCode);
    return 0;
}
