// ISA-L's inflate held to zlib's, through the entry stream as extraction
// reads it: every archive of the corpora and thousands of generated deflate
// streams (each block type, every distance up to 32 KiB, empty blocks,
// every truncation and every flipped bit of small streams) are read with
// each decoder at several buffer sizes. Where zlib's stream delivers the
// entry, ISA-L's must deliver the same bytes with the same facts; where
// zlib's rejects it, ISA-L's must reject it too. How the two differ on
// rejected data (which fact, how many bytes came out first) is counted and
// printed.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "tests/zip/zip_test_util.h"

namespace fs = std::filesystem;
using testsupport::TempFolder;
using testzip::Bytes;

namespace {

// --- Streams made bit by bit -------------------------------------------------

// Deflate's bit order: values go in from the least significant bit, Huffman
// codes from their most significant one.
class BitWriter {
public:
    void Bits(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
    }
    void Code(std::uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
    }
    void AlignToByte() {
        while (used_ != 0) Bit(0);
    }
    Bytes Finish() {
        AlignToByte();
        return bytes_;
    }

private:
    void Bit(std::uint32_t b) {
        if (used_ == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<std::uint8_t>(b << used_);
        used_ = (used_ + 1) % 8;
    }
    Bytes bytes_;
    int used_ = 0;
};

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                             33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A block of the fixed Huffman codes, symbol by symbol, with the output it
// stands for kept beside it (a distance past the start leaves it as is).
class FixedBlock {
public:
    FixedBlock(BitWriter& w, Bytes& output, bool final) : w_(w), out_(output) {
        w_.Bits(final ? 1 : 0, 1);
        w_.Bits(1, 2);  // fixed codes
    }
    void Symbol(int symbol) {
        if (symbol < 144) w_.Code(0x30 + symbol, 8);
        else if (symbol < 256) w_.Code(0x190 + (symbol - 144), 9);
        else if (symbol < 280) w_.Code(symbol - 256, 7);
        else w_.Code(0xC0 + (symbol - 280), 8);
    }
    void Literal(std::uint8_t b) {
        Symbol(b);
        out_.push_back(b);
    }
    void Match(int length, int distance) {
        int lc = 28;
        while (kLengthBase[lc] > length) --lc;
        Symbol(257 + lc);
        w_.Bits(length - kLengthBase[lc], kLengthExtra[lc]);
        DistanceCode(distance);
        if (static_cast<std::size_t>(distance) <= out_.size())
            for (int i = 0; i < length; ++i) out_.push_back(out_[out_.size() - distance]);
    }
    void DistanceCode(int distance) {
        int dc = 29;
        while (kDistanceBase[dc] > distance) --dc;
        w_.Code(dc, 5);
        w_.Bits(distance - kDistanceBase[dc], kDistanceExtra[dc]);
    }
    void End() { Symbol(256); }

private:
    BitWriter& w_;
    Bytes& out_;
};

Bytes Scrambled(std::size_t size, std::uint32_t seed) {
    Bytes data(size);
    for (auto& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return data;
}

// Text-like data: words from a small vocabulary, so that every kind of
// block has matches near and far.
Bytes Words(std::size_t size, std::uint32_t seed) {
    static const char* const kWords[] = {"restore ", "backup ",  "archive ", "folder ", "entry ",  "data ",
                                         "file ",    "time ",    "name ",    "path ",   "stream ", "window\n",
                                         "復元 ",    "データ "};
    Bytes data;
    while (data.size() < size) {
        seed = seed * 1103515245u + 12345u;
        const char* w = kWords[(seed >> 16) % 14];
        data.insert(data.end(), w, w + std::strlen(w));
    }
    data.resize(size);
    return data;
}

struct Generated {
    std::string label;
    Bytes stream;   // the entry data as stored
    Bytes content;  // what the entry says it holds (its sizes and CRC-32)
};

// zlib's deflate with a strategy and, every `flushEvery` input bytes, a
// flush (which leaves empty stored or fixed blocks) or a change of level
// (which mixes stored and compressed blocks).
Bytes ZlibDeflate(const Bytes& data, int level, int strategy, std::size_t flushEvery = 0, int flush = Z_NO_FLUSH,
                  bool alternateLevels = false) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64 + data.size() / 8);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    std::size_t at = 0;
    int piece = 0;
    while (at < data.size()) {
        const std::size_t n = flushEvery ? std::min(flushEvery, data.size() - at) : data.size() - at;
        z.next_in = const_cast<Bytef*>(data.data() + at);
        z.avail_in = static_cast<uInt>(n);
        at += n;
        deflate(&z, at == data.size() ? Z_FINISH : flush);
        if (alternateLevels && at < data.size()) deflateParams(&z, (++piece % 2) ? 0 : 9, strategy);
    }
    if (data.empty()) deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<Generated> ValidStreams() {
    std::vector<Generated> g;
    const Bytes text = Words(200000, 7);
    const Bytes noise = Scrambled(100000, 11);
    Bytes mixed = text;
    mixed.insert(mixed.begin() + 50000, noise.begin(), noise.end());
    g.push_back({"stored blocks (level 0)", ZlibDeflate(text, 0, Z_DEFAULT_STRATEGY), text});
    g.push_back({"fixed blocks", ZlibDeflate(text, 6, Z_FIXED), text});
    g.push_back({"dynamic blocks", ZlibDeflate(text, 6, Z_DEFAULT_STRATEGY), text});
    g.push_back({"dynamic blocks, level 9", ZlibDeflate(mixed, 9, Z_DEFAULT_STRATEGY), mixed});
    g.push_back({"Huffman only", ZlibDeflate(text, 6, Z_HUFFMAN_ONLY), text});
    g.push_back({"run-length matches", ZlibDeflate(mixed, 6, Z_RLE), mixed});
    g.push_back({"incompressible data", ZlibDeflate(noise, 6, Z_DEFAULT_STRATEGY), noise});
    g.push_back({"empty stored blocks (sync flushes)", ZlibDeflate(text, 6, Z_DEFAULT_STRATEGY, 977, Z_SYNC_FLUSH),
                 text});
    g.push_back({"empty fixed blocks (partial flushes)",
                 ZlibDeflate(text, 6, Z_DEFAULT_STRATEGY, 1500, Z_PARTIAL_FLUSH), text});
    g.push_back({"full flushes", ZlibDeflate(mixed, 6, Z_DEFAULT_STRATEGY, 40000, Z_FULL_FLUSH), mixed});
    g.push_back({"stored and dynamic blocks mixed",
                 ZlibDeflate(mixed, 6, Z_DEFAULT_STRATEGY, 30000, Z_NO_FLUSH, true), mixed});
    g.push_back({"one byte", ZlibDeflate(Bytes{'x'}, 6, Z_DEFAULT_STRATEGY), Bytes{'x'}});
    g.push_back({"nothing", ZlibDeflate(Bytes{}, 6, Z_DEFAULT_STRATEGY), Bytes{}});
    {
        // Every distance from 1 to 32768, each with a length of its own
        // (all 256 lengths come round), after a window's worth of noise.
        BitWriter w;
        Bytes out;
        FixedBlock b(w, out, true);
        for (std::uint8_t c : Scrambled(32768, 5)) b.Literal(c);
        for (int d = 1; d <= 32768; ++d) b.Match(3 + d % 256, d);
        b.End();
        g.push_back({"every distance up to 32 KiB", w.Finish(), out});
    }
    {
        // Empty blocks of each kind ahead of, between and after data.
        BitWriter w;
        Bytes out;
        auto emptyStored = [&] {
            w.Bits(0, 1);
            w.Bits(0, 2);
            w.AlignToByte();
            w.Bits(0x0000, 16);
            w.Bits(0xFFFF, 16);
        };
        emptyStored();
        { FixedBlock b(w, out, false); b.End(); }
        {
            FixedBlock b(w, out, false);
            for (std::uint8_t c : Words(3000, 3)) b.Literal(c);
            b.Match(258, 1000);
            b.End();
        }
        emptyStored();
        { FixedBlock b(w, out, false); b.End(); }
        { FixedBlock b(w, out, true); b.End(); }
        g.push_back({"empty blocks around data", w.Finish(), out});
    }
    // An empty final stored block and an empty final fixed block: streams
    // of no data that other writers make.
    g.push_back({"empty final stored block", Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF}, Bytes{}});
    g.push_back({"empty final fixed block", Bytes{0x03, 0x00}, Bytes{}});
    return g;
}

std::vector<Generated> InvalidStreams() {
    std::vector<Generated> g;
    const Bytes some = Words(2000, 9);
    {
        BitWriter w;
        Bytes out;
        FixedBlock b(w, out, true);
        for (int i = 0; i < 100; ++i) b.Literal(some[i]);
        b.Match(10, 101);  // one past the start
        b.End();
        g.push_back({"distance past the start", w.Finish(), Bytes(some.begin(), some.begin() + 110)});
    }
    for (int symbol : {286, 287}) {
        BitWriter w;
        Bytes out;
        FixedBlock b(w, out, true);
        for (int i = 0; i < 50; ++i) b.Literal(some[i]);
        b.Symbol(symbol);
        w.Bits(0, 5);
        b.End();
        g.push_back({"length symbol " + std::to_string(symbol), w.Finish(), Bytes(some.begin(), some.begin() + 60)});
    }
    for (int code : {30, 31}) {
        BitWriter w;
        Bytes out;
        FixedBlock b(w, out, true);
        for (int i = 0; i < 50; ++i) b.Literal(some[i]);
        b.Symbol(257);
        w.Code(code, 5);
        b.End();
        g.push_back({"distance code " + std::to_string(code), w.Finish(), Bytes(some.begin(), some.begin() + 53)});
    }
    {
        BitWriter w;
        w.Bits(1, 1);
        w.Bits(3, 2);  // the reserved block type
        w.Bits(0, 13);
        g.push_back({"block type 3", w.Finish(), some});
    }
    {
        BitWriter w;
        w.Bits(1, 1);
        w.Bits(0, 2);
        w.AlignToByte();
        w.Bits(5, 16);
        w.Bits(0x1234, 16);  // not the complement of the length
        Bytes s = w.Finish();
        s.insert(s.end(), some.begin(), some.begin() + 5);
        g.push_back({"stored length and complement disagree", s, Bytes(some.begin(), some.begin() + 5)});
    }
    {
        // A final block that ends the stream before the declared size.
        const Bytes half(some.begin(), some.begin() + 1000);
        g.push_back({"final block before the declared size", ZlibDeflate(half, 6, Z_DEFAULT_STRATEGY), some});
    }
    {
        // More data in the stream than declared: the surplus is never
        // delivered (the CRC-32 is that of the whole, so the entry fails).
        g.push_back({"stream past the declared size", ZlibDeflate(some, 6, Z_DEFAULT_STRATEGY),
                     Bytes(some.begin(), some.begin() + 700)});
    }
    g.push_back({"no data at all", Bytes{}, some});
    return g;
}

// Every truncation and every single flipped bit of small streams of each
// block type: each keeps the declared content of the whole.
std::vector<Generated> DamagedStreams() {
    std::vector<Generated> g;
    const Bytes text = Words(1200, 21);
    const struct {
        const char* kind;
        Bytes stream;
    } bases[] = {
        {"dynamic", ZlibDeflate(text, 9, Z_DEFAULT_STRATEGY)},
        {"fixed", ZlibDeflate(text, 6, Z_FIXED)},
        {"stored", ZlibDeflate(Bytes(text.begin(), text.begin() + 100), 0, Z_DEFAULT_STRATEGY)},
    };
    for (const auto& base : bases) {
        const Bytes content = std::string(base.kind) == "stored" ? Bytes(text.begin(), text.begin() + 100) : text;
        for (std::size_t n = 0; n < base.stream.size(); ++n)
            g.push_back({std::string(base.kind) + " cut to " + std::to_string(n) + " bytes",
                         Bytes(base.stream.begin(), base.stream.begin() + n), content});
        for (std::size_t bit = 0; bit < base.stream.size() * 8; ++bit) {
            Bytes s = base.stream;
            s[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
            g.push_back({std::string(base.kind) + " bit " + std::to_string(bit) + " flipped", s, content});
        }
        // An entry that declares only the first half of what its stream
        // holds, the stream damaged past that half: the declared bytes are
        // intact, and a decoder that reads ahead sees the damage first.
        const Bytes half(content.begin(), content.begin() + content.size() / 2);
        for (std::size_t bit = base.stream.size() * 4; bit < base.stream.size() * 8; ++bit) {
            Bytes s = base.stream;
            s[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
            g.push_back({std::string(base.kind) + " bit " + std::to_string(bit) + " flipped past a declared half", s,
                         half});
        }
        g.push_back({std::string(base.kind) + " cut short past a declared half",
                     Bytes(base.stream.begin(), base.stream.begin() + base.stream.size() * 3 / 4), half});
    }
    return g;
}

// --- Reading with each decoder ---------------------------------------------

struct Outcome {
    ArchiveResult open = CATALOG_OK;
    std::string bytes;
    int readStatus = 0;  // first negative read result, or 0
    EntryStreamFacts facts;
    ArchiveResult close = CATALOG_OK;
    bool guardsIntact = true;  // nothing written past the room of any read
    bool truncatedByUs = false;

    // What extraction would make of it (zip/extract.cpp's judgment).
    bool Delivered() const {
        return open == CATALOG_OK && readStatus == 0 && !facts.corruptData && !facts.shortData && facts.complete &&
               facts.crcMatches;
    }
    std::string Verdict() const {
        if (open != CATALOG_OK) return "not opened";
        if (readStatus != 0) return "read error";
        if (facts.corruptData) return "corrupt";
        if (facts.shortData) return "short";
        if (!facts.complete) return "incomplete";
        if (!facts.crcMatches) return "CRC mismatch";
        return "delivered";
    }
};

constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::uint64_t kReadLimit = 64u << 20;  // a corpus entry may declare gigabytes of zeros

Outcome ReadWith(ArchiveCatalog& cat, std::int32_t index, InflaterKind kind, std::uint32_t bufferSize) {
    Outcome o;
    cat.inflaterKind = kind;
    if (!MoveCursorTo(&cat, index)) {
        o.open = CATALOG_BAD_PARAMETER;
        return o;
    }
    o.open = OpenEntryStream(&cat);
    if (o.open != CATALOG_OK) return o;
    std::vector<std::uint8_t> buffer(bufferSize + kGuard, kGuardByte);
    for (;;) {
        const std::int32_t got = ReadEntryStream(&cat, buffer.data(), bufferSize);
        if (!std::all_of(buffer.begin() + bufferSize, buffer.end(), [](std::uint8_t b) { return b == kGuardByte; }))
            o.guardsIntact = false;
        if (got < 0) {
            o.readStatus = got;
            break;
        }
        if (got == 0) break;
        o.bytes.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(got));
        if (o.bytes.size() > kReadLimit) {
            o.truncatedByUs = true;
            break;
        }
    }
    o.facts = GetEntryStreamFacts(&cat);
    o.close = CloseEntryStream(&cat);
    return o;
}

// Differences on rejected data, by kind, with a few examples each.
class DifferenceLog {
public:
    void Note(const std::string& kind, const std::string& example) {
        auto& e = entries_[kind];
        if (e.count++ < 3) e.examples.push_back(example);
    }
    void Print(const char* title) const {
        std::cout << "[ differences ] " << title << ": " << (entries_.empty() ? "none" : "") << "\n";
        for (const auto& [kind, e] : entries_) {
            std::cout << "    " << e.count << " x " << kind << " (e.g.";
            for (const auto& x : e.examples) std::cout << " [" << x << "]";
            std::cout << ")\n";
        }
    }

private:
    struct Entry {
        int count = 0;
        std::vector<std::string> examples;
    };
    std::map<std::string, Entry> entries_;
};

struct Tally {
    int delivered = 0;
    int rejected = 0;
};

// Reads entry `index` with both decoders at each buffer size and holds ISA-L
// to zlib. A failure message names the case and the buffer size.
void Compare(ArchiveCatalog& cat, std::int32_t index, const std::string& label,
             const std::vector<std::uint32_t>& bufferSizes, DifferenceLog& log, Tally& tally) {
    for (std::uint32_t size : bufferSizes) {
        const Outcome z = ReadWith(cat, index, InflaterKind::kZlib, size);
        const Outcome i = ReadWith(cat, index, InflaterKind::kIsal, size);
        const std::string where = label + ", reads of " + std::to_string(size);
        EXPECT_TRUE(z.guardsIntact) << where << ": zlib wrote past the room it was given";
        EXPECT_TRUE(i.guardsIntact) << where << ": ISA-L wrote past the room it was given";
        EXPECT_EQ(i.open, z.open) << where;
        if (z.truncatedByUs || i.truncatedByUs) {
            // Only the first 64 MiB were read: they must agree.
            const std::size_t n = std::min(z.bytes.size(), i.bytes.size());
            EXPECT_TRUE(z.bytes.compare(0, n, i.bytes, 0, n) == 0) << where << ": the first 64 MiB differ";
            continue;
        }
        if (z.Delivered()) {
            ++tally.delivered;
            EXPECT_TRUE(i.Delivered()) << where << ": zlib delivers the entry, ISA-L gives " << i.Verdict();
            EXPECT_TRUE(i.bytes == z.bytes) << where << ": the bytes differ (" << i.bytes.size() << " against "
                                            << z.bytes.size() << ")";
            EXPECT_EQ(i.close, z.close) << where;
            continue;
        }
        ++tally.rejected;
        EXPECT_FALSE(i.Delivered()) << where << ": zlib rejects the entry (" << z.Verdict()
                                    << "), ISA-L delivers it";
        // Both reject: what each said, and how far each got, may differ.
        if (i.Verdict() != z.Verdict()) log.Note("zlib " + z.Verdict() + ", ISA-L " + i.Verdict(), where);
        if (i.bytes != z.bytes) {
            const bool prefix = i.bytes.size() < z.bytes.size() ? z.bytes.starts_with(i.bytes)
                                                               : i.bytes.starts_with(z.bytes);
            log.Note(std::string(prefix ? "bytes agree as far as both go, " : "other bytes, ") +
                         (i.bytes.size() < z.bytes.size() ? "fewer from ISA-L" : "more from ISA-L"),
                     where + ": " + std::to_string(i.bytes.size()) + " against " + std::to_string(z.bytes.size()));
        }
        if (i.close != z.close) log.Note("close statuses differ", where);
    }
}

bool HaveIsal() { return MakeInflater(InflaterKind::kIsal) != nullptr; }

std::vector<fs::path> ArchivesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return files;
    for (const auto& e : fs::directory_iterator(fs::absolute(dir, ec), ec))
        if (e.is_regular_file() && e.file_size() < 64 * 1024 * 1024) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Reads every case with both decoders, at a few buffer sizes (`small`
// adds reads of 1 and 61 bytes for entries up to 100 KB, which stop the
// decoders at nearly every symbol; 13 bytes otherwise).
void CompareGenerated(const std::vector<Generated>& cases, const char* title, bool small,
                      std::size_t* deliveredOut = nullptr) {
    ASSERT_LT(cases.size(), 65535u);
    testzip::ZipBuilder zip;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        auto& e = zip.Add("c" + std::to_string(k), cases[k].content, 8);
        e.rawData = cases[k].stream;
    }
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, zip.Build());
    ASSERT_NE(handle, nullptr);
    ArchiveCatalog& cat = ziptest::Catalog(*handle);
    DifferenceLog log;
    Tally tally;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const std::size_t n = cases[k].content.size();
        const auto whole = static_cast<std::uint32_t>(std::max<std::size_t>(n, 1));
        std::vector<std::uint32_t> sizes = {13, whole};
        if (small) sizes = n <= 100000 ? std::vector<std::uint32_t>{1, 61, 4096, whole}
                                       : std::vector<std::uint32_t>{4096, 262144, whole};
        Compare(cat, static_cast<std::int32_t>(k), cases[k].label, sizes, log, tally);
    }
    std::cout << "[ tally       ] " << title << ": " << cases.size() << " streams, " << tally.delivered
              << " reads delivered by zlib, " << tally.rejected << " rejected by it\n";
    log.Print(title);
    if (deliveredOut) *deliveredOut = static_cast<std::size_t>(tally.delivered);
}

}  // namespace

