// The archive's structure: the end record, a cursor over the central
// directory, entry records with their attributes and times, and the search
// by name.
//
// The directory is walked once, when the catalogue is built, into an index of
// header positions and case-folded names. Every cursor move and search
// then gives exactly what walking the file header by header would give (the
// same statuses, the cursor left at the same entry, the first match in
// directory order), but at constant cost, so a restore that looks up each of
// n entries by name does not read the directory n times.
//
// Archives past the classic limits (4 GiB, 65,535 entries) carry ZIP64
// records: an end record found through a locator just before the classic
// one, and a 0x0001 extra field in each header whose classic size or offset
// field holds all ones. Both are read here, so the rest of the reader sees
// 64-bit sizes and offsets and never the all-ones placeholders.

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/file_time.h"
#include "platform/text.h"
#include "zip/reader.h"

thread_local std::int32_t lastOpenResult = 0;

namespace {

constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint64_t kZip64LocatorSize = 20;
constexpr std::uint64_t kZip64EndFixed = 56;     // with no extensible data
constexpr std::uint64_t kZip64EndRestSize = 44;  // its size field: the bytes after the first 12
constexpr std::uint32_t kAllOnes16 = 0xFFFF;
constexpr std::uint32_t kAllOnes32 = 0xFFFFFFFF;
constexpr std::uint64_t kCentralFixed = 46;
constexpr std::uint64_t kLocalFixed = 30;

constexpr std::uint64_t kEndSearchReach = 0xFFFF;
constexpr std::uint64_t kEndWindow = 1028;
constexpr std::uint64_t kEndStep = 1024;

ArchiveSource& Source(ArchiveCatalog& c) { return *c.source; }

// Whether `b` opens a double-byte character in the ANSI code page. The
// second byte of such a character can be anything from 0x40 up, a to z
// included, so it must never be folded.
bool IsLeadByte(unsigned codePage, unsigned char b) {
    switch (codePage) {
    case 932: return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936: case 949: case 950: return b >= 0x81 && b <= 0xFE;
    default: return false;
    }
}

std::uint64_t LittleEndian(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

// Visits the blocks of an extra field in order until `visit` says stop
// (returns false). Gives false when a block claims more bytes than the area
// has left. A tail too short for a block header is padding some writers
// leave, not a block.
template <typename Visit>
bool WalkExtraBlocks(const std::uint8_t* extra, std::size_t length, Visit visit) {
    std::size_t offset = 0;
    while (length - offset >= 4) {
        const auto tag = static_cast<std::uint16_t>(LittleEndian(extra + offset, 2));
        const auto size = static_cast<std::size_t>(LittleEndian(extra + offset + 2, 2));
        if (size > length - offset - 4) return false;
        if (!visit(tag, extra + offset + 4, size)) return true;
        offset += 4 + size;
    }
    return true;
}

// The first ZIP64 block of an extra field (null when there is none); false
// when the field's blocks don't fit its length.
bool FindZip64Block(const std::vector<std::uint8_t>& extra, const std::uint8_t*& block, std::size_t& blockSize) {
    return WalkExtraBlocks(extra.data(), extra.size(), [&](std::uint16_t tag, const std::uint8_t* data, std::size_t size) {
        if (tag == kTagZip64 && !block) {
            block = data;
            blockSize = size;
        }
        return true;
    });
}

// Puts the ZIP64 values into a central header: each value whose classic
// field holds all ones comes from the 0x0001 block, in the order
// uncompressed size, compressed size, local header offset, disk number.
// Values that fit stay where they are. A header that needs the block and
// has none, or one too short, or whose extra field is malformed, can't be
// read correctly; nor can an entry that starts on another disk.
ArchiveResult ApplyZip64Field(const std::vector<std::uint8_t>& extra, EntryHeader& h, std::uint64_t& localOffset) {
    const bool wantUncompressed = h.uncompressedSize == kAllOnes32;
    const bool wantCompressed = h.compressedSize == kAllOnes32;
    const bool wantOffset = localOffset == kAllOnes32;
    const bool wantDisk = h.diskNumberStart == kAllOnes16;
    if (!wantUncompressed && !wantCompressed && !wantOffset && !wantDisk) return CATALOG_OK;

    const std::uint8_t* block = nullptr;
    std::size_t blockSize = 0;
    const bool wellFormed = FindZip64Block(extra, block, blockSize);
    const std::size_t needed = 8 * (std::size_t{wantUncompressed} + wantCompressed + wantOffset) + 4 * std::size_t{wantDisk};
    if (!wellFormed || !block || blockSize < needed) return CATALOG_BAD_ARCHIVE;
    std::size_t at = 0;
    auto take = [&](int bytes) {
        const std::uint64_t v = LittleEndian(block + at, bytes);
        at += static_cast<std::size_t>(bytes);
        return v;
    };
    if (wantUncompressed) h.uncompressedSize = take(8);
    if (wantCompressed) h.compressedSize = take(8);
    if (wantOffset) localOffset = take(8);
    if (wantDisk) h.diskNumberStart = static_cast<std::uint32_t>(take(4));
    if (wantDisk && h.diskNumberStart != 0) return CATALOG_BAD_ARCHIVE;  // part of a split archive
    return CATALOG_OK;
}

// The UTF-8 name of a Unicode Path block that still describes the stored
// name: version 1 and the CRC-32 of the stored bytes. A tool that renamed
// the entry without updating the block leaves a stale one, which must not
// bring the old name back. The first such block decides.
bool UnicodePathName(const std::vector<std::uint8_t>& extra, std::string_view storedName, std::string& utf8) {
    bool found = false;
    WalkExtraBlocks(extra.data(), extra.size(), [&](std::uint16_t tag, const std::uint8_t* data, std::size_t size) {
        if (tag != kTagUnicodePath) return true;
        const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(storedName.data()),
                                                          static_cast<uInt>(storedName.size())));
        if (size > 5 && data[0] == 1 && LittleEndian(data + 1, 4) == crc) {
            utf8.assign(reinterpret_cast<const char*>(data + 5), size - 5);
            found = true;
        }
        return false;
    });
    return found;
}

