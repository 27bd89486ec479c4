// Intel ISA-L's inflate behind the decoder interface, and the decoder of a
// build configured with it (SORVANE_ISAL on, the default).
//
// isal_inflate reports errors by its result (negative: an invalid block
// header, symbol or distance) and the end of the data by its block state;
// a result of ISAL_DECOMP_OK says only that it stopped because the input
// ran out or the output filled, as zlib's Z_OK does.

#include <isa-l.h>

#include <algorithm>
#include <cstddef>

#include "zip/inflater.h"

namespace {

class IsalInflater final : public Inflater {
public:
    IsalInflater() : state_(std::make_unique<inflate_state>()) { isal_inflate_init(state_.get()); }

    bool Reset() override {
        isal_inflate_reset(state_.get());
        state_->crc_flag = ISAL_DEFLATE;  // raw deflate; the CRC-32 is the reader's
        state_->hist_bits = 0;            // the full 32 KiB window
        return true;
    }

    InflateStatus Inflate(const std::uint8_t*& in, std::uint32_t& inSize, std::uint8_t*& out, std::uint32_t& room,
                          bool) override {
        inflate_state& s = *state_;
        s.next_in = const_cast<std::uint8_t*>(in);  // only read
        s.avail_in = inSize;
        s.next_out = out;
        s.avail_out = room;
        const int rc = isal_inflate(&s);
        // After an error the pointers and the counts need not agree (the
        // output pointer has been seen 274 bytes behind its count): the
        // smaller of the two is taken, so no byte is claimed that may not
        // have been written, and the caller's count can't run past its room.
        const auto consumed = static_cast<std::uint32_t>(
            std::min<std::uint64_t>({static_cast<std::uint64_t>(s.next_in - in), inSize - std::min(inSize, s.avail_in)}));
        const auto produced = static_cast<std::uint32_t>(
            std::min<std::uint64_t>({static_cast<std::uint64_t>(s.next_out - out), room - std::min(room, s.avail_out)}));
        in += consumed;
        inSize -= consumed;
        out += produced;
        room -= produced;
        // (total_out is 32-bit and wraps past 4 GiB. The decoder decodes on
        // rightly across the wrap, a 4.7 GiB text stream came out with its
        // CRC-32, and nothing here reads it.)

        // Negative results are the invalid block, symbol and lookback
        // errors (the wrapper and checksum ones need a gzip or zlib
        // wrapper, which raw deflate has not); a dictionary request can't
        // come without a zlib header either.
        if (rc < 0 || rc == ISAL_NEED_DICT) return InflateStatus::kCorrupt;
        if (s.block_state == ISAL_BLOCK_FINISH) return InflateStatus::kEnd;
        return InflateStatus::kOk;
    }

private:
    std::unique_ptr<inflate_state> state_;  // some 90 KiB, with its own window
};

}  // namespace

std::unique_ptr<Inflater> MakeInflater(InflaterKind kind) {
    if (kind == InflaterKind::kIsal) return std::make_unique<IsalInflater>();
    return MakeZlibInflater();
}

InflaterKind DefaultInflaterKind() { return InflaterKind::kIsal; }

InflaterLibrary DefaultInflaterLibrary() {
    return {"ISA-L", std::to_string(ISAL_MAJOR_VERSION) + "." + std::to_string(ISAL_MINOR_VERSION) + "." +
                         std::to_string(ISAL_PATCH_VERSION)};
}
