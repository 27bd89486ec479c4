// The worker threads of a restore run: fills of files the run thread made.

#include "restore/fill_workers.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace {

// Waits on `wake` until `ready` holds, `lock` held around every check (see
// platform::WakeUp for why the run does not use condition variables). The
// run thread's waits give `meter` its turn each time they wake, the lock
// let go: a worker wakes them when a report is due.
template <typename Ready>
void WaitUntil(platform::WakeUp& wake, std::unique_lock<std::mutex>& lock, Ready ready, RunMeter* meter = nullptr) {
    while (!ready()) {
        const std::uint32_t seen = wake.Epoch();
        lock.unlock();
        wake.WaitPast(seen);
        if (meter) meter->Tick();
        lock.lock();
    }
}

}  // namespace

std::uint64_t FillCost(std::uint64_t compressed, std::uint64_t uncompressed) {
    constexpr std::uint64_t kDecodingPerInputByte = 10;
    if (compressed >= uncompressed - uncompressed / 32) return uncompressed;
    return uncompressed + compressed * kDecodingPerInputByte;
}

FillWorkers::FillWorkers(std::vector<OwnedArchive> handles, const StopRequest* stop, const FillFaults* faults)
    : handles_(std::move(handles)), stop_(stop), faults_(faults) {}

FillWorkers::~FillWorkers() { Stop(); }

bool FillWorkers::Start() {
    for (auto& handle : handles_) {
        try {
            threads_.emplace_back([this, h = handle.get()] { Work(h); });
        } catch (const std::system_error&) {
            break;
        }
    }
    return !threads_.empty();
}

FillStop FillWorkers::StopFor(std::int32_t index) const {
    return FillStop{stop_, &keepThrough_, index, faults_, meter_};
}

void FillWorkers::SetMeter(RunMeter* meter) {
    std::lock_guard<std::mutex> lock(mutex_);
    meter_ = meter;
    if (meter_) meter_->SetWake(&fillFinished_);
}

bool FillWorkers::FillWaiting(std::unique_lock<std::mutex>& lock, ArchiveHandle* handle, Pick pick) {
    if (waiting_.empty()) return false;
    auto taken = waiting_.begin();
    if (pick == Pick::kFirstForAFreeThread) {
        const auto costliest = std::max_element(waiting_.begin(), waiting_.end(), [](const FillJob& a, const FillJob& b) {
            return a.cost < b.cost;
        });
        if (costliest->cost >= kLargeFill) taken = costliest;
    }
    FillJob job = std::move(*taken);
    waiting_.erase(taken);
    // A writer thread of the file's own pays only while a core would idle:
    // with other fills running or waiting, every core already has work.
    const bool writeBehind = !job.check && job.size >= kWriteBehindFrom &&
                             ((waiting_.empty() && unfinished_ == 1) || (faults_ && faults_->WriteBehindEveryLargeFill()));
    lock.unlock();
    FillVerdict verdict;
    verdict.index = job.index;
    try {
        if (job.check) {
            const FillStop stop = StopFor(job.index);
            verdict.ok = FileHolds(job.checkPath, job.checkBefore, job.checkCrc, &stop);
        } else {
            const FillResult result = FillNewFile(handle, job.index, job.times, job.file, StopFor(job.index),
                                                  writeBehind);
            verdict.ok = result.ok;
            verdict.identity = result.identity;
            if (result.ok) job.file.Keep();
        }
    } catch (const std::exception&) {
        // Out of memory on this thread: the run thread fills the entry
        // again itself.
        verdict.ok = false;
    }
    job.file = NewFile();  // a failed fill's file goes before the verdict is seen
    lock.lock();
    finished_.push_back(verdict);
    --unfinished_;
    return true;
}

void FillWorkers::Work(ArchiveHandle* handle) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++sleepingWorkers_;
        WaitUntil(jobWaiting_, lock, [&] { return stopping_ || !waiting_.empty(); });
        --sleepingWorkers_;
        if (stopping_) return;
        FillWaiting(lock, handle, Pick::kFirstForAFreeThread);
        if (runThreadWaits_) {
            lock.unlock();
            fillFinished_.Wake();
            lock.lock();
        }
    }
}

void FillWorkers::HandOverOrFillOne(FillJob job, const ArchiveEntry& entry, ArchiveHandle* own,
                                    std::vector<FillVerdict>& finished) {
    const std::uint64_t size = entry.uncompressedSize;
    job.size = size;
    job.cost = FillCost(entry.compressedSize, size);
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_.push_back(std::move(job));
    ++unfinished_;
    const bool wake = sleepingWorkers_ > 0 && (size >= kLargeFill || waiting_.size() >= kWakeBatch);
    if (unfinished_ > kMaxUnfinished && !FillWaiting(lock, own, Pick::kOldest)) {
        // Every unfinished fill is running on a worker.
        runThreadWaits_ = true;
        WaitUntil(fillFinished_, lock, [&] { return unfinished_ <= kMaxUnfinished; }, meter_);
        runThreadWaits_ = false;
    }
    finished.insert(finished.end(), finished_.begin(), finished_.end());
    finished_.clear();
    lock.unlock();
    // Woken once the lock is let go, so that the woken thread need not wait
    // for it at once.
    if (wake) jobWaiting_.Wake();
}

void FillWorkers::WaitForAllFills(ArchiveHandle* own, std::vector<FillVerdict>& finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (sleepingWorkers_ > 0 && !waiting_.empty()) {
        lock.unlock();
        jobWaiting_.Wake();
        lock.lock();
    }
    while (FillWaiting(lock, own, Pick::kFirstForAFreeThread)) {
    }
    runThreadWaits_ = true;
    WaitUntil(fillFinished_, lock, [&] { return unfinished_ == 0; }, meter_);
    runThreadWaits_ = false;
    finished.insert(finished.end(), finished_.begin(), finished_.end());
    finished_.clear();
}

void FillWorkers::Stop() {
    std::deque<FillJob> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    jobWaiting_.Wake();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    if (stop_ && stop_->Requested()) {
        for (FillJob& job : dropped) job.file.Hurry();
    }
    // `dropped` goes here, and with it the files nobody filled.
}