// The name as every consumer sees it: up to the first zero byte, as a
// terminated 8-bit string would be.
std::string_view VisibleName(std::string_view raw) {
    const auto zero = raw.find('\0');
    return zero == std::string_view::npos ? raw : raw.substr(0, zero);
}

// Reads the central header at `pos` from the file. The status follows the
// field-by-field rules: a wrong signature is BAD_ARCHIVE, any failed read
// IO_ERROR; a ZIP64 field that can't supply what the header leaves out is
// BAD_ARCHIVE. `nameRead` tells whether the name bytes arrived. With
// `nameIsUtf8` given, a matching Unicode Path field replaces the stored name
// and the flag tells whether the name is UTF-8 (flag bit 11 or that field).
ArchiveResult ReadHeaderAt(ArchiveCatalog& c, std::uint64_t pos, EntryHeader& header, std::uint64_t& localOffset,
                           std::string* name, bool* nameRead, bool* nameIsUtf8 = nullptr, NtfsTimes* ntfs = nullptr) {
    ArchiveSource& src = Source(c);
    if (SeekSource(src, c.leadingBytes + pos) != 0) return CATALOG_IO_ERROR;
    std::uint32_t signature = 0;
    if (ReadSourceUInt32(src, signature) != 0) return CATALOG_IO_ERROR;
    if (signature != kCentralSignature) return CATALOG_BAD_ARCHIVE;

    ArchiveResult status = CATALOG_OK;
    EntryHeader h;
    std::uint32_t* const fields16a[] = {&h.versionMadeBy, &h.versionNeeded, &h.flags, &h.method};
    for (auto* f : fields16a)
        if (ReadSourceUInt16(src, *f) != 0) status = CATALOG_IO_ERROR;
    std::uint32_t compressed = 0, uncompressed = 0;
    std::uint32_t* const fields32[] = {&h.dosDateTime, &h.crc32, &compressed, &uncompressed};
    for (auto* f : fields32)
        if (ReadSourceUInt32(src, *f) != 0) status = CATALOG_IO_ERROR;
    h.compressedSize = compressed;
    h.uncompressedSize = uncompressed;
    std::uint32_t* const fields16b[] = {&h.nameLength, &h.extraLength, &h.commentLength, &h.diskNumberStart,
                                        &h.internalAttributes};
    for (auto* f : fields16b)
        if (ReadSourceUInt16(src, *f) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt32(src, h.externalAttributes) != 0) status = CATALOG_IO_ERROR;
    std::uint32_t local = 0;
    if (ReadSourceUInt32(src, local) != 0) return CATALOG_IO_ERROR;
    if (status != CATALOG_OK) return status;

    bool ok = true;
    if (name) {
        name->assign(h.nameLength, '\0');
        ok = h.nameLength == 0 || ReadSourceBytes(src, name->data(), 1, h.nameLength) == h.nameLength;
        if (nameRead) *nameRead = ok;
        if (!ok) name->clear();
    }
    std::uint64_t resolvedOffset = local;
    const bool needsZip64 = compressed == kAllOnes32 || uncompressed == kAllOnes32 || local == kAllOnes32 ||
                            h.diskNumberStart == kAllOnes16;
    const bool wantsUnicode = nameIsUtf8 && name && ok && (h.flags & kFlagUtf8Name) == 0;
    if (nameIsUtf8) *nameIsUtf8 = (h.flags & kFlagUtf8Name) != 0;
    if (h.extraLength > 0 && (needsZip64 || wantsUnicode || ntfs)) {
        std::vector<std::uint8_t> extra(h.extraLength);
        const bool extraRead = SeekSource(src, c.leadingBytes + pos + kCentralFixed + h.nameLength) == 0 &&
                               ReadSourceBytes(src, extra.data(), 1, extra.size()) == extra.size();
        // Without ZIP64 values to take, an unreadable extra field only means
        // no Unicode name and no NTFS times, as before this field was read
        // at all.
        if (!extraRead && needsZip64) return CATALOG_IO_ERROR;
        if (extraRead) {
            if (const ArchiveResult zip64 = ApplyZip64Field(extra, h, resolvedOffset); zip64 != CATALOG_OK)
                return zip64;
            std::string unicode;
            if (wantsUnicode && UnicodePathName(extra, *name, unicode)) {
                *name = std::move(unicode);
                *nameIsUtf8 = true;
            }
            if (ntfs) *ntfs = NtfsTimesOf(extra.data(), extra.size());
        }
    } else if (needsZip64) {
        return CATALOG_BAD_ARCHIVE;  // all ones with no ZIP64 field to say what they stand for
    }
    header = h;
    localOffset = resolvedOffset;
    return CATALOG_OK;
}

