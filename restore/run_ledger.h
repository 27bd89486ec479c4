#pragma once
// The committer's ledger: every entry the run has started, in catalogue
// order, until it is confirmed. An entry is confirmed once it and every
// entry before it are complete on disk; only then is it counted and told
// to the observer. Until then the ledger keeps what the entry made (files,
// folders) with the identity each had when the run made it, so that a run
// which ends early can take back everything after the last entry it
// reports, and nothing else: whatever another program put at one of those
// names meanwhile is another file and stays. It also keeps the identity of
// every file restored, so that two entries can't end in one file.
//
// Used by the run thread alone.

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/file.h"
#include "platform/fs.h"
#include "restore/restore.h"

class RunMeter;

class Ledger {
public:
    // `meter`, when given, tells the observer the figures after each
    // confirmation (else the ledger tells them itself).
    Ledger(RestoreObserver* observer, RestoreProgress& progress, RunMeter* meter = nullptr)
        : observer_(observer), progress_(progress), meter_(meter) {}
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // The run starts entry `index` (always the one after the last started).
    void Begin(std::int32_t index, std::uint64_t bytes);
    // The current entry is not one the user chose: complete, never counted
    // or told.
    void PassOver();
    // The current entry made a folder at `path` (its identity is read now).
    void MadeFolder(const std::u16string& path);
    // The current entry made its file at `path`; its identity comes with
    // Complete or FillFinished.
    void MadeFile(const std::u16string& path);
    // The current entry is complete: its file (if any) has this identity.
    void Complete(const platform::FileIdentity* identity, EntryOutcome outcome = EntryOutcome::kRestored);
    // The current entry is complete by leaving what stands at its path
    // (`standing`, when a file, at `path`): it is that entry's now, and no
    // later entry may end at that path, but it is not the run's to take
    // back, nor one of the run's files: another name of the same file (a
    // hard link) holds an entry of its own.
    void Keep(const platform::FileIdentity* standing, EntryOutcome outcome, const std::u16string& path = {});
    // The current entry's file is being written by another thread.
    void Filling();
    // The file that stands at the current entry's path (`standing`) is
    // being read by another thread, to tell whether it holds the entry
    // already: it is the entry's now (no later entry may end in it), and
    // FillFinished says whether it was identical (ok) or must be replaced.
    void Checking(const platform::FileIdentity& standing, const std::u16string& path);
    // Files of this run still being written by other threads (checks of
    // files that stood there are not among them).
    std::size_t FilesFilling() const { return filesFilling_; }
    // A file being written by another thread is complete (`ok`), or failed
    // and is gone: its filler removed it, and the ledger won't again.
    void FillFinished(std::int32_t index, bool ok, const platform::FileIdentity& identity);

    // Entry `index` (the last started, or one not started when its record
    // could not be read) failed on the run thread and the run goes on past
    // it: the folders it made go again (while empty and still the run's),
    // and once confirmed the observer hears `why`.
    void Failed(std::int32_t index, const RestoreFailure& why, unsigned busyWaitMs = platform::kBusyWaitMs);

    // Confirms, oldest first, every entry that is complete with all those
    // before it, telling the observer. -1, or the first entry whose file
    // failed.
    std::int32_t Confirm();
    // The number of chosen entries confirmed so far.
    std::int32_t Confirmed() const { return confirmed_; }
    // The first entry, by catalogue index, not yet confirmed.
    std::int32_t NextUnconfirmed() const { return open_.empty() ? nextIndex_ : open_.front().index; }
    // Whether an entry before `index` is started and not confirmed.
    bool OpenBefore(std::int32_t index) const { return !open_.empty() && open_.front().index < index; }

    // Whether this run made the folder at `path`.
    bool MadeHere(const std::u16string& path) const { return madeFolders_.count(platform::NameKey(path)) != 0; }

    // A file of this run, by identity.
    bool IsRestored(const platform::FileIdentity& identity) const { return restored_.count(identity) != 0; }
    // Whether an earlier entry of this run kept (or found identical) what
    // stands at `path`.
    bool KeptHere(const std::u16string& path) const { return keptPaths_.count(platform::NameKey(path)) != 0; }
    // Whether what stands at `path`, of this identity, is an earlier entry's
    // of this run: a file the run restored, or one an entry kept there.
    bool Claims(const std::u16string& path, const platform::FileIdentity& identity) const {
        return IsRestored(identity) || KeptHere(path);
    }

    // Removes, newest first, what the entries after `index` made (a folder
    // only when it is empty), each only while it is still what the run made,
    // and forgets their files. Files held by another program are waited for
    // `busyWaitMs` in all; what is still held then stays. What entry
    // `index` made stays but for its file, which goes if it is complete:
    // unconfirmed, it is never reported. The entry itself is forgotten
    // unless confirmed, so that the run can start it again.
    void UndoAfter(std::int32_t index, unsigned busyWaitMs = platform::kBusyWaitMs);

private:
    enum class State { kWorking, kFilling, kComplete, kFailed };
    struct MadePath {
        std::u16string path;
        bool folder;
        bool known = false;  // a folder's identity could be read when it was made
        platform::FileIdentity identity;
    };
    struct Open {
        std::int32_t index = 0;
        std::uint64_t bytes = 0;
        State state = State::kWorking;
        std::vector<MadePath> made;
        bool hasFile = false;  // complete: its file has `identity`
        bool claimed = false;  // kept: what stood there has `identity`, at `keptPath`
        std::u16string keptPath;
        bool counted = true;   // one of the entries the user chose
        bool checking = false; // another thread reads what stands there (Checking)
        bool failed = false;   // gone past (Failed): `failure` says why
        RestoreFailure failure;
        EntryOutcome outcome = EntryOutcome::kRestored;
        platform::FileIdentity identity;
    };
    Open* Find(std::int32_t index);

    // Removes entry's file if the ledger knows it complete.
    void RemoveFileOf(Open& entry, unsigned busyWaitMs);

    RestoreObserver* observer_;
    RestoreProgress& progress_;
    RunMeter* meter_;
    std::deque<Open> open_;  // entries started and not confirmed, in order
    std::int32_t confirmed_ = 0;
    std::int32_t nextIndex_ = 0;  // after the last entry confirmed
    std::size_t filesFilling_ = 0;
    std::unordered_set<platform::FileIdentity, platform::FileIdentityHash> restored_;
    // Paths as the file system compares them (platform::NameKey).
    std::unordered_set<std::u16string> madeFolders_;
    std::unordered_set<std::u16string> keptPaths_;
};
