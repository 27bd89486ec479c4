#include "tests/support/zip_writer.h"

#include <zlib.h>

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

Bytes ZipBuilder::Build(ZipLayout* layout) const {
    Bytes out = prefix;
    const std::size_t base = prefixShiftsOffsets ? 0 : prefix.size();
    ZipLayout where;

    struct Written {
        std::uint32_t crc, compressed, uncompressed, localOffset;
        std::uint16_t flags;
    };
    std::vector<Written> written;

    for (const Entry& e : entries_) {
        Bytes stored;
        if (e.rawData) stored = *e.rawData;
        else if (e.method == 8) stored = Deflate(e.data);
        else stored = e.data;
        Written w{};
        w.crc = Crc32(e.data);
        w.compressed = static_cast<std::uint32_t>(stored.size());
        w.uncompressed = static_cast<std::uint32_t>(e.data.size());
        w.localOffset = static_cast<std::uint32_t>(out.size() - base);
        w.flags = static_cast<std::uint16_t>(e.flags | (e.dataDescriptor ? 0x0008 : 0));
        written.push_back(w);

        const HeaderOverride& o = e.localOverride;
        const std::string& localName = e.localName ? *e.localName : e.name;
        where.localHeader.push_back(out.size());
        Append32(out, Pick(o.signature, 0x04034B50u));
        Append16(out, Pick(o.versionNeeded, e.versionNeeded));
        Append16(out, Pick(o.flags, w.flags));
        Append16(out, Pick(o.method, e.method));
        Append32(out, Pick(o.dosDateTime,
                           static_cast<std::uint32_t>(e.dosTime) | (std::uint32_t{e.dosDate} << 16)));
        Append32(out, Pick(o.crc32, e.dataDescriptor ? 0u : w.crc));
        Append32(out, Pick(o.compressedSize, e.dataDescriptor ? 0u : w.compressed));
        Append32(out, Pick(o.uncompressedSize, e.dataDescriptor ? 0u : w.uncompressed));
        Append16(out, Pick(o.nameLength, static_cast<std::uint16_t>(localName.size())));
        Append16(out, Pick(o.extraLength, static_cast<std::uint16_t>(e.localExtra.size())));
        AppendText(out, localName);
        out.insert(out.end(), e.localExtra.begin(), e.localExtra.end());
        where.entryData.push_back(out.size());
        out.insert(out.end(), stored.begin(), stored.end());
        if (e.dataDescriptor) {
            Append32(out, 0x08074B50u);
            Append32(out, w.crc);
            Append32(out, w.compressed);
            Append32(out, w.uncompressed);
        }
    }

    where.centralStart = out.size();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const Written& w = written[i];
        const HeaderOverride& o = e.centralOverride;
        where.centralHeader.push_back(out.size());
        Append32(out, Pick(o.signature, 0x02014B50u));
        Append16(out, Pick(o.versionMadeBy, e.versionMadeBy));
        Append16(out, Pick(o.versionNeeded, e.versionNeeded));
        Append16(out, Pick(o.flags, w.flags));
        Append16(out, Pick(o.method, e.method));
        Append32(out, Pick(o.dosDateTime,
                           static_cast<std::uint32_t>(e.dosTime) | (std::uint32_t{e.dosDate} << 16)));
        Append32(out, Pick(o.crc32, w.crc));
        Append32(out, Pick(o.compressedSize, w.compressed));
        Append32(out, Pick(o.uncompressedSize, w.uncompressed));
        Append16(out, Pick(o.nameLength, static_cast<std::uint16_t>(e.name.size())));
        Append16(out, Pick(o.extraLength, static_cast<std::uint16_t>(e.centralExtra.size())));
        Append16(out, Pick(o.commentLength, static_cast<std::uint16_t>(e.comment.size())));
        Append16(out, Pick(o.diskNumberStart, std::uint16_t{0}));
        Append16(out, 0);  // internal attributes
        Append32(out, Pick(o.externalAttributes, e.externalAttributes));
        Append32(out, Pick(o.localHeaderOffset, w.localOffset));
        AppendText(out, e.name);
        out.insert(out.end(), e.centralExtra.begin(), e.centralExtra.end());
        AppendText(out, e.comment);
    }

    const auto count = static_cast<std::uint16_t>(entries_.size());
    where.endRecord = out.size();
    Append32(out, 0x06054B50u);
    Append16(out, Pick(end.diskNumber, std::uint16_t{0}));
    Append16(out, Pick(end.directoryDisk, std::uint16_t{0}));
    Append16(out, Pick(end.entriesOnDisk, count));
    Append16(out, Pick(end.entriesTotal, count));
    Append32(out, Pick(end.directorySize, static_cast<std::uint32_t>(where.endRecord - where.centralStart)));
    Append32(out, Pick(end.directoryOffset, static_cast<std::uint32_t>(where.centralStart - base)));
    Append16(out, Pick(end.commentLength, static_cast<std::uint16_t>(comment.size())));
    AppendText(out, comment);

    if (layout) *layout = std::move(where);
    return out;
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