std::uint64_t NextHeaderPos(std::uint64_t pos, const EntryHeader& h) {
    return pos + kCentralFixed + h.nameLength + h.extraLength + h.commentLength;
}

std::uint32_t NameHash(std::string_view folded, bool utf8) {
    std::uint32_t h = utf8 ? 0x9E3779B9u : 2166136261u;
    for (const char ch : folded) h = (h ^ static_cast<unsigned char>(ch)) * 16777619u;
    return h;
}

std::string IndexedKey(const IndexedEntry& e) { return FoldEntryName(VisibleName(e.name), e.utf8Name); }

// The first entry whose folded name and encoding are these; -1 for none.
std::int32_t LookUpName(const ArchiveCatalog& c, std::string_view folded, bool utf8) {
    if (c.names.empty()) return -1;
    const std::uint32_t hash = NameHash(folded, utf8);
    const std::size_t mask = c.names.size() - 1;
    for (std::size_t k = hash & mask;; k = (k + 1) & mask) {
        const NameSlot& slot = c.names[k];
        if (slot.index < 0) return -1;
        if (slot.hash != hash) continue;
        const IndexedEntry& e = c.index[static_cast<std::size_t>(slot.index)];
        if (e.utf8Name == utf8 && IndexedKey(e) == folded) return slot.index;
    }
}

void PutSlot(std::vector<NameSlot>& names, NameSlot slot) {
    const std::size_t mask = names.size() - 1;
    std::size_t k = slot.hash & mask;
    while (names[k].index >= 0) k = (k + 1) & mask;
    names[k] = slot;
}

// Records entry i under its name unless an earlier entry holds that name.
// The table stays at most half full.
void AddName(ArchiveCatalog& c, std::int32_t i) {
    const IndexedEntry& e = c.index[static_cast<std::size_t>(i)];
    const std::string folded = IndexedKey(e);
    if (LookUpName(c, folded, e.utf8Name) >= 0) return;
    if (2 * (c.namesUsed + 1) > c.names.size()) {
        std::vector<NameSlot> grown(std::max<std::size_t>(16, 2 * c.names.size()));
        for (const NameSlot& s : c.names)
            if (s.index >= 0) PutSlot(grown, s);
        c.names = std::move(grown);
    }
    PutSlot(c.names, {NameHash(folded, e.utf8Name), i});
    ++c.namesUsed;
}

// Walks the whole directory once from entry 0, as GoToNextEntry would, and
// keeps every header that reads correctly.
void BuildIndex(ArchiveCatalog& c) {
    c.index.clear();
    c.names.clear();
    c.namesUsed = 0;
    c.walkEndStatus = CATALOG_OK;
    // A count the directory's size can't hold is not believed for the
    // reservation: the walk stops at the first header that doesn't read.
    const std::uint64_t plausible = std::min<std::uint64_t>(c.entryCount, c.directorySize / kCentralFixed + 1);
    c.index.reserve(static_cast<std::size_t>(plausible));
    std::size_t slots = 16;
    while (slots < 2 * plausible) slots *= 2;
    c.names.assign(slots, NameSlot{});
    std::uint64_t pos = c.directoryOffset;
    for (std::uint32_t i = 0; i < c.entryCount; ++i) {
        IndexedEntry e;
        e.headerPos = pos;
        const ArchiveResult status =
            ReadHeaderAt(c, pos, e.header, e.localOffset, &e.name, &e.nameRead, &e.utf8Name, &e.ntfs);
        if (status != CATALOG_OK) {
            c.walkEndStatus = status;
            c.walkEndPos = pos;
            break;
        }
        pos = NextHeaderPos(pos, e.header);
        const bool named = e.nameRead;
        c.index.push_back(std::move(e));
        if (named) AddName(c, static_cast<std::int32_t>(i));
    }
}

// Puts the cursor on indexed entry k, valid, or, when k is the header after
// the last good one, on that header, not valid (the previous header kept).
ArchiveResult PlaceCursor(ArchiveCatalog& c, std::size_t k) {
    c.currentIndex = static_cast<std::int32_t>(k);
    if (k < c.index.size()) {
        const IndexedEntry& e = c.index[k];
        c.currentHeaderPos = e.headerPos;
        c.currentHeader = e.header;
        c.currentLocalOffset = e.localOffset;
        c.currentValid = true;
        return CATALOG_OK;
    }
    c.currentHeaderPos = c.walkEndPos;
    c.currentValid = false;
    return c.walkEndStatus;
}

struct Cursor {
    std::int32_t index;
    std::uint64_t headerPos;
    bool valid;
    EntryHeader header;
    std::uint64_t localOffset;
};

Cursor SaveCursor(const ArchiveCatalog& c) {
    return {c.currentIndex, c.currentHeaderPos, c.currentValid, c.currentHeader, c.currentLocalOffset};
}

