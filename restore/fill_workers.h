#pragma once
// The worker threads of a restore run. The run thread creates each entry's
// file at its target, in catalogue order, and hands the file over; a worker
// reads the entry from the archive through a handle of its own, writes it,
// stamps and closes the file, and leaves a verdict for the run thread,
// which confirms entries in order (see Ledger). A worker's file stands at
// its real name from the moment the run thread creates it, and may be read
// there before it is complete; the run counts and reports an entry only once
// it has confirmed it, and takes back what it has not confirmed when it ends
// early.
//
// How far ahead the run thread may go is bounded by the number of fills
// not yet finished; at the bound it does the oldest waiting fill itself.
// Every call that may wait for a worker says so in its name.
//
// A thread free for a fill takes the most costly large one waiting, else
// the oldest: a large entry taken last runs alone while the other core has
// nothing left to do, so the long ones go first and the short ones fill
// the gaps at the end.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wake.h"
#include "restore/entry_restore.h"
#include "restore/restore_internal.h"
#include "restore/run_meter.h"

// One file to fill: entry `index`, created by the run thread. Or, with
// `check`, a file that stood at the entry's path with the entry's size and
// time, to be read and its CRC-32 compared (RestoreChoices::skipIdentical):
// the verdict is ok when it holds the entry.
struct FillJob {
    std::int32_t index = -1;
    std::uint64_t size = 0;  // the entry's uncompressed bytes
    std::uint64_t cost = 0;  // FillCost
    EntryTimes times;
    NewFile file;
    bool check = false;
    std::u16string checkPath;
    platform::PathIdentity checkBefore;  // what stood there when the run looked
    std::uint32_t checkCrc = 0;
};

// Roughly what filling an entry costs, in the time of copying a byte:
// every byte is copied, checked and written, and each byte of deflated
// input costs its decoding on top, about ten times that. Input barely
// smaller than the output is stored or held in stored blocks, and costs a
// copy.
std::uint64_t FillCost(std::uint64_t compressed, std::uint64_t uncompressed);

// How a fill ended. A failed fill's file is gone.
struct FillVerdict {
    std::int32_t index = -1;
    bool ok = false;
    platform::FileIdentity identity;
};

class FillWorkers {
public:
    // Fills not yet finished (waiting or running) before the run thread
    // stops creating files and fills one itself.
    static constexpr std::size_t kMaxUnfinished = 64;
    // Sleeping workers are woken per this many waiting fills, or at once
    // for a large one: a wake-up costs both threads a switch.
    static constexpr std::size_t kWakeBatch = 8;
    static constexpr std::uint64_t kLargeFill = 1 << 20;
    // From this size, when no other fill runs or waits, a worker writes the
    // file on a second thread while it inflates (WriteBehindSink): one
    // large entry then uses two cores. Beside other fills every core has
    // work already, and the extra thread would only cost switches.
    static constexpr std::uint64_t kWriteBehindFrom = 16 << 20;

    FillWorkers(std::vector<OwnedArchive> handles, const StopRequest* stop, const FillFaults* faults);
    FillWorkers(const FillWorkers&) = delete;
    FillWorkers& operator=(const FillWorkers&) = delete;
    ~FillWorkers();

    // Starts one thread per handle. False when none could be started.
    bool Start();

    // The run's meter, told of the bytes fills handle; the run thread's
    // waits here report to it as they wake. Set before the first fill.
    void SetMeter(RunMeter* meter);

    // Hands over the fill of `entry`'s file. With kMaxUnfinished fills
    // unfinished, this thread first fills the oldest waiting one itself
    // through `own`, or waits until one finishes. The verdicts of the
    // fills finished since the last call are added to `finished`.
    void HandOverOrFillOne(FillJob job, const ArchiveEntry& entry, ArchiveHandle* own,
                           std::vector<FillVerdict>& finished);

    // Waits until every fill handed over has finished, filling the waiting
    // ones on this thread; their verdicts are added to `finished`.
    void WaitForAllFills(ArchiveHandle* own, std::vector<FillVerdict>& finished);

    // Fills of entries after `index` give up between two buffers (their
    // files are removed); the run no longer needs them.
    void GiveUpAfter(std::int32_t index) { keepThrough_.store(index, std::memory_order_relaxed); }

    // Ends the threads. Fills still waiting are dropped, their files
    // removed; running ones end first.
    void Stop();

private:
    void Work(ArchiveHandle* handle);
    // Takes a waiting fill (the oldest, or the one a free thread takes
    // first) and does it on this thread, the lock released meanwhile.
    // False when none was waiting.
    enum class Pick { kOldest, kFirstForAFreeThread };
    bool FillWaiting(std::unique_lock<std::mutex>& lock, ArchiveHandle* handle, Pick pick);
    FillStop StopFor(std::int32_t index) const;

    std::vector<OwnedArchive> handles_;
    const StopRequest* stop_;
    const FillFaults* faults_;
    RunMeter* meter_ = nullptr;
    std::atomic<std::int32_t> keepThrough_{INT32_MAX};
    std::vector<std::thread> threads_;

    std::mutex mutex_;
    std::deque<FillJob> waiting_;       // handed over, not yet taken, in the order handed over
    std::size_t unfinished_ = 0;        // waiting or running
    std::vector<FillVerdict> finished_; // not yet taken by the run thread
    bool stopping_ = false;
    int sleepingWorkers_ = 0;
    bool runThreadWaits_ = false;
    platform::WakeUp jobWaiting_;       // workers: until a fill waits, or the pool stops
    platform::WakeUp fillFinished_;     // run thread: until a fill has finished
};
