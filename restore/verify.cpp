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
    Verification(std::int32_t count, const StopRequest* stop) : count_(count), firstBad_(count), stop_(stop) {}

    // Reads entries until none is left below the first failure found. An
    // observer is given only to a reader on the observer's own thread.
    void Read(ArchiveHandle* handle, RestoreObserver* observer = nullptr, RestoreProgress* progress = nullptr) {
        ArchiveEntry record;
        for (;;) {
            if (stop_ && stop_->Requested()) break;
            const std::int32_t index = next_.fetch_add(1);
            if (index >= count_ || index > firstBad_.load()) break;
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
};

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

    if (!platform::PathExists(archivePath)) return RESTORE_NO_ARCHIVE;
    OwnedArchive archive(OpenArchive(archivePath).release());
    if (!archive) {
        why.openResult = lastReaderResult;
        return RESTORE_OPEN_FAILED;
    }
    ArchiveEntry record;
    if (GetArchiveEntry(archive.get(), -1, record) != ARCHIVE_OK) {
        why.openResult = lastReaderResult;
        return RESTORE_COUNT_FAILED;
    }
    const std::int32_t count = record.index;

    RestoreProgress progress = StartProgress(archive.get(), count, observer);

    Verification verification(count, stop);
    // Readers beyond this thread's own handle; with one usable core, or a
    // single entry, this thread reads alone.
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
        verification.Read(archive.get(), observer, &progress);
    } else {
        verification.AwaitReaders(static_cast<int>(threads.size()), observer, progress);
        for (std::thread& t : threads) t.join();
    }

    if (verification.Failed(why)) return RESTORE_ENTRY_FAILED;
    if (observer) verification.Report(observer, progress);
    return RESTORE_OK;
}