void RestoreCursor(ArchiveCatalog& c, const Cursor& s) {
    c.currentIndex = s.index;
    c.currentHeaderPos = s.headerPos;
    c.currentValid = s.valid;
    c.currentHeader = s.header;
    c.currentLocalOffset = s.localOffset;
}

}  // namespace

bool FindEndRecord(ArchiveSource& source, std::uint64_t& position) {
    position = 0;
    if (!source.seekable) return false;
    std::uint64_t length = 0;
    if (!source.handle.GetSize(length) || length < source.startOffset) return false;
    const std::uint64_t size = length - source.startOffset;
    const std::uint64_t reach = std::min(size, kEndSearchReach);
    if (reach <= 4) return false;

    std::vector<std::uint8_t> window(kEndWindow);
    std::uint64_t back = 4;
    do {
        back = std::min(back + kEndStep, reach);
        const std::uint64_t windowStart = size - back;
        const std::size_t windowLength = static_cast<std::size_t>(std::min(back, kEndWindow));
        if (SeekSource(source, windowStart) != 0) return false;
        if (ReadSourceBytes(source, window.data(), 1, windowLength) != windowLength) return false;
        // From the end: a comment may hold the signature too, and the
        // occurrence nearest the end of the file is the one that counts.
        for (std::size_t i = windowLength - 4 + 1; i-- > 0;) {
            if (window[i] == 0x50 && window[i + 1] == 0x4B && window[i + 2] == 0x05 && window[i + 3] == 0x06) {
                position = windowStart + i;
                return true;
            }
        }
    } while (back < reach);
    return false;
}

namespace {

struct Zip64End {
    std::uint64_t entries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    std::uint64_t position = 0;  // where the record really stands (from the source start)
};

// Whether a ZIP64 end locator stands immediately before the end record at
// `endPos`.
bool HasZip64Locator(ArchiveSource& src, std::uint64_t endPos) {
    std::uint32_t signature = 0;
    return endPos >= kZip64LocatorSize && SeekSource(src, endPos - kZip64LocatorSize) == 0 &&
           ReadSourceUInt32(src, signature) == 0 && signature == kZip64LocatorSignature;
}

bool Zip64EndSignatureAt(ArchiveSource& src, std::uint64_t pos) {
    std::uint32_t signature = 0;
    return SeekSource(src, pos) == 0 && ReadSourceUInt32(src, signature) == 0 && signature == kZip64EndSignature;
}

// Reads the locator before the end record at `endPos` and the ZIP64 end
// record it leads to. The record is looked for where it normally stands,
// right before the locator, and then where the locator says; either way the
// locator's offset, shifted like every other offset by the bytes in front
// of the archive, must land on it. Anything that doesn't fit together is a
// damaged archive: a catalogue built from the classic record instead would
// be the wrong one.
ArchiveResult ReadZip64End(ArchiveSource& src, std::uint64_t endPos, Zip64End& out) {
    const std::uint64_t locatorPos = endPos - kZip64LocatorSize;
    std::uint32_t recordDisk = 0, diskCount = 0;
    std::uint64_t statedPos = 0;
    if (SeekSource(src, locatorPos + 4) != 0 || ReadSourceUInt32(src, recordDisk) != 0 ||
        ReadSourceUInt64(src, statedPos) != 0 || ReadSourceUInt32(src, diskCount) != 0)
        return CATALOG_IO_ERROR;
    if (recordDisk != 0 || diskCount > 1) return CATALOG_BAD_ARCHIVE;  // a split archive

    std::uint64_t at = 0;
    if (locatorPos >= kZip64EndFixed && Zip64EndSignatureAt(src, locatorPos - kZip64EndFixed)) {
        at = locatorPos - kZip64EndFixed;
    } else if (statedPos <= locatorPos && locatorPos - statedPos >= kZip64EndFixed &&
               Zip64EndSignatureAt(src, statedPos)) {
        at = statedPos;
    } else {
        return CATALOG_BAD_ARCHIVE;
    }

    std::uint64_t restSize = 0, entriesOnDisk = 0, entriesTotal = 0, size = 0, offset = 0;
    std::uint32_t versions = 0, disk = 0, directoryDisk = 0;
    if (SeekSource(src, at + 4) != 0 || ReadSourceUInt64(src, restSize) != 0 || ReadSourceUInt32(src, versions) != 0 ||
        ReadSourceUInt32(src, disk) != 0 || ReadSourceUInt32(src, directoryDisk) != 0 ||
        ReadSourceUInt64(src, entriesOnDisk) != 0 || ReadSourceUInt64(src, entriesTotal) != 0 ||
        ReadSourceUInt64(src, size) != 0 || ReadSourceUInt64(src, offset) != 0)
        return CATALOG_IO_ERROR;
    if (restSize < kZip64EndRestSize || restSize > locatorPos - at - 12) return CATALOG_BAD_ARCHIVE;
    if (disk != 0 || directoryDisk != 0) return CATALOG_BAD_ARCHIVE;
    if (entriesOnDisk != entriesTotal) return CATALOG_BAD_ARCHIVE;
    // Entries are numbered with a signed 32-bit index, and every central
    // header takes at least 46 bytes of the directory.
    if (entriesTotal > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
        entriesTotal > size / kCentralFixed)
        return CATALOG_BAD_ARCHIVE;
    if (offset > at || size > at - offset) return CATALOG_BAD_ARCHIVE;  // the directory would end after the record
    const std::uint64_t shift = at - (offset + size);
    if (statedPos > std::numeric_limits<std::uint64_t>::max() - shift || statedPos + shift != at)
        return CATALOG_BAD_ARCHIVE;
    out.entries = entriesTotal;
    out.directorySize = size;
    out.directoryOffset = offset;
    out.position = at;
    return CATALOG_OK;
}

// A classic field beside a ZIP64 record holds its all-ones placeholder or
// the same value (cut to the field's width, as some writers leave a count
// past 65,535). Anything else means the two records describe different
// archives, and neither can be trusted.
bool AgreesWith(std::uint64_t classic, std::uint64_t allOnes, std::uint64_t zip64) {
    return classic == allOnes || classic == (zip64 & allOnes);
}

}  // namespace

