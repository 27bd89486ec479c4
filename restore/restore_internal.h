#pragma once
// The restore run with its degree of parallelism chosen by the caller, for
// the tests (so that the parallel path runs on a one-core machine too) and
// for measuring; and what the run's stages share. RestoreArchive uses
// DefaultProducerCount().

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "restore/restore.h"

inline constexpr int kMaxProducers = 4;

// Failures a test injects where the run's machinery can fail: a worker
// thread's write of an entry's data (a full disk, a refused write), which
// the serial run might not have met.
class FillFaults {
public:
    virtual ~FillFaults() = default;
    // Whether a worker's next write of entry `index` fails. Called on the
    // worker threads.
    virtual bool WorkerWriteFails(std::int32_t index) const = 0;
    // Whether every large fill gets a writer thread, even beside other
    // fills (the run gives one only to a fill that would leave a core idle):
    // so that a test meets that thread whatever the threads' timing.
    virtual bool WriteBehindEveryLargeFill() const { return false; }
    // Called on the run thread just before the run takes back what entries
    // after a failing or unfinished one made: another program may have put
    // its own file at one of their names by then.
    virtual void BeforeUndo() const {}
};

struct RunOptions {
    int producers = 0;                    // worker threads; 0 restores every entry on the run thread
    const StopRequest* stop = nullptr;    // the user's request to stop
    const FillFaults* faults = nullptr;   // tests only
    RestoreChoices choices;
    // How often, at most, the observer hears how far the data has come
    // (tests: 0, at every buffer).
    std::chrono::milliseconds progressInterval{250};
};

// The first progress report of a run over `count` entries, told to
// `observer`: the byte total costs one walk over the catalogue, made only
// for an observer that shows it.
// Only chosen entries count (`chosen` null: all).
RestoreProgress StartProgress(ArchiveHandle* archive, std::int32_t count, RestoreObserver* observer,
                              const std::vector<bool>* chosen = nullptr);

// Whether entry `index` is one of `chosen` (null: every entry is).
inline bool IsChosen(const std::vector<bool>* chosen, std::int32_t index) {
    return !chosen || (index >= 0 && static_cast<std::size_t>(index) < chosen->size() && (*chosen)[index]);
}

// Worker threads for this machine: none with one usable core (or when the
// count is unknown), else one per usable core up to kMaxProducers.
int DefaultProducerCount();

// The folders a run makes, when missing, before it opens the archive: every
// level of the destination (which ends in the separator) below its root,
// outermost first. A share or a drive root is never among them.
std::vector<std::u16string> DestinationChain(const std::u16string& destinationFolder);

// RestoreArchive as `options` say.
int RestoreArchiveWithOptions(const std::u16string& destinationFolder, const std::u16string& archivePath,
                              RestoreObserver* observer, RestoreFailure* failure, const RunOptions& options);

// RestoreArchive with `producers` worker threads.
int RestoreArchiveWithProducers(const std::u16string& destinationFolder, const std::u16string& archivePath,
                                RestoreObserver* observer, RestoreFailure* failure, int producers);

// VerifyArchive with `readers` threads reading entries at once; 0 reads
// every entry on the calling thread.
int VerifyArchiveWithReaders(const std::u16string& archivePath, RestoreObserver* observer, RestoreFailure* failure,
                             int readers, const StopRequest* stop = nullptr);

// CheckArchive with `readers` threads reading entries at once; 0 reads
// every entry on the calling thread.
int CheckArchiveWithReaders(const std::u16string& archivePath, const std::vector<bool>* chosen,
                            RestoreObserver* observer, CheckReport& report, RestoreFailure* failure, int readers,
                            const StopRequest* stop = nullptr);

// Closes an archive handle on every way out.
struct ArchiveCloser {
    void operator()(ArchiveHandle* handle) const;
};
using OwnedArchive = std::unique_ptr<ArchiveHandle, ArchiveCloser>;

// Opens the archive and reads its count as a restore does, with
// `baseFolder` as the reader's base (empty: the current folder): RESTORE_OK
// with `archive` and `count`, else the code, the reader's status in `why`.
int OpenAndCount(const std::u16string& archivePath, const std::u16string& baseFolder, OwnedArchive& archive,
                 std::int32_t& count, RestoreFailure& why);
