// One large entry on two cores: reading and inflating here, writing on a
// thread of the file's own.

#include "restore/write_behind.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "restore/restore_internal.h"

WriteBehindSink::WriteBehindSink(platform::File& file, const FillStop& stop) : file_(file), stop_(stop) {}

WriteBehindSink::~WriteBehindSink() { FinishWrites(); }

void WriteBehindSink::Start() {
    for (std::size_t i = 0; i < kBuffers; ++i) {
        buffers_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize));
        free_.push_back(i);
    }
    try {
        writer_ = std::thread([this] { WriterLoop(); });
    } catch (const std::system_error&) {
        buffers_.clear();
        free_.clear();
    }
}

void WriteBehindSink::WriterLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (queued_.empty()) {
            // Until a batch is queued, the reader waits for a buffer, or
            // the file is finished.
            writerWaits_ = true;
            changed_.wait(lock, [&] {
                return queued_.size() >= kWakeBatch || (!queued_.empty() && free_.empty()) || closing_;
            });
            writerWaits_ = false;
            if (queued_.empty()) return;
        }
        const Piece piece = queued_.front();
        queued_.pop_front();
        const bool skip = failed_ || stopped;
        lock.unlock();
        const std::uint8_t* data = buffers_[piece.buffer].get();
        if (!skip) crc_ = UpdateCrc32(crc_, data, piece.size);
        const bool ok = skip || file_.Write(data, piece.size);
        lock.lock();
        if (!ok) failed_ = true;
        free_.push_back(piece.buffer);
        changed_.notify_all();
    }
}

std::size_t WriteBehindSink::TakeFreeBuffer(std::unique_lock<std::mutex>& lock) {
    // A writer waiting for a batch must hear that the reader waits too.
    if (free_.empty()) changed_.notify_all();
    changed_.wait(lock, [&] { return !free_.empty() || failed_; });
    if (failed_) return kNone;
    const std::size_t index = free_.back();
    free_.pop_back();
    return index;
}

std::uint8_t* WriteBehindSink::LendBuffer(std::size_t& size) {
    if (!writer_.joinable()) return nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    if (lent_ == kNone) lent_ = TakeFreeBuffer(lock);
    if (lent_ == kNone) return nullptr;
    size = kBufferSize;
    return buffers_[lent_].get();
}

bool WriteBehindSink::Write(const std::uint8_t* data, std::size_t size) {
    if (stop_.Requested()) {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped = true;
        return false;
    }
    if (stop_.faults && stop_.faults->WorkerWriteFails(stop_.index)) return false;
    // Counted as handed over: the writer is at most a few pieces behind.
    stop_.Count(size);
    if (!writer_.joinable()) {
        crc_ = UpdateCrc32(crc_, data, size);
        return file_.Write(data, size);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (failed_) return false;
    if (lent_ != kNone && data == buffers_[lent_].get()) {
        queued_.push_back({lent_, size});
        lent_ = kNone;
    } else {
        // A piece in the reader's own buffer: copied into free ones.
        while (size > 0) {
            const std::size_t index = TakeFreeBuffer(lock);
            if (index == kNone) return false;
            const std::size_t n = std::min(size, kBufferSize);
            std::memcpy(buffers_[index].get(), data, n);
            queued_.push_back({index, n});
            data += n;
            size -= n;
        }
    }
    if (writerWaits_ && queued_.size() >= kWakeBatch) changed_.notify_all();
    return true;
}

bool WriteBehindSink::FinishWrites() {
    if (writer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
    return !failed_;
}

std::uint32_t WriteBehindSink::WrittenCrc() {
    FinishWrites();
    return crc_;
}