std::unique_ptr<ArchiveCatalog> BuildCatalog(std::unique_ptr<ArchiveSource> source) {
    lastOpenResult = 0;
    ArchiveResult status = CATALOG_OK;
    std::uint64_t pos = 0;
    // When nothing is found the fields are still read from the start of the
    // file, so a file that is plainly no archive reports BAD_ARCHIVE.
    const bool found = FindEndRecord(*source, pos);
    if (!found) status = CATALOG_IO_ERROR;
    const bool zip64 = found && HasZip64Locator(*source, pos);
    if (SeekSource(*source, pos) != 0) status = CATALOG_IO_ERROR;

    std::uint32_t signature = 0, disk = 0, directoryDisk = 0, entriesOnDisk = 0, entriesTotal = 0;
    std::uint32_t directorySize = 0, directoryOffset = 0, commentLength = 0;
    if (ReadSourceUInt32(*source, signature) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, disk) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, directoryDisk) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, entriesOnDisk) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, entriesTotal) != 0) status = CATALOG_IO_ERROR;
    // Beside a ZIP64 record the disk numbers may be placeholders too.
    auto diskOk = [&](std::uint32_t d) { return d == 0 || (zip64 && d == kAllOnes16); };
    if (entriesOnDisk != entriesTotal || !diskOk(disk) || !diskOk(directoryDisk)) status = CATALOG_BAD_ARCHIVE;
    if (ReadSourceUInt32(*source, directorySize) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt32(*source, directoryOffset) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, commentLength) != 0) status = CATALOG_IO_ERROR;

    std::uint64_t entries = entriesOnDisk;
    std::uint64_t size = directorySize;
    std::uint64_t offset = directoryOffset;
    // Where the directory ends: right before the end record, or right
    // before the ZIP64 record. The bytes between that and where the
    // directory says it ends came in front of the archive.
    std::uint64_t directoryEndPos = pos;
    if (status == CATALOG_OK && zip64) {
        Zip64End z;
        status = ReadZip64End(*source, pos, z);
        if (status == CATALOG_OK &&
            (!AgreesWith(entriesOnDisk, kAllOnes16, z.entries) || !AgreesWith(directorySize, kAllOnes32, z.directorySize) ||
             !AgreesWith(directoryOffset, kAllOnes32, z.directoryOffset)))
            status = CATALOG_BAD_ARCHIVE;
        entries = z.entries;
        size = z.directorySize;
        offset = z.directoryOffset;
        directoryEndPos = z.position;
    }
    const std::uint64_t directoryEnd = offset + size;
    if (status == CATALOG_OK && directoryEndPos + source->startOffset < directoryEnd) status = CATALOG_BAD_ARCHIVE;

    if (status != CATALOG_OK) {
        source.reset();  // closes the file
        lastOpenResult = status;
        return nullptr;
    }

    auto catalog = std::make_unique<ArchiveCatalog>();
    catalog->entryCount = static_cast<std::uint32_t>(entries);
    catalog->archiveCommentLength = commentLength;
    catalog->leadingBytes = source->startOffset + directoryEndPos - directoryEnd;
    catalog->endRecordPos = pos;
    catalog->directorySize = size;
    catalog->directoryOffset = offset;
    catalog->zip64 = zip64;
    source->startOffset = 0;
    catalog->source = std::move(source);
    BuildIndex(*catalog);
    GoToFirstEntry(catalog.get());  // a bad entry 0 still leaves a catalogue
    return catalog;
}

ArchiveResult ReadEntryHeader(ArchiveCatalog* catalog, EntryHeader* header, std::uint64_t* localOffset,
                              std::string* name) {
    if (!catalog || !catalog->source) return CATALOG_BAD_PARAMETER;
    EntryHeader h;
    std::uint64_t local = 0;
    bool nameRead = true;
    std::string n;
    const ArchiveResult status =
        ReadHeaderAt(*catalog, catalog->currentHeaderPos, h, local, name ? &n : nullptr, &nameRead);
    if (status != CATALOG_OK) return status;
    if (name && !nameRead) return CATALOG_IO_ERROR;
    if (header) *header = h;
    if (localOffset) *localOffset = local;
    if (name) *name = std::move(n);
    return CATALOG_OK;
}

