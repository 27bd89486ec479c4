#pragma once
// One large entry on two cores: the thread that reads and inflates the
// entry hands each piece to a writer thread of the file's own and goes on
// with the next piece while that one is written. The pieces travel in a
// ring of kBuffers buffers lent to the reader (nothing is copied on the
// way), so memory stays at kBuffers * kBufferSize per file.
//
// The writer also takes the CRC-32 of what it writes, so the bytes the
// extraction checks are the bytes that went to the file, and the reading
// thread is left with the inflating alone. It is woken once kWakeBatch
// pieces wait rather than for each: a wake-up costs the reading thread
// about as much as the CRC of a piece.
//
// Blocking: Write and LendBuffer, called by the extraction on the reading
// thread, wait until a buffer is free when every one is queued for the
// writer; FinishWrites and WrittenCrc wait for the writer to finish.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "restore/entry_restore.h"
#include "zip/archive.h"

class WriteBehindSink : public EntrySink {
public:
    static constexpr std::size_t kBuffers = 8;
    static constexpr std::size_t kBufferSize = 256 << 10;
    static constexpr std::size_t kWakeBatch = kBuffers / 2;

    WriteBehindSink(platform::File& file, const FillStop& stop);
    WriteBehindSink(const WriteBehindSink&) = delete;
    WriteBehindSink& operator=(const WriteBehindSink&) = delete;
    ~WriteBehindSink() override;

    // Starts the writer thread; without one (none could be started) every
    // piece is written on the calling thread.
    void Start();

    std::uint8_t* LendBuffer(std::size_t& size) override;
    bool Write(const std::uint8_t* data, std::size_t size) override;
    // Read once a Write has failed: the writer, which set it, writes no more.
    ExtractFailure WriteFailure() const override {
        return file_.OutOfRoom() ? ExtractFailure::kDiskFull : ExtractFailure::kWriteFailed;
    }
    // The CRC-32 is taken by the writer, of each piece as it is written.
    bool TakesCrc() const override { return true; }
    std::uint32_t WrittenCrc() override;

    // Waits until every piece handed over is written; false when a write
    // failed. After a stop, what is still queued is dropped, not written.
    bool FinishWrites();

    bool stopped = false;  // given up on request, not for the data's sake

private:
    struct Piece {
        std::size_t buffer;
        std::size_t size;
    };
    void WriterLoop();
    // Waits until a buffer is free; its index, or kNone when the writer
    // failed.
    std::size_t TakeFreeBuffer(std::unique_lock<std::mutex>& lock);
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    platform::File& file_;
    const FillStop& stop_;
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
    std::thread writer_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::size_t> free_;
    std::deque<Piece> queued_;
    std::size_t lent_ = kNone;
    bool writerWaits_ = false;
    std::uint32_t crc_ = 0;  // of the pieces written; the writer's alone while it runs
    bool closing_ = false;
    bool failed_ = false;
};
