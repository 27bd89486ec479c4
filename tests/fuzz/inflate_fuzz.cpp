// Feeds the same bytes, as raw deflate data, to ISA-L's decoder and to
// zlib's, and holds the one to the other twice over:
//
// - Decoder by decoder, with the input handed over in pieces and the output
//   taken in rooms of sizes drawn from the input's first bytes. Each piece
//   and each room ends at an unmapped page, and both are overwritten before
//   the next call: a decoder that reads or writes past what it was given,
//   or looks back into an earlier call's input or output, crashes or comes
//   out wrong. Where zlib decodes the stream to its end, ISA-L must give
//   the same bytes and end too; where zlib fills the wanted size, ISA-L's
//   bytes must be the same as far as they go (ISA-L may stop at damage it
//   sees ahead).
// - Through the entry stream, as extraction reads it, in a one-entry
//   archive whose sizes and CRC-32 are those of zlib's output: where zlib's
//   stream delivers the entry, ISA-L's must deliver the same bytes; where
//   zlib's rejects it, ISA-L's must too.
//
// Input: 4 bytes seeding the sizes, 4 bytes for the wanted size (up to
// 1 MiB), then the deflate data.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/zip_writer.h"
#include "zip/archive.h"
#include "zip/inflater.h"
#include "zip/reader.h"