ArchiveResult GoToFirstEntry(ArchiveCatalog* catalog) {
    if (!catalog) return CATALOG_BAD_PARAMETER;
    if (catalog->entryCount == 0) {
        // An archive without entries has no entry 0 to stand on, whatever
        // bytes lie at the directory offset: nothing can be walked or found.
        catalog->currentIndex = 0;
        catalog->currentHeaderPos = catalog->directoryOffset;
        catalog->currentValid = false;
        return CATALOG_END_OF_LIST;
    }
    return PlaceCursor(*catalog, 0);
}

ArchiveResult GoToNextEntry(ArchiveCatalog* catalog) {
    if (!catalog) return CATALOG_BAD_PARAMETER;
    if (!catalog->currentValid || static_cast<std::uint32_t>(catalog->currentIndex) + 1 == catalog->entryCount)
        return CATALOG_END_OF_LIST;
    return PlaceCursor(*catalog, static_cast<std::size_t>(catalog->currentIndex) + 1);
}

bool MoveCursorTo(ArchiveCatalog* catalog, std::int32_t i) {
    if (!catalog || i < 0) return false;
    if (i < catalog->currentIndex) GoToFirstEntry(catalog);
    if (catalog->currentIndex < i) {
        if (!catalog->currentValid) return false;  // a walk from here ends at once
        // Walking forward stops at the first header that doesn't read.
        PlaceCursor(*catalog, std::min<std::size_t>(static_cast<std::size_t>(i), catalog->index.size()));
    }
    return catalog->currentIndex == i && catalog->currentValid;
}

namespace {

// The sizes of a local header whose classic size fields hold all ones, from
// its 0x0001 block. The format asks for both sizes there (uncompressed,
// then compressed) whenever the block is present; a writer that put in only
// the ones it had to gets them read in the same order.
ArchiveResult LocalZip64Sizes(ArchiveSource& src, std::uint64_t extraPos, std::uint32_t extraLength,
                              std::uint64_t& compressed, std::uint64_t& uncompressed) {
    std::vector<std::uint8_t> extra(extraLength);
    if (SeekSource(src, extraPos) != 0 ||
        (extraLength > 0 && ReadSourceBytes(src, extra.data(), 1, extra.size()) != extra.size()))
        return CATALOG_IO_ERROR;
    const std::uint8_t* block = nullptr;
    std::size_t blockSize = 0;
    const bool wellFormed = FindZip64Block(extra, block, blockSize);
    if (!wellFormed || !block) return CATALOG_BAD_ARCHIVE;
    const bool wantUncompressed = uncompressed == kAllOnes32, wantCompressed = compressed == kAllOnes32;
    if (blockSize >= 16) {
        if (wantUncompressed) uncompressed = LittleEndian(block, 8);
        if (wantCompressed) compressed = LittleEndian(block + 8, 8);
        return CATALOG_OK;
    }
    if (blockSize < 8 * (std::size_t{wantUncompressed} + wantCompressed)) return CATALOG_BAD_ARCHIVE;
    std::size_t at = 0;
    if (wantUncompressed) uncompressed = LittleEndian(block, 8), at = 8;
    if (wantCompressed) compressed = LittleEndian(block + at, 8);
    return CATALOG_OK;
}

}  // namespace

ArchiveResult CheckLocalHeader(ArchiveCatalog* catalog, LocalHeaderInfo& info) {
    info = LocalHeaderInfo{};
    if (!catalog || !catalog->source) return CATALOG_BAD_PARAMETER;
    if (catalog->currentValid && catalog->localCheckedIndex == catalog->currentIndex) {
        info.nameAndExtraLength = catalog->localNameAndExtraLength;
        info.extraOffset = catalog->currentLocalOffset + kLocalFixed + catalog->localNameAndExtraLength -
                           catalog->localExtraLength;
        info.extraLength = catalog->localExtraLength;
        return CATALOG_OK;
    }
    catalog->localCheckedIndex = -1;
    ArchiveSource& src = Source(*catalog);
    if (SeekSource(src, catalog->leadingBytes + catalog->currentLocalOffset) != 0) return CATALOG_IO_ERROR;

    const EntryHeader& central = catalog->currentHeader;
    ArchiveResult status = CATALOG_OK;
    auto read16 = [&](std::uint32_t& v) {
        if (ReadSourceUInt16(src, v) != 0) status = CATALOG_IO_ERROR;
    };
    auto read32 = [&](std::uint32_t& v) {
        if (ReadSourceUInt32(src, v) != 0) status = CATALOG_IO_ERROR;
    };
    auto expect = [&](bool ok) {
        if (status == CATALOG_OK && !ok) status = CATALOG_BAD_ARCHIVE;
    };

    std::uint32_t signature = 0, version = 0, flags = 0, method = 0, dosDateTime = 0, crc = 0;
    std::uint32_t compressed = 0, uncompressed = 0, nameLength = 0, extraLength = 0;
    read32(signature);
    expect(signature == kLocalSignature);
    read16(version);
    read16(flags);
    read16(method);
    expect(method == central.method && (central.method == 0 || central.method == 8));
    read32(dosDateTime);
    const bool sizesFollowData = (flags & kFlagDataDescriptor) != 0;
    read32(crc);
    if (!sizesFollowData) expect(crc == central.crc32);
    read32(compressed);
    read32(uncompressed);
    read16(nameLength);
    read16(extraLength);
    if (!sizesFollowData) {
        std::uint64_t localCompressed = compressed, localUncompressed = uncompressed;
        if (status == CATALOG_OK && (compressed == kAllOnes32 || uncompressed == kAllOnes32))
            status = LocalZip64Sizes(src, catalog->leadingBytes + catalog->currentLocalOffset + kLocalFixed + nameLength,
                                     extraLength, localCompressed, localUncompressed);
        expect(localCompressed == central.compressedSize);
        expect(localUncompressed == central.uncompressedSize);
    }
    expect(nameLength == central.nameLength);

    info.nameAndExtraLength = nameLength + extraLength;
    info.extraOffset = catalog->currentLocalOffset + kLocalFixed + nameLength;
    info.extraLength = extraLength;
    if (status == CATALOG_OK && catalog->currentValid) {
        catalog->localCheckedIndex = catalog->currentIndex;
        catalog->localNameAndExtraLength = info.nameAndExtraLength;
        catalog->localExtraLength = extraLength;
    }
    return status;
}

