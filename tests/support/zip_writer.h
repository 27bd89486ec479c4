#pragma once
// A small ZIP writer for tests. It builds archives in memory from entries
// described field by field, so a test can make an ordinary archive in one
// line and a broken one by overriding exactly the field it is about. Names
// are raw bytes (CP932, UTF-8 with flag bit 11, anything). Offsets of every
// structure come back in a ZipLayout, so a test can also patch the finished
// bytes with PutU16/PutU32/FlipByte.
//
//   testzip::ZipBuilder zip;
//   zip.Add("a.txt", "hello");                       // stored
//   zip.Add("b.txt", std::string(1000, 'x'), 8);     // deflated
//   auto& e = zip.Add("c.txt", "data");
//   e.localOverride.method = 12;                     // local method differs
//   std::vector<std::uint8_t> bytes = zip.Build();
//
// ZIP64: `Entry::zip64` moves chosen central fields into a 0x0001 block,
// `Entry::localZip64` does the same for the local sizes (and makes a data
// descriptor's sizes 8 bytes), and `ZipBuilder::zip64End` writes a ZIP64
// end record and locator. An entry of `zeroRun` zeros is never held in
// memory by BuildToFile, which leaves it as a hole in a sparse file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testzip {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text);

// Raw deflate (no zlib header), as ZIP method 8 stores it.
Bytes Deflate(const Bytes& data, int level = 6);
// zlib's CRC-32 of the data.
std::uint32_t Crc32(const Bytes& data);

// MS-DOS date and time words: the local wall clock, as a writer records it.
std::uint16_t DosDate(int year, int month, int day);
std::uint16_t DosTime(int hour, int minute, int second);

// One extra-field block: 2-byte tag, 2-byte size, data. `declaredSize`
// overrides the size field (to make a block that claims more than it has).
struct ExtraBlock {
    std::uint16_t tag = 0;
    Bytes data;
    std::optional<std::uint16_t> declaredSize;
};
inline constexpr std::uint16_t kTagExtendedTime = 0x5455;  // bytes "UT"
inline constexpr std::uint16_t kTagZip64Info = 0x0001;
inline constexpr std::uint16_t kTagUnicodePathName = 0x7075;
inline constexpr std::uint16_t kTagNtfsTimes = 0x000A;

// An extended timestamp ("UT") block. `flags` says which stamps follow
// (bit 0 modification, 1 access, 2 creation); only those present are
// written, in that order.
ExtraBlock UtBlock(std::uint8_t flags, std::int32_t modified, std::int32_t accessed = 0,
                   std::int32_t created = 0);
// An Info-ZIP Unicode Path block naming `utf8Name`, stamped with the CRC-32
// of `storedName` (pass another name to make a stale block).
ExtraBlock UnicodePathBlock(std::string_view storedName, std::string_view utf8Name, std::uint8_t version = 1);
// An NTFS block: four reserved bytes, then attribute 1 (24 bytes) with the
// write, access and creation times as 64-bit file times (100 ns since 1601).
ExtraBlock NtfsBlock(std::uint64_t write, std::uint64_t access, std::uint64_t creation);
// Serialises blocks into an extra field.
Bytes ExtraField(const std::vector<ExtraBlock>& blocks);

// Values that replace what the writer would put in one header. Anything
// left empty is computed from the entry.
struct HeaderOverride {
    std::optional<std::uint32_t> signature;
    std::optional<std::uint16_t> versionMadeBy;  // central only
    std::optional<std::uint16_t> versionNeeded;
    std::optional<std::uint16_t> flags;
    std::optional<std::uint16_t> method;
    std::optional<std::uint32_t> dosDateTime;
    std::optional<std::uint32_t> crc32;
    std::optional<std::uint32_t> compressedSize;
    std::optional<std::uint32_t> uncompressedSize;
    std::optional<std::uint16_t> nameLength;     // the name bytes stay as they are
    std::optional<std::uint16_t> extraLength;    // the extra bytes stay as they are
    std::optional<std::uint16_t> commentLength;  // central only
    std::optional<std::uint16_t> diskNumberStart;
    std::optional<std::uint32_t> externalAttributes;
    std::optional<std::uint32_t> localHeaderOffset;  // central only
};

// Which central fields hold all ones, their values moving to a 0x0001 block
// (in the format's order: uncompressed, compressed, offset, disk).
struct Zip64Fields {
    bool uncompressed = false;
    bool compressed = false;
    bool offset = false;
    bool disk = false;
};

struct Entry {
    std::string name;       // raw bytes as stored in both headers
    Bytes data;             // the content (uncompressed)
    std::uint16_t method = 0;  // 0 stored, 8 deflated; any other value stores `data` as is
    std::uint16_t flags = 0;   // bit 0 encrypted (nothing is encrypted), bit 11 UTF-8 name
    std::uint16_t versionMadeBy = 0x0014;  // host 0 (DOS/Windows), 2.0
    std::uint16_t versionNeeded = 0x0014;
    std::uint16_t dosDate = 0x4221;  // 2013-01-01
    std::uint16_t dosTime = 0x6000;  // 12:00:00
    std::uint32_t externalAttributes = 0x20;  // DOS archive bit
    Bytes localExtra;
    Bytes centralExtra;
    std::string comment;  // central file comment