TEST(InflateDifferential, ValidStreamsComeOutAsZlibGivesThem) {
    if (!HaveIsal()) GTEST_SKIP() << "built without ISA-L (SORVANE_ISAL off): no second decoder to compare";
    const auto cases = ValidStreams();
    // The streams are valid: if zlib didn't deliver each one whole, the
    // comparison would hold nothing to account.
    std::size_t delivered = 0;
    CompareGenerated(cases, "valid streams", true, &delivered);
    EXPECT_EQ(delivered, cases.size() * 3 + 6);  // four sizes for the six small ones
}

TEST(InflateDifferential, InvalidStreamsAreRejectedByBoth) {
    if (!HaveIsal()) GTEST_SKIP() << "built without ISA-L (SORVANE_ISAL off): no second decoder to compare";
    CompareGenerated(InvalidStreams(), "invalid streams", true);
}

TEST(InflateDifferential, TruncatedAndFlippedStreamsGetZlibsVerdict) {
    if (!HaveIsal()) GTEST_SKIP() << "built without ISA-L (SORVANE_ISAL off): no second decoder to compare";
    CompareGenerated(DamagedStreams(), "truncated and flipped streams", false);
}

TEST(InflateDifferential, CorpusArchivesReadAlike) {
    if (!HaveIsal()) GTEST_SKIP() << "built without ISA-L (SORVANE_ISAL off): no second decoder to compare";
    const fs::path source(SORVANE_SOURCE_DIR);
    std::vector<fs::path> files;
    for (const fs::path& dir : {source / ".." / "shared" / "corpus" / "libzip-regress", source / "tests" / "fuzz" / "corpus",
                                source / "tests" / "data" / "zip64", source / "tests" / "data" / "restore"}) {
        const auto found = ArchivesIn(dir);
        files.insert(files.end(), found.begin(), found.end());
    }
    DifferenceLog log;
    Tally tally;
    int deflated = 0;
    for (const auto& file : files) {
        auto handle = OpenArchive(file.u16string());
        if (!handle) continue;
        ArchiveCatalog& cat = ziptest::Catalog(*handle);
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(cat.entryCount); ++i) {
            if (!MoveCursorTo(&cat, i)) continue;
            if (cat.currentHeader.method == 8) ++deflated;
            Compare(cat, i, file.filename().string() + " entry " + std::to_string(i), {1000, 262144}, log, tally);
        }
        CloseArchive(handle);
    }
    std::cout << "[ tally       ] corpus: " << files.size() << " files, " << deflated << " deflated entries, "
              << tally.delivered << " reads delivered by zlib, " << tally.rejected << " rejected by it\n";
    log.Print("corpus");
    // The reader's own seeds are always there; the libzip corpus when it
    // stands beside the checkout.
    EXPECT_GT(deflated, 5);
}