namespace {

constexpr std::size_t kMaxPiece = 64 * 1024;
constexpr std::size_t kMaxRoom = 256 * 1024;
constexpr std::uint32_t kMaxWanted = 1 << 20;

// A buffer whose last byte lies right before an unmapped page.
class GuardedArea {
public:
    explicit GuardedArea(std::size_t size) {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        size_ = (size + page - 1) / page * page;
        base_ = static_cast<std::uint8_t*>(
            ::mmap(nullptr, size_ + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) std::abort();
        ::mprotect(base_ + size_, page, PROT_NONE);
    }
    GuardedArea(const GuardedArea&) = delete;
    GuardedArea& operator=(const GuardedArea&) = delete;
    // `n` bytes ending at the guard page.
    std::uint8_t* Tail(std::size_t n) { return base_ + size_ - n; }

private:
    std::uint8_t* base_ = nullptr;
    std::size_t size_ = 0;
};

class Sizes {
public:
    explicit Sizes(std::uint32_t seed) : x_(seed | 1) {}
    // 1 to `max`, small ones as often as large ones (the exponent is drawn
    // first).
    std::size_t Next(std::size_t max) {
        x_ ^= x_ << 13;
        x_ ^= x_ >> 17;
        x_ ^= x_ << 5;
        const unsigned bits = x_ % 19;
        const std::size_t n = 1 + (x_ >> 5) % (std::size_t{1} << bits);
        return std::min(n, max);
    }

private:
    std::uint32_t x_;
};

enum class End { kEnded, kFilled, kShort, kCorrupt };

struct Run {
    std::vector<std::uint8_t> bytes;
    End end = End::kShort;
};

Run Decode(InflaterKind kind, const std::uint8_t* data, std::size_t size, std::uint32_t seed, std::uint32_t wanted) {
    static GuardedArea input(kMaxPiece);
    static GuardedArea output(kMaxRoom);
    Run run;
    auto decoder = MakeInflater(kind);
    if (!decoder || !decoder->Reset()) std::abort();
    Sizes sizes(seed);
    std::size_t fed = 0;
    const std::uint8_t* in = nullptr;
    std::uint32_t inSize = 0;
    while (run.bytes.size() < wanted) {
        const auto room = static_cast<std::uint32_t>(sizes.Next(std::min<std::size_t>(kMaxRoom, wanted - run.bytes.size())));
        std::uint8_t* start = output.Tail(room);
        std::memset(start, 0xA5, room);
        std::uint8_t* out = start;
        std::uint32_t left = room;
        const std::uint32_t inBefore = inSize;
        const InflateStatus status = decoder->Inflate(in, inSize, out, left, false);
        if (out != start + (room - left)) {
            std::fprintf(stderr, "kind %d status %d: pointer moved %td, count says %u (room %u)\n", static_cast<int>(kind), static_cast<int>(status), out - start, room - left, room);
            std::abort();  // the pointer and the count disagree
        }
        run.bytes.insert(run.bytes.end(), start, start + (room - left));
        if (status == InflateStatus::kEnd) {
            run.end = End::kEnded;
            return run;
        }
        if (status == InflateStatus::kCorrupt) {
            run.end = End::kCorrupt;
            return run;
        }
        if (left > 0 && left == room && inSize == inBefore) {
            if (inSize > 0) {
                run.end = End::kCorrupt;  // stuck with input at hand
                return run;
            }
            if (fed == size) {
                run.end = End::kShort;
                return run;
            }
            // The next piece, where the last one was: nothing of it may be
            // looked at again.
            const std::size_t n = std::min(sizes.Next(kMaxPiece), size - fed);
            std::uint8_t* piece = input.Tail(n);
            std::memset(input.Tail(kMaxPiece), 0x5A, kMaxPiece);
            std::memcpy(piece, data + fed, n);
            fed += n;
            in = piece;
            inSize = static_cast<std::uint32_t>(n);
        }
    }
    run.end = End::kFilled;
    return run;
}

std::string ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    return path + "/sorvane-inflate-fuzz-" + std::to_string(::getpid()) + ".zip";
}

struct Read {
    std::vector<std::uint8_t> bytes;
    bool delivered = false;
};

Read ReadEntry(ArchiveCatalog& catalog, InflaterKind kind, std::uint32_t bufferSize) {
    Read r;
    catalog.inflaterKind = kind;
    if (!MoveCursorTo(&catalog, 0) || OpenEntryStream(&catalog) != CATALOG_OK) return r;
    std::vector<std::uint8_t> buffer(bufferSize);
    int status = 0;
    for (;;) {
        const std::int32_t got = ReadEntryStream(&catalog, buffer.data(), bufferSize);
        if (got < 0) status = got;
        if (got <= 0) break;
        r.bytes.insert(r.bytes.end(), buffer.begin(), buffer.begin() + got);
    }
    const EntryStreamFacts f = GetEntryStreamFacts(&catalog);
    r.delivered = status == 0 && !f.corruptData && !f.shortData && f.complete && f.crcMatches;
    CloseEntryStream(&catalog);
    return r;
}

// Neither decoder is built with coverage: these counters stand in for it,
// one per pair of endings and size of output, so that an input reaching a
// new combination counts as new.
__attribute__((section("__libfuzzer_extra_counters"))) std::uint8_t gOutcomes[2][16][32];

unsigned BitLength(std::size_t n) {
    unsigned bits = 0;
    while (n > 0 && bits < 31) {
        n >>= 1;
        ++bits;
    }
    return bits;
}

void NoteOutcome(const Run& z, const Run& i) {
    const unsigned ends = static_cast<unsigned>(z.end) * 4 + static_cast<unsigned>(i.end);
    const std::size_t apart = z.bytes.size() > i.bytes.size() ? z.bytes.size() - i.bytes.size()
                                                             : i.bytes.size() - z.bytes.size();
    ++gOutcomes[0][ends][BitLength(z.bytes.size())];
    ++gOutcomes[1][ends][BitLength(apart)];
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const std::uint32_t seed = Le32(data);
    const std::uint32_t wanted = 1 + Le32(data + 4) % kMaxWanted;
    const std::uint8_t* stream = data + 8;
    const std::size_t streamSize = size - 8;

    const Run z = Decode(InflaterKind::kZlib, stream, streamSize, seed, wanted);
    const Run i = Decode(InflaterKind::kIsal, stream, streamSize, seed, wanted);
    NoteOutcome(z, i);
    const bool prefix = i.bytes.size() <= z.bytes.size() && std::equal(i.bytes.begin(), i.bytes.end(), z.bytes.begin());
    if (z.end == End::kEnded && (i.end != End::kEnded || i.bytes != z.bytes)) {
        std::fprintf(stderr, "zlib decodes the stream to its end (%zu bytes), ISA-L does not (%zu bytes, end %d)\n",
                     z.bytes.size(), i.bytes.size(), static_cast<int>(i.end));
        std::abort();
    }
    if (z.end == End::kFilled && !prefix) {
        std::fprintf(stderr, "zlib fills the wanted %u bytes, ISA-L's differ (%zu bytes, end %d)\n", wanted,
                     i.bytes.size(), static_cast<int>(i.end));
        std::abort();
    }

    // The entry as a writer would have recorded zlib's output: delivered by
    // zlib's stream wherever zlib's decoder got that far without an error.
    testzip::ZipBuilder zip;
    auto& e = zip.Add("x", testzip::Bytes(z.bytes.begin(), z.bytes.end()), 8);
    e.rawData = testzip::Bytes(stream, stream + streamSize);
    static const std::string path = ScratchFile();
    {
        const testzip::Bytes archive = zip.Build();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return 0;
        std::fwrite(archive.data(), 1, archive.size(), f);
        std::fclose(f);
    }
    auto handle = OpenArchive(std::u16string(path.begin(), path.end()));
    if (!handle) std::abort();  // the writer's own archive
    ArchiveCatalog& catalog = *handle->reader->catalog;
    const auto bufferSize = static_cast<std::uint32_t>(Sizes(seed ^ 0x9E3779B9u).Next(kMaxRoom));
    const Read zr = ReadEntry(catalog, InflaterKind::kZlib, bufferSize);
    const Read ir = ReadEntry(catalog, InflaterKind::kIsal, bufferSize);
    if (zr.delivered != ir.delivered || (zr.delivered && zr.bytes != ir.bytes)) {
        std::fprintf(stderr, "entry: zlib's stream %s it (%zu bytes), ISA-L's %s it (%zu bytes), reads of %u\n",
                     zr.delivered ? "delivers" : "rejects", zr.bytes.size(), ir.delivered ? "delivers" : "rejects",
                     ir.bytes.size(), bufferSize);
        std::abort();
    }
    CloseArchive(handle);
    return 0;
}
