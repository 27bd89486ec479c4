// Checking a backup without restoring it: every entry's data is read
// through the same extraction a restore uses (local header, inflate, sizes,
// CRC-32, encryption), into nothing.
//
// Nothing is written, so the order of effects that binds a restore does not
// bind this: readers take entries in catalogue order from one counter, each
// on its own archive handle, and the verdict that counts is the failure at
// the lowest index. Every entry below it is read to the end by someone, so
// the entry reported is the one a serial check reports, whichever thread
// found its fault first.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "restore/restore.h"
#include "restore/restore_internal.h"

namespace {

// Swallows an entry's data, and gives up as soon as a failure at a lower
// index has made this entry's verdict irrelevant, or the user stops.
class DiscardingSink : public EntrySink {
public:
    DiscardingSink(const std::atomic<std::int32_t>& firstBad, std::int32_t index, const StopRequest* stop)
        : firstBad_(firstBad), index_(index), stop_(stop) {}
    bool Write(const std::uint8_t*, std::size_t) override {
        return firstBad_.load(std::memory_order_relaxed) > index_ && !(stop_ && stop_->Requested());
    }

private:
    const std::atomic<std::int32_t>& firstBad_;
    std::int32_t index_;
    const StopRequest* stop_;
};

class Verification {
public:
    // `everyEntry`: every chosen entry is read, whatever is damaged before
    // it, and every damaged one is kept; else reading ends below the first
    // damaged one.
    Verification(std::int32_t count, const StopRequest* stop, const std::vector<bool>* chosen = nullptr,
                 bool everyEntry = false)
        : count_(count), firstBad_(count), stop_(stop), chosen_(chosen), everyEntry_(everyEntry) {}

    // Reads entries until none is left below the first failure found. An
    // observer is given only to a reader on the observer's own thread.
    void Read(ArchiveHandle* handle, RestoreObserver* observer = nullptr, RestoreProgress* progress = nullptr) {
        ArchiveEntry record;
        for (;;) {
            if (stop_ && stop_->Requested()) break;
            const std::int32_t index = next_.fetch_add(1);
            if (index >= count_ || index > firstBad_.load()) break;
            if (!IsChosen(chosen_, index)) continue;
            const ArchiveResult fetched = GetArchiveEntry(handle, index, record);
            if (fetched != ARCHIVE_OK) {
                RestoreFailure why;
                why.entryIndex = index;
                why.reason = EntryFailure::kFetchFailed;
                why.extractResult = fetched;
                Record(index, why);
                continue;
            }
            if ((record.attributes & platform::kAttributeDirectory) == 0) {
                DiscardingSink sink(firstBad_, index, stop_);
                ExtractFailure extractWhy = ExtractFailure::kNone;
                const ArchiveResult result = ExtractEntryToSink(handle, index, sink, &extractWhy);
                if (stop_ && stop_->Requested()) break;
                if (result != ARCHIVE_OK) {
                    RestoreFailure why;
                    why.entryIndex = index;
                    why.entryName = record.name;
                    why.reason = EntryFailure::kExtractFailed;
                    why.extractResult = result;
                    why.extractFailure = extractWhy;
                    Record(index, why);
                    continue;
                }
            }
            entriesDone_.fetch_add(1);
            bytesDone_.fetch_add(record.uncompressedSize);
            if (observer) Report(observer, *progress);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ++readersDone_;
        changed_.notify_all();
    }

    // Waits until `readers` readers have ended, telling the observer on
    // this thread how far they have come now and then.
    void AwaitReaders(int readers, RestoreObserver* observer, RestoreProgress& progress) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (readersDone_ < readers) {
            changed_.wait_for(lock, std::chrono::milliseconds(100));
            if (observer && readersDone_ < readers) {
                lock.unlock();
                Report(observer, progress);
                lock.lock();
            }
        }
    }

    void Report(RestoreObserver* observer, RestoreProgress& progress) const {
        progress.entriesDone = entriesDone_.load();
        progress.bytesDone = bytesDone_.load();
        observer->OnRestoreProgress(progress);
    }

    // Every damaged entry in catalogue order, and the entries read to the
    // end, intact or not.
    std::vector<RestoreFailure> Damaged() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::sort(damaged_.begin(), damaged_.end(),
                  [](const RestoreFailure& a, const RestoreFailure& b) { return a.entryIndex < b.entryIndex; });
        return damaged_;
    }
    std::int32_t Checked() const { return entriesDone_.load() + damagedCount_.load(); }