ArchiveResult LocateEntryByName(ArchiveCatalog* catalog, std::u16string_view name) {
    if (!catalog) return CATALOG_BAD_PARAMETER;
    if (name.size() >= 256) return CATALOG_BAD_PARAMETER;
    // Each entry is compared in its own encoding: the ANSI code page unless
    // its UTF-8 flag is set.
    const std::string ansiKey = FoldEntryName(VisibleName(platform::Utf16ToAnsi(name)), false);
    const std::string utf8Key = FoldEntryName(VisibleName(platform::Utf16ToUtf8(name)), true);
    if (!catalog->currentValid) return CATALOG_END_OF_LIST;

    const Cursor saved = SaveCursor(*catalog);
    const ArchiveResult first = GoToFirstEntry(catalog);
    if (first != CATALOG_OK) {
        RestoreCursor(*catalog, saved);
        return first;
    }
    std::int32_t found = LookUpName(*catalog, ansiKey, false);
    if (const std::int32_t utf8 = LookUpName(*catalog, utf8Key, true); utf8 >= 0)
        found = found < 0 ? utf8 : std::min(found, utf8);
    if (found >= 0) {
        PlaceCursor(*catalog, static_cast<std::size_t>(found));
        return CATALOG_OK;
    }
    // No match: the walk would have ended at the last entry, or at the first
    // header that doesn't read, with that header's status.
    const ArchiveResult end =
        catalog->index.size() == catalog->entryCount ? CATALOG_END_OF_LIST : catalog->walkEndStatus;
    RestoreCursor(*catalog, saved);
    return end;
}

std::string FoldEntryName(std::string_view name, bool utf8) {
    // Every byte of a UTF-8 multi-byte character is 0x80 or above, so only
    // the ANSI code page has bytes that belong to a longer character and
    // still look like letters.
    const unsigned codePage = utf8 ? 0 : platform::AnsiCodePage();
    std::string s(name);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (IsLeadByte(codePage, b)) {
            ++i;  // the trail byte goes with it, unfolded
        } else if (b >= 0x61 && b <= 0x7A) {
            s[i] = static_cast<char>(b - 0x20);
        }
    }
    return s;
}

std::uint32_t AttributesFromExternal(std::uint32_t a) {
    std::uint32_t attributes = 0x80;
    if ((a & 0x40000000u) || (a & 0x10u)) attributes = 0x90;
    if (a & 0x20u) attributes |= 0x20;
    if (a & 0x02u) attributes |= 0x02;
    if (!(a & 0x00800000u) || (a & 0x01u)) attributes |= 0x01;
    if (a & 0x04u) attributes |= 0x04;
    return attributes;
}

namespace {

std::uint64_t FileTimeFromUnixSeconds(std::int32_t stamp) {
    // Through the UTC calendar, as the stamp is defined; any 32-bit stamp,
    // before 1970 included, lies inside the file-time range.
    platform::FileTime ft = 0;
    const platform::CalendarTime c = platform::UtcCalendarFromUnixSeconds(stamp);
    if (!platform::CalendarToFileTime(c, ft)) return 0;
    return ft;
}

std::int32_t StampAt(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                            (std::uint32_t{p[3]} << 24);
    return static_cast<std::int32_t>(v);
}

}  // namespace

