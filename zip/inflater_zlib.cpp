// zlib's raw inflate behind the decoder interface: the decoder of a build
// without ISA-L, and the one every build's tests hold ISA-L's to.

#include <zlib.h>

#include "zip/inflater.h"

namespace {

class ZlibInflater final : public Inflater {
public:
    ~ZlibInflater() override {
        if (ready_) inflateEnd(&z_);
    }

    bool Reset() override {
        // A reset keeps the state and window allocated: on an archive of
        // many small entries, allocating them anew costs more than the
        // inflating.
        if (ready_ && inflateReset(&z_) != Z_OK) {
            inflateEnd(&z_);
            ready_ = false;
        }
        if (!ready_) {
            z_ = z_stream{};  // zalloc, zfree and opaque null: zlib's own allocator
            ready_ = inflateInit2(&z_, -15) == Z_OK;
        }
        return ready_;
    }

    InflateStatus Inflate(const std::uint8_t*& in, std::uint32_t& inSize, std::uint8_t*& out, std::uint32_t& room,
                          bool finish) override {
        if (!ready_) return InflateStatus::kCorrupt;
        z_.next_in = const_cast<Bytef*>(in);  // zlib never writes through it
        z_.avail_in = inSize;
        z_.next_out = out;
        z_.avail_out = room;
        const int rc = inflate(&z_, finish ? Z_FINISH : Z_NO_FLUSH);
        in = z_.next_in;
        inSize = z_.avail_in;
        out = z_.next_out;
        room = z_.avail_out;
        switch (rc) {
        case Z_OK:
        // No progress was possible (or, with Z_FINISH, the end was not
        // reached): for want of input or of room, which the caller sees.
        case Z_BUF_ERROR:
            return InflateStatus::kOk;
        case Z_STREAM_END:
            return InflateStatus::kEnd;
        default:  // Z_DATA_ERROR, Z_MEM_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
            return InflateStatus::kCorrupt;
        }
    }

private:
    z_stream z_{};
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<Inflater> MakeZlibInflater() { return std::make_unique<ZlibInflater>(); }

std::string ZlibLibraryVersion() { return ZLIB_VERSION; }