    // A damaged entry, or an interrupted check (reported as the entries
    // checked so far).
    bool Failed(RestoreFailure& failure) const {
        if (stop_ && stop_->Requested()) {
            failure = RestoreFailure{};
            failure.reason = EntryFailure::kInterrupted;
            failure.entryIndex = entriesDone_.load();
            return true;
        }
        if (firstBad_.load() >= count_) return false;
        failure = failure_;
        return true;
    }

private:
    void Record(std::int32_t index, const RestoreFailure& why) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (everyEntry_) {
            damaged_.push_back(why);
            damagedCount_.fetch_add(1);
            return;
        }
        if (index < firstBad_.load()) {
            firstBad_.store(index);
            failure_ = why;
        }
    }

    const std::int32_t count_;
    std::atomic<std::int32_t> next_{0};
    std::atomic<std::int32_t> firstBad_;
    std::atomic<std::int32_t> entriesDone_{0};
    std::atomic<std::uint64_t> bytesDone_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    int readersDone_ = 0;
    RestoreFailure failure_;
    const StopRequest* stop_;
    const std::vector<bool>* chosen_;
    const bool everyEntry_;
    std::vector<RestoreFailure> damaged_;
    std::atomic<std::int32_t> damagedCount_{0};
};

// Reads with this thread and up to `readers` more, each on a handle of its
// own; with one usable core, or a single entry, this thread reads alone.
void ReadAll(Verification& verification, ArchiveHandle* archive, const std::u16string& archivePath,
             std::int32_t count, int readers, RestoreObserver* observer, RestoreProgress& progress) {
    std::vector<OwnedArchive> handles;
    for (int i = 0; count > 1 && i < readers; ++i) {
        OwnedArchive handle(OpenArchiveAlongside(*archive, archivePath).release());
        if (!handle) break;
        handles.push_back(std::move(handle));
    }
    std::vector<std::thread> threads;
    for (auto& handle : handles) {
        try {
            threads.emplace_back([&verification, h = handle.get()] { verification.Read(h); });
        } catch (const std::system_error&) {
            break;
        }
    }
    if (threads.empty()) {
        verification.Read(archive, observer, &progress);
    } else {
        verification.AwaitReaders(static_cast<int>(threads.size()), observer, progress);
        for (std::thread& t : threads) t.join();
    }
}

}  // namespace

int VerifyArchive(const std::u16string& archivePath, RestoreObserver* observer, RestoreFailure* failure,
                  const StopRequest* stop) {
    return VerifyArchiveWithReaders(archivePath, observer, failure, DefaultProducerCount(), stop);
}

int VerifyArchiveWithReaders(const std::u16string& archivePath, RestoreObserver* observer, RestoreFailure* failure,
                             int readers, const StopRequest* stop) {
    RestoreFailure scratch;
    RestoreFailure& why = failure ? *failure : scratch;
    why = RestoreFailure{};
    OwnedArchive archive;
    std::int32_t count = 0;
    if (const int opened = OpenAndCount(archivePath, {}, archive, count, why); opened != RESTORE_OK) return opened;
    RestoreProgress progress = StartProgress(archive.get(), count, observer);
    Verification verification(count, stop);
    ReadAll(verification, archive.get(), archivePath, count, readers, observer, progress);
    if (verification.Failed(why)) return RESTORE_ENTRY_FAILED;
    if (observer) verification.Report(observer, progress);
    return RESTORE_OK;
}

int CheckArchive(const std::u16string& archivePath, const std::vector<bool>* chosen, RestoreObserver* observer,
                 CheckReport& report, RestoreFailure* failure, const StopRequest* stop) {
    return CheckArchiveWithReaders(archivePath, chosen, observer, report, failure, DefaultProducerCount(), stop);
}

int CheckArchiveWithReaders(const std::u16string& archivePath, const std::vector<bool>* chosen,
                            RestoreObserver* observer, CheckReport& report, RestoreFailure* failure, int readers,
                            const StopRequest* stop) {
    RestoreFailure scratch;
    RestoreFailure& why = failure ? *failure : scratch;
    why = RestoreFailure{};
    report = CheckReport{};
    OwnedArchive archive;
    std::int32_t count = 0;
    if (const int opened = OpenAndCount(archivePath, {}, archive, count, why); opened != RESTORE_OK) return opened;
    RestoreProgress progress = StartProgress(archive.get(), count, observer, chosen);
    Verification verification(count, stop, chosen, true);
    ReadAll(verification, archive.get(), archivePath, count, readers, observer, progress);
    report.damaged = verification.Damaged();
    report.checked = verification.Checked();
    report.interrupted = stop && stop->Requested();
    if (observer) verification.Report(observer, progress);
    return report.damaged.empty() && !report.interrupted ? RESTORE_OK : RESTORE_ENTRY_FAILED;
}

int OpenAndCount(const std::u16string& archivePath, const std::u16string& baseFolder, OwnedArchive& archive,
                 std::int32_t& count, RestoreFailure& why) {
    if (!platform::PathExists(archivePath)) return RESTORE_NO_ARCHIVE;
    archive.reset((baseFolder.empty() ? OpenArchive(archivePath) : OpenArchiveIn(archivePath, baseFolder)).release());
    if (!archive) {
        why.openResult = lastReaderResult;
        return RESTORE_OPEN_FAILED;
    }
    ArchiveEntry record;
    if (GetArchiveEntry(archive.get(), -1, record) != ARCHIVE_OK) {
        why.openResult = lastReaderResult;
        return RESTORE_COUNT_FAILED;
    }
    count = record.index;
    return RESTORE_OK;
}