NtfsTimes NtfsTimesOf(const std::uint8_t* extra, std::size_t extraLength) {
    NtfsTimes found;
    bool seen = false;
    const bool blocksFit = WalkExtraBlocks(extra, extraLength, [&](std::uint16_t tag, const std::uint8_t* data,
                                                                   std::size_t size) {
        if (tag != kTagNtfs) return true;
        seen = true;
        // Four reserved bytes, then attributes: a 2-byte tag, a 2-byte size
        // and that many bytes. Attribute 1 is the three times; one of
        // another size, or attributes that overrun the field, make the
        // field malformed, and nothing of it is believed.
        std::size_t at = 4;
        NtfsTimes times;
        bool malformed = size < 4;
        while (!malformed && size - at >= 4) {
            const auto attribute = static_cast<std::uint16_t>(LittleEndian(data + at, 2));
            const auto length = static_cast<std::size_t>(LittleEndian(data + at + 2, 2));
            at += 4;
            if (length > size - at || (attribute == 1 && length != 24)) {
                malformed = true;
                break;
            }
            if (attribute == 1) {
                times.write = LittleEndian(data + at, 8);
                times.access = LittleEndian(data + at + 8, 8);
                times.creation = LittleEndian(data + at + 16, 8);
            }
            at += length;
        }
        if (!malformed && at != size) malformed = true;
        if (!malformed) found = times;
        return false;  // the first NTFS field decides
    });
    if (!seen || !blocksFit) return NtfsTimes{};
    // Windows takes no file time at or past 2^63; such a value is no time.
    for (std::uint64_t* t : {&found.write, &found.access, &found.creation})
        if (*t >= (std::uint64_t{1} << 63)) *t = 0;
    return found;
}

void TimesFromHeader(std::uint32_t dosDateTime, const std::uint8_t* extra, std::size_t extraLength,
                     const NtfsTimes& ntfs, std::uint64_t& accessTime, std::uint64_t& creationTime,
                     std::uint64_t& writeTime) {
    platform::FileTime dos = 0;
    // A DOS stamp is the local wall clock of the machine that wrote it. One
    // the system refuses (all zeros, month 0...) gives no time: 0, which
    // extraction leaves unset.
    if (!platform::LocalDosDateTimeToFileTime(static_cast<std::uint16_t>(dosDateTime >> 16),
                                              static_cast<std::uint16_t>(dosDateTime & 0xFFFF), dos))
        dos = 0;
    accessTime = creationTime = writeTime = dos;
    // The NTFS times are the finest; each one present wins over the UT and
    // DOS times below.
    auto finest = [&] {
        if (ntfs.write) writeTime = ntfs.write;
        if (ntfs.access) accessTime = ntfs.access;
        if (ntfs.creation) creationTime = ntfs.creation;
    };
    if (extraLength <= 4) return finest();

    std::size_t offset = 0;
    while (offset + 4 < extraLength) {
        const std::uint16_t size = static_cast<std::uint16_t>(extra[offset + 2] | (extra[offset + 3] << 8));
        if (extra[offset] == 0x55 && extra[offset + 1] == 0x54) {
            const std::uint8_t flags = extra[offset + 4];
            std::size_t stamp = offset + 5;
            auto next = [&](std::uint64_t& into) {
                if (stamp + 4 <= extraLength) into = FileTimeFromUnixSeconds(StampAt(extra + stamp));
                stamp += 4;
            };
            if (flags & 1) next(writeTime);
            if (flags & 2) next(accessTime);
            if (flags & 4) next(creationTime);
            return finest();
        }
        offset += std::size_t{size} + 4;
    }
    finest();
}

ArchiveResult GetEntry(ArchiveReader* reader, std::int32_t i, ArchiveEntryA& record) {
    if (!reader || !reader->catalog) return ARCHIVE_BAD_ARGUMENT;
    ArchiveCatalog& c = *reader->catalog;
    if (i < -1 || (i >= 0 && static_cast<std::uint32_t>(i) >= c.entryCount)) return ARCHIVE_BAD_ARGUMENT;
    CloseHeldStream(reader);
    if (i == -1) {
        record = ArchiveEntryA{};
        record.index = static_cast<std::int32_t>(c.entryCount);
        return ARCHIVE_OK;
    }
    if (i == reader->cachedIndex) {
        record = reader->cachedEntry;
        return ARCHIVE_OK;
    }
    if (!MoveCursorTo(&c, i)) return ARCHIVE_CORRUPT;

    const IndexedEntry& indexed = c.index[static_cast<std::size_t>(i)];
    if (!indexed.nameRead) return ARCHIVE_CORRUPT;
    LocalHeaderInfo local;
    if (CheckLocalHeader(&c, local) != CATALOG_OK) return ARCHIVE_CORRUPT;

    std::vector<std::uint8_t> extra(local.extraLength);
    if (SeekSource(*c.source, c.leadingBytes + local.extraOffset) != 0) return ARCHIVE_READ_FAILED;
    if (!extra.empty() && ReadSourceBytes(*c.source, extra.data(), 1, extra.size()) != extra.size())
        return ARCHIVE_READ_FAILED;

    ArchiveEntryA built;
    built.index = c.currentIndex;
    built.name = std::string(VisibleName(indexed.name));
    built.utf8Name = indexed.utf8Name;
    built.attributes = AttributesFromExternal(c.currentHeader.externalAttributes);
    built.compressedSize = c.currentHeader.compressedSize;
    built.uncompressedSize = c.currentHeader.uncompressedSize;
    built.crc32 = c.currentHeader.crc32;
    TimesFromHeader(c.currentHeader.dosDateTime, extra.data(), extra.size(), indexed.ntfs, built.accessTime,
                    built.creationTime, built.writeTime);
    reader->cachedEntry = built;
    reader->cachedIndex = i;
    record = std::move(built);
    return ARCHIVE_OK;
}
