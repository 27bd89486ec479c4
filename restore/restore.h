#pragma once
// The restore engine: restores every entry of one archive below one
// destination folder and yields one result code. It never shows or builds
// user-visible text; its owner learns what happens through RestoreObserver.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "zip/archive.h"

// Result codes of a run.
inline constexpr int RESTORE_OK = 0;
inline constexpr int RESTORE_OPEN_FAILED = -3;     // the archive did not open
inline constexpr int RESTORE_COUNT_FAILED = -4;    // the entry count could not be read
inline constexpr int RESTORE_ENTRY_FAILED = -5;    // an entry failed; the run stopped there
inline constexpr int RESTORE_NO_ARCHIVE = -6;      // no archive file, or a destination level not made

// Why RestoreEntry refused or failed one entry.
enum class EntryFailure {
    kNone,
    kFetchFailed,      // the entry record could not be read from the catalogue
    kEmptyName,        // the entry has no name
    kUnsafeName,       // the name would leave the destination (.., :, leading separator)
    kPathTooLong,      // the target path does not fit the platform's limit (platform::PathFits)
    kNameTooLong,      // a name in the target path is longer than the file system takes
    kNotFound,         // the name search did not find the entry
    kNameMismatch,     // an earlier entry differs from this one only in ASCII case
    kFolderFailed,     // a folder level could not be made (a file is in the way)
    kTargetInTheWay,   // what stands at the target could not be removed (a folder)
    kBadHandle,        // no reader handle
    kExtractFailed,    // the extraction failed; see extractResult and extractFailure
    kNotReadable,      // the restored target cannot be read back
    kDuplicateName,    // an earlier entry has this name, or a name that leads to the same file
    kInterrupted,      // the run was asked to stop; entryIndex entries are restored (or checked)
    kFileInUse,        // another program held the file at the target for longer than the run waits
    kAccessDenied,     // the user's rights don't allow replacing or removing what stands at the target
};

struct RestoreFailure {
    std::int32_t entryIndex = -1;
    std::u16string entryName;
    EntryFailure reason = EntryFailure::kNone;
    ArchiveResult extractResult = ARCHIVE_OK;
    ExtractFailure extractFailure = ExtractFailure::kNone;
    ArchiveResult openResult = ARCHIVE_OK;  // lastReaderResult after a failed open
};

// What a run does with what already stands at an entry's path.
enum class ExistingPolicy {
    kReplace,  // replace it (files, links, pipes; a folder in a file's way fails the entry)
    kKeep,     // never touch it: the entry is kept as it stands
    kNewer,    // replace only what was last written before the entry's time; equal or newer is kept
};

// The user's choices for one run, beyond the archive and the destination.
struct RestoreChoices {
    // The entries to restore, by catalogue index (see ChooseMembers); null:
    // every entry. The others are passed over as if absent.
    const std::vector<bool>* entries = nullptr;
    ExistingPolicy existing = ExistingPolicy::kReplace;
    // A plain file that already holds the entry (same size, same write time,
    // and a CRC-32 read from it equal to the archive's) is left untouched,
    // whatever `existing` says: restoring an archive again after a stopped
    // or killed run finishes only what is missing or cut short.
    bool skipIdentical = false;
    // An entry that fails (damaged data, a refused name, a level in the
    // way, a file that can't be written) is left as it stood and the run
    // goes on with the next; it ends with RESTORE_ENTRY_FAILED naming the
    // first, and the observer hears each (OnEntryFailed). A stop still
    // stops. Off: the run stops at the first failure.
    bool keepGoing = false;
};

// How an entry ended once confirmed.
enum class EntryOutcome {
    kRestored,   // written (made new, or replacing what stood there)
    kKept,       // what stood there stays (the policy said so, or a folder stood there already)
    kIdentical,  // the file there already holds the entry (RestoreChoices::skipIdentical)
};

struct RestoreProgress {
    std::int32_t entriesDone = 0;
    std::int32_t entriesTotal = 0;
    std::uint64_t bytesDone = 0;    // uncompressed bytes of the entries done
    std::uint64_t bytesTotal = 0;   // uncompressed bytes of all entries
};