    // Sets flag bit 3, writes zeros for CRC-32 and sizes in the local
    // header and appends a data descriptor (with signature) after the data.
    bool dataDescriptor = false;
    // When set, these bytes are stored as the entry data instead of the
    // (compressed) `data`; sizes and CRC still describe `data`.
    std::optional<Bytes> rawData;
    // A different local name (e.g. other length or other bytes).
    std::optional<std::string> localName;

    HeaderOverride localOverride;
    HeaderOverride centralOverride;

    Zip64Fields zip64;
    // All-ones local sizes with a 0x0001 block of both sizes; a data
    // descriptor then carries 8-byte sizes.
    bool localZip64 = false;
    // Replaces the computed data of the central 0x0001 block (to damage it).
    std::optional<Bytes> zip64Block;
    // Content of this many zero bytes (stored) in place of `data`.
    std::uint64_t zeroRun = 0;
};

// Where each structure landed in the built bytes (file positions, prefix
// included).
struct ZipLayout {
    std::vector<std::size_t> localHeader;   // per entry
    std::vector<std::size_t> entryData;     // per entry: first byte of its data
    std::vector<std::size_t> centralHeader; // per entry
    std::size_t centralStart = 0;
    std::size_t endRecord = 0;
    std::size_t zip64EndRecord = 0;  // with zip64End only
    std::size_t zip64Locator = 0;
};

struct EndOverride {
    std::optional<std::uint16_t> diskNumber;
    std::optional<std::uint16_t> directoryDisk;
    std::optional<std::uint16_t> entriesOnDisk;
    std::optional<std::uint16_t> entriesTotal;
    std::optional<std::uint32_t> directorySize;
    std::optional<std::uint32_t> directoryOffset;
    std::optional<std::uint16_t> commentLength;
};

enum class Zip64End {
    kNone,
    kBeside,        // ZIP64 record and locator before a classic record that holds every value
    kPlaceholders,  // the classic record holds 0xFFFF / 0xFFFFFFFF throughout
};

struct Zip64EndOverride {
    std::optional<std::uint32_t> locatorDisk;    // disk holding the record
    std::optional<std::uint64_t> recordOffset;   // as the locator states it
    std::optional<std::uint32_t> diskCount;
    std::optional<std::uint32_t> recordSignature;
    std::optional<std::uint32_t> disk;
    std::optional<std::uint32_t> directoryDisk;
    std::optional<std::uint64_t> entriesOnDisk;
    std::optional<std::uint64_t> entriesTotal;
    std::optional<std::uint64_t> directorySize;
    std::optional<std::uint64_t> directoryOffset;
    Bytes extensible;  // after the 56 fixed bytes
};

class ZipBuilder {
public:
    // Adds an entry with default fields; the reference stays valid until the
    // next Add, so fields can be adjusted right away.
    Entry& Add(std::string name, std::string_view data, std::uint16_t method = 0);
    Entry& Add(std::string name, const Bytes& data, std::uint16_t method = 0);
    // A folder entry: the name should end in '/'; DOS directory bit set.
    Entry& AddFolder(std::string name);

    std::vector<Entry>& entries() { return entries_; }

    // Bytes written ahead of the archive. Offsets inside the archive stay
    // relative to its own start unless `prefixShiftsOffsets` is set (as a
    // self-extracting program's writer would do).
    Bytes prefix;
    bool prefixShiftsOffsets = false;
    std::string comment;  // archive comment (raw bytes)
    EndOverride end;
    Zip64End zip64End = Zip64End::kNone;
    Zip64EndOverride zip64;

    Bytes Build(ZipLayout* layout = nullptr) const;
    // Writes the archive to `path`, leaving each zero run as a hole. False
    // when the file can't be written.
    bool BuildToFile(const std::filesystem::path& path, ZipLayout* layout = nullptr) const;

private:
    std::vector<Entry> entries_;
};

// Patching finished bytes.
void PutU16(Bytes& bytes, std::size_t pos, std::uint16_t value);
void PutU32(Bytes& bytes, std::size_t pos, std::uint32_t value);
std::uint16_t GetU16(const Bytes& bytes, std::size_t pos);
std::uint32_t GetU32(const Bytes& bytes, std::size_t pos);
void FlipByte(Bytes& bytes, std::size_t pos);  // xor 0xFF

// Offsets inside a local header (30 fixed bytes) and a central header (46).
namespace local {
inline constexpr std::size_t kFlags = 6, kMethod = 8, kDosTime = 10, kCrc = 14, kCompressed = 18,
                             kUncompressed = 22, kNameLength = 26, kExtraLength = 28;
}
namespace central {
inline constexpr std::size_t kVersionMadeBy = 4, kFlags = 8, kMethod = 10, kDosTime = 12, kCrc = 16,
                             kCompressed = 20, kUncompressed = 24, kNameLength = 28,
                             kExtraLength = 30, kCommentLength = 32, kExternal = 38,
                             kLocalOffset = 42;
}
namespace endrec {
inline constexpr std::size_t kDisk = 4, kDirectoryDisk = 6, kEntriesOnDisk = 8, kEntriesTotal = 10,
                             kDirectorySize = 12, kDirectoryOffset = 16, kCommentLength = 20;
}

}  // namespace testzip
