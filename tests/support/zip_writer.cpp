#include "tests/support/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace testzip {

namespace {

void Append16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Append32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

template <typename T>
T Pick(const std::optional<T>& override, T value) {
    return override ? *override : value;
}

}  // namespace

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Deflate(const Bytes& data, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
    return out;
}

std::uint32_t Crc32(const Bytes& data) {
    return static_cast<std::uint32_t>(
        crc32(0, data.data(), static_cast<uInt>(data.size())));
}

std::uint16_t DosDate(int year, int month, int day) {
    return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t DosTime(int hour, int minute, int second) {
    return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

ExtraBlock UtBlock(std::uint8_t flags, std::int32_t modified, std::int32_t accessed,
                   std::int32_t created) {
    ExtraBlock block;
    block.tag = kTagExtendedTime;
    block.data.push_back(flags);
    if (flags & 1) Append32(block.data, static_cast<std::uint32_t>(modified));
    if (flags & 2) Append32(block.data, static_cast<std::uint32_t>(accessed));
    if (flags & 4) Append32(block.data, static_cast<std::uint32_t>(created));
    return block;
}

ExtraBlock NtfsBlock(std::uint64_t write, std::uint64_t access, std::uint64_t creation) {
    ExtraBlock block;
    block.tag = kTagNtfsTimes;
    Append32(block.data, 0);  // reserved
    Append16(block.data, 1);
    Append16(block.data, 24);
    for (const std::uint64_t t : {write, access, creation}) {
        Append32(block.data, static_cast<std::uint32_t>(t));
        Append32(block.data, static_cast<std::uint32_t>(t >> 32));
    }
    return block;
}

ExtraBlock UnicodePathBlock(std::string_view storedName, std::string_view utf8Name, std::uint8_t version) {
    ExtraBlock block;
    block.tag = kTagUnicodePathName;
    block.data.push_back(version);
    Append32(block.data, Crc32(ToBytes(storedName)));
    AppendText(block.data, utf8Name);
    return block;
}

Bytes ExtraField(const std::vector<ExtraBlock>& blocks) {
    Bytes out;
    for (const auto& b : blocks) {
        Append16(out, b.tag);
        Append16(out, Pick(b.declaredSize, static_cast<std::uint16_t>(b.data.size())));
        out.insert(out.end(), b.data.begin(), b.data.end());
    }
    return out;
}

Entry& ZipBuilder::Add(std::string name, std::string_view data, std::uint16_t method) {
    return Add(std::move(name), ToBytes(data), method);
}

Entry& ZipBuilder::Add(std::string name, const Bytes& data, std::uint16_t method) {
    Entry e;
    e.name = std::move(name);
    e.data = data;
    e.method = method;
    entries_.push_back(std::move(e));
    return entries_.back();
}

Entry& ZipBuilder::AddFolder(std::string name) {
    Entry& e = Add(std::move(name), Bytes{}, 0);
    e.externalAttributes = 0x10;
    return e;
}

namespace {

void Append64(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Where the built bytes go: memory, or a file in which zero runs are holes.
class Emitter {
public:
    explicit Emitter(Bytes* memory, std::fstream* file = nullptr) : memory_(memory), file_(file) {}
    std::uint64_t size() const { return size_; }
    void Put(const Bytes& bytes) {
        if (memory_) memory_->insert(memory_->end(), bytes.begin(), bytes.end());
        if (file_) file_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        size_ += bytes.size();
    }
    void Zeros(std::uint64_t n) {
        if (memory_) memory_->insert(memory_->end(), static_cast<std::size_t>(n), 0);
        if (file_) file_->seekp(static_cast<std::streamoff>(n), std::ios::cur);
        size_ += n;
    }
    bool ok() const { return !file_ || static_cast<bool>(*file_); }

private:
    Bytes* memory_;
    std::fstream* file_;
    std::uint64_t size_ = 0;
};

std::uint32_t ZeroCrc(std::uint64_t n) {
    static const Bytes zeros(1 << 20, 0);
    uLong crc = crc32(0, nullptr, 0);
    while (n > 0) {
        const auto k = static_cast<uInt>(std::min<std::uint64_t>(n, zeros.size()));
        crc = crc32(crc, zeros.data(), k);
        n -= k;
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t Low32(std::uint64_t v, bool allOnes) { return allOnes ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }

bool Emit(const ZipBuilder& zip, const std::vector<Entry>& entries, Emitter& out, ZipLayout& where) {
    out.Put(zip.prefix);
    const std::uint64_t base = zip.prefixShiftsOffsets ? 0 : zip.prefix.size();

    struct Written {
        std::uint32_t crc;
        std::uint64_t compressed, uncompressed, localOffset;
        std::uint16_t flags;
    };
    std::vector<Written> written;

    for (const Entry& e : entries) {
        Bytes stored;
        if (e.rawData) stored = *e.rawData;
        else if (e.method == 8) stored = Deflate(e.data);
        else stored = e.data;
        Written w{};
        w.crc = e.zeroRun ? ZeroCrc(e.zeroRun) : Crc32(e.data);
        w.compressed = e.zeroRun ? e.zeroRun : stored.size();
        w.uncompressed = e.zeroRun ? e.zeroRun : e.data.size();
        w.localOffset = out.size() - base;
        w.flags = static_cast<std::uint16_t>(e.flags | (e.dataDescriptor ? 0x0008 : 0));
        written.push_back(w);

        const HeaderOverride& o = e.localOverride;
        const std::string& localName = e.localName ? *e.localName : e.name;
        Bytes localExtra;
        if (e.localZip64) {
            Bytes sizes;
            Append64(sizes, e.dataDescriptor ? 0 : w.uncompressed);
            Append64(sizes, e.dataDescriptor ? 0 : w.compressed);
            localExtra = ExtraField({{kTagZip64Info, sizes, {}}});
        }
        localExtra.insert(localExtra.end(), e.localExtra.begin(), e.localExtra.end());
        Bytes h;
        where.localHeader.push_back(static_cast<std::size_t>(out.size()));
        Append32(h, Pick(o.signature, 0x04034B50u));
        Append16(h, Pick(o.versionNeeded, e.versionNeeded));
        Append16(h, Pick(o.flags, w.flags));
        Append16(h, Pick(o.method, e.method));
        Append32(h, Pick(o.dosDateTime, static_cast<std::uint32_t>(e.dosTime) | (std::uint32_t{e.dosDate} << 16)));
        Append32(h, Pick(o.crc32, e.dataDescriptor ? 0u : w.crc));
        Append32(h, Pick(o.compressedSize, e.dataDescriptor ? 0u : Low32(w.compressed, e.localZip64)));
        Append32(h, Pick(o.uncompressedSize, e.dataDescriptor ? 0u : Low32(w.uncompressed, e.localZip64)));
        Append16(h, Pick(o.nameLength, static_cast<std::uint16_t>(localName.size())));
        Append16(h, Pick(o.extraLength, static_cast<std::uint16_t>(localExtra.size())));
        AppendText(h, localName);
        h.insert(h.end(), localExtra.begin(), localExtra.end());
        out.Put(h);
        where.entryData.push_back(static_cast<std::size_t>(out.size()));
        if (e.zeroRun) out.Zeros(e.zeroRun);
        else out.Put(stored);
        if (e.dataDescriptor) {
            Bytes d;
            Append32(d, 0x08074B50u);
            Append32(d, w.crc);
            if (e.localZip64) {
                Append64(d, w.compressed);
                Append64(d, w.uncompressed);
            } else {
                Append32(d, static_cast<std::uint32_t>(w.compressed));
                Append32(d, static_cast<std::uint32_t>(w.uncompressed));
            }
            out.Put(d);
        }
    }

    const std::uint64_t centralStart = out.size();
    where.centralStart = static_cast<std::size_t>(centralStart);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const Written& w = written[i];
        const HeaderOverride& o = e.centralOverride;
        Bytes zip64Data;
        if (e.zip64.uncompressed) Append64(zip64Data, w.uncompressed);
        if (e.zip64.compressed) Append64(zip64Data, w.compressed);
        if (e.zip64.offset) Append64(zip64Data, w.localOffset);
        if (e.zip64.disk) Append32(zip64Data, 0);
        if (e.zip64Block) zip64Data = *e.zip64Block;
        Bytes extra;
        if (!zip64Data.empty() || e.zip64Block) extra = ExtraField({{kTagZip64Info, zip64Data, {}}});
        extra.insert(extra.end(), e.centralExtra.begin(), e.centralExtra.end());
        Bytes h;
        where.centralHeader.push_back(static_cast<std::size_t>(out.size()));
        Append32(h, Pick(o.signature, 0x02014B50u));
        Append16(h, Pick(o.versionMadeBy, e.versionMadeBy));
        Append16(h, Pick(o.versionNeeded, e.versionNeeded));
        Append16(h, Pick(o.flags, w.flags));
        Append16(h, Pick(o.method, e.method));
        Append32(h, Pick(o.dosDateTime, static_cast<std::uint32_t>(e.dosTime) | (std::uint32_t{e.dosDate} << 16)));
        Append32(h, Pick(o.crc32, w.crc));
        Append32(h, Pick(o.compressedSize, Low32(w.compressed, e.zip64.compressed)));
        Append32(h, Pick(o.uncompressedSize, Low32(w.uncompressed, e.zip64.uncompressed)));
        Append16(h, Pick(o.nameLength, static_cast<std::uint16_t>(e.name.size())));
        Append16(h, Pick(o.extraLength, static_cast<std::uint16_t>(extra.size())));
        Append16(h, Pick(o.commentLength, static_cast<std::uint16_t>(e.comment.size())));
        Append16(h, Pick(o.diskNumberStart, std::uint16_t{e.zip64.disk ? std::uint16_t{0xFFFF} : std::uint16_t{0}}));
        Append16(h, 0);  // internal attributes
        Append32(h, Pick(o.externalAttributes, e.externalAttributes));
        Append32(h, Pick(o.localHeaderOffset, Low32(w.localOffset, e.zip64.offset)));
        AppendText(h, e.name);
        h.insert(h.end(), extra.begin(), extra.end());
        AppendText(h, e.comment);
        out.Put(h);
    }
    const std::uint64_t centralEnd = out.size();
    const std::uint64_t directorySize = centralEnd - centralStart;
    const std::uint64_t directoryOffset = centralStart - base;
    const std::uint64_t count = entries.size();

    if (zip.zip64End != Zip64End::kNone) {
        const Zip64EndOverride& z = zip.zip64;
        Bytes r;
        where.zip64EndRecord = static_cast<std::size_t>(out.size());
        Append32(r, Pick(z.recordSignature, 0x06064B50u));
        Append64(r, 44 + z.extensible.size());
        Append16(r, 0x002D);
        Append16(r, 0x002D);
        Append32(r, Pick(z.disk, 0u));
        Append32(r, Pick(z.directoryDisk, 0u));
        Append64(r, Pick(z.entriesOnDisk, count));
        Append64(r, Pick(z.entriesTotal, count));
        Append64(r, Pick(z.directorySize, directorySize));
        Append64(r, Pick(z.directoryOffset, directoryOffset));
        r.insert(r.end(), z.extensible.begin(), z.extensible.end());
        where.zip64Locator = where.zip64EndRecord + r.size();
        Append32(r, 0x07064B50u);
        Append32(r, Pick(z.locatorDisk, 0u));
        Append64(r, Pick(z.recordOffset, std::uint64_t{where.zip64EndRecord - base}));
        Append32(r, Pick(z.diskCount, 1u));
        out.Put(r);
    }

    const bool placeholders = zip.zip64End == Zip64End::kPlaceholders;
    const auto count16 = placeholders ? std::uint16_t{0xFFFF} : static_cast<std::uint16_t>(count);
    Bytes r;
    where.endRecord = static_cast<std::size_t>(out.size());
    Append32(r, 0x06054B50u);
    Append16(r, Pick(zip.end.diskNumber, std::uint16_t{0}));
    Append16(r, Pick(zip.end.directoryDisk, std::uint16_t{0}));
    Append16(r, Pick(zip.end.entriesOnDisk, count16));
    Append16(r, Pick(zip.end.entriesTotal, count16));
    Append32(r, Pick(zip.end.directorySize, Low32(directorySize, placeholders)));
    Append32(r, Pick(zip.end.directoryOffset, Low32(directoryOffset, placeholders)));
    Append16(r, Pick(zip.end.commentLength, static_cast<std::uint16_t>(zip.comment.size())));
    AppendText(r, zip.comment);
    out.Put(r);
    return out.ok();
}

}  // namespace

Bytes ZipBuilder::Build(ZipLayout* layout) const {
    Bytes bytes;
    Emitter out(&bytes);
    ZipLayout where;
    Emit(*this, entries_, out, where);
    if (layout) *layout = std::move(where);
    return bytes;
}

bool ZipBuilder::BuildToFile(const std::filesystem::path& path, ZipLayout* layout) const {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file) return false;
    Emitter out(nullptr, &file);
    ZipLayout where;
    const bool ok = Emit(*this, entries_, out, where);
    file.close();
    if (layout) *layout = std::move(where);
    return ok && !file.fail();
}

void PutU16(Bytes& bytes, std::size_t pos, std::uint16_t value) {
    bytes.at(pos) = static_cast<std::uint8_t>(value);
    bytes.at(pos + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(Bytes& bytes, std::size_t pos, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(pos + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t GetU16(const Bytes& bytes, std::size_t pos) {
    return static_cast<std::uint16_t>(bytes.at(pos) | (bytes.at(pos + 1) << 8));
}

std::uint32_t GetU32(const Bytes& bytes, std::size_t pos) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes.at(pos + i);
    return v;
}

void FlipByte(Bytes& bytes, std::size_t pos) { bytes.at(pos) ^= 0xFF; }

}  // namespace testzip