// The owner of a run: told synchronously, on the worker thread, when the run
// starts and when it has finished (the worker waits until each call
// returns). Progress calls come between the two.
class RestoreObserver {
public:
    virtual ~RestoreObserver() = default;
    virtual void OnRestoreStarted() = 0;
    virtual void OnRestoreFinished(int resultCode) = 0;
    virtual void OnRestoreProgress(const RestoreProgress& /*progress*/) {}
    // The run takes up entry `index` (its name as stored). With worker
    // threads this runs ahead of the confirmed entries by the fills still
    // outstanding; it says what the run is working on, not what is done.
    virtual void OnEntryStarted(std::int32_t /*index*/, const std::u16string& /*name*/) {}
    // Entry `index` is confirmed, with its outcome: in catalogue order,
    // chosen entries only.
    virtual void OnEntryDone(std::int32_t /*index*/, EntryOutcome /*outcome*/) {}
    // An entry the run went past (RestoreChoices::keepGoing): what stood at
    // its path is as it was. In catalogue order with OnEntryDone.
    virtual void OnEntryFailed(const RestoreFailure& /*failure*/) {}
    // Knowing bytesTotal costs one extra walk over the catalogue before the
    // first entry; observers that show no byte total leave it at 0.
    virtual bool WantsByteTotal() const { return false; }
};

// A request to end a run early, from any thread (a console's Ctrl-C, a
// session that ends). The run stops at its next buffer, takes back every
// unfinished entry and fails with EntryFailure::kInterrupted; the entries
// before it stay, complete.
class StopRequest {
public:
    void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
    bool Requested() const noexcept { return requested_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> requested_{false};
};

// Restores one entry below destinationFolder (absolute, ending in the path
// separator). True when restored. `failure`, when given, says why not.
bool RestoreEntry(const std::u16string& entryName, const std::u16string& destinationFolder,
                  ArchiveHandle* handle, RestoreFailure* failure = nullptr);

// Restores the whole archive. Returns one of the RESTORE_* codes.
int RestoreArchive(const std::u16string& destinationFolder, const std::u16string& archivePath,
                   RestoreObserver* observer = nullptr, RestoreFailure* failure = nullptr,
                   const StopRequest* stop = nullptr, const RestoreChoices& choices = {});

// Checks a backup without restoring it: reads every entry's data through
// the same extraction a restore uses and writes nothing. RESTORE_NO_ARCHIVE
// when there is no archive file, RESTORE_OPEN_FAILED / RESTORE_COUNT_FAILED
// as for a restore, RESTORE_ENTRY_FAILED with `failure` naming the first
// damaged entry in catalogue order (reason kFetchFailed or kExtractFailed),
// else RESTORE_OK. Progress goes to `observer` on the calling thread.
int VerifyArchive(const std::u16string& archivePath, RestoreObserver* observer = nullptr,
                  RestoreFailure* failure = nullptr, const StopRequest* stop = nullptr);

// What a check of a whole backup found.
struct CheckReport {
    std::vector<RestoreFailure> damaged;  // every damaged entry, in catalogue order
    std::int32_t checked = 0;             // entries read to their end, intact or damaged
    bool interrupted = false;             // the check was asked to stop before the end
};

// Checks every chosen entry of a backup (`chosen` as in RestoreChoices),
// going on past damaged ones. RESTORE_OK when every entry is intact,
// RESTORE_ENTRY_FAILED when any is damaged or the check was stopped
// (`report` says which), else RESTORE_NO_ARCHIVE, RESTORE_OPEN_FAILED or
// RESTORE_COUNT_FAILED with `failure` as for a restore.
int CheckArchive(const std::u16string& archivePath, const std::vector<bool>* chosen, RestoreObserver* observer,
                 CheckReport& report, RestoreFailure* failure = nullptr, const StopRequest* stop = nullptr);

// What a worker thread runs on: its own copies of the two paths, so that
// the owner may change its fields while the run lasts.
struct RestoreJob {
    std::u16string destinationFolder;
    std::u16string archivePath;
    RestoreObserver* observer = nullptr;
    const StopRequest* stop = nullptr;  // may end the run early
    RestoreChoices choices;
    RestoreFailure failure;  // filled when the run fails
    int resultCode = 0;
};

// Worker thread procedure: sets the Japanese locale, tells the observer
// "started", runs RestoreArchive on the job's copies, tells it
// "finished(code)" and returns 0. `param` is a RestoreJob* that outlives
// the call.
unsigned RestoreThreadProc(void* param);
