// The archive's structure: the end record, a cursor over the central
// directory, entry records with their attributes and times, and the search
// by name.
//
// The directory is walked once, when the catalogue is built, into an index of
// header positions and ASCII-upper-cased names. Every cursor move and search
// then gives exactly what walking the file header by header would give (the
// same statuses, the cursor left at the same entry, the first match in
// directory order), but at constant cost, so a restore that looks up each of
// n entries by name does not read the directory n times.

#include <algorithm>
#include <cstring>

#include "platform/file_time.h"
#include "platform/text.h"
#include "zip/reader.h"

thread_local std::int32_t lastOpenResult = 0;

namespace {

constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint64_t kCentralFixed = 46;
constexpr std::uint64_t kLocalFixed = 30;

constexpr std::uint64_t kEndSearchReach = 0xFFFF;
constexpr std::uint64_t kEndWindow = 1028;
constexpr std::uint64_t kEndStep = 1024;

ArchiveSource& Source(ArchiveCatalog& c) { return *c.source; }

std::string UpperAscii(std::string_view name) {
    std::string s(name);
    for (char& ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x61 && b <= 0x7A) ch = static_cast<char>(b - 0x20);
    }
    return s;
}

// The name as every consumer sees it: up to the first zero byte, as a
// terminated 8-bit string would be.
std::string_view VisibleName(std::string_view raw) {
    const auto zero = raw.find('\0');
    return zero == std::string_view::npos ? raw : raw.substr(0, zero);
}

// Reads the central header at `pos` from the file. The status follows the
// field-by-field rules: a wrong signature is BAD_ARCHIVE, any failed read
// IO_ERROR. `nameRead` tells whether the name bytes arrived.
ArchiveResult ReadHeaderAt(ArchiveCatalog& c, std::uint64_t pos, EntryHeader& header, std::uint64_t& localOffset,
                           std::string* name, bool* nameRead) {
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
    std::uint32_t* const fields32[] = {&h.dosDateTime, &h.crc32, &h.compressedSize, &h.uncompressedSize};
    for (auto* f : fields32)
        if (ReadSourceUInt32(src, *f) != 0) status = CATALOG_IO_ERROR;
    std::uint32_t* const fields16b[] = {&h.nameLength, &h.extraLength, &h.commentLength, &h.diskNumberStart,
                                        &h.internalAttributes};
    for (auto* f : fields16b)
        if (ReadSourceUInt16(src, *f) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt32(src, h.externalAttributes) != 0) status = CATALOG_IO_ERROR;
    std::uint32_t local = 0;
    if (ReadSourceUInt32(src, local) != 0) return CATALOG_IO_ERROR;
    if (status != CATALOG_OK) return status;

    if (name) {
        name->assign(h.nameLength, '\0');
        const bool ok = h.nameLength == 0 || ReadSourceBytes(src, name->data(), 1, h.nameLength) == h.nameLength;
        if (nameRead) *nameRead = ok;
        if (!ok) name->clear();
    }
    header = h;
    localOffset = local;
    return CATALOG_OK;
}

std::uint64_t NextHeaderPos(std::uint64_t pos, const EntryHeader& h) {
    return pos + kCentralFixed + h.nameLength + h.extraLength + h.commentLength;
}

// Walks the whole directory once from entry 0, as GoToNextEntry would, and
// keeps every header that reads correctly.
void BuildIndex(ArchiveCatalog& c) {
    c.index.clear();
    c.ansiNames.clear();
    c.utf8Names.clear();
    c.walkEndStatus = CATALOG_OK;
    std::uint64_t pos = c.directoryOffset;
    for (std::uint32_t i = 0; i < c.entryCount; ++i) {
        IndexedEntry e;
        e.headerPos = pos;
        const ArchiveResult status = ReadHeaderAt(c, pos, e.header, e.localOffset, &e.name, &e.nameRead);
        if (status != CATALOG_OK) {
            c.walkEndStatus = status;
            c.walkEndPos = pos;
            break;
        }
        pos = NextHeaderPos(pos, e.header);
        if (e.nameRead) {
            auto& table = (e.header.flags & kFlagUtf8Name) ? c.utf8Names : c.ansiNames;
            table.emplace(UpperAscii(VisibleName(e.name)), static_cast<std::int32_t>(i));
        }
        c.index.push_back(std::move(e));
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

std::unique_ptr<ArchiveCatalog> BuildCatalog(std::unique_ptr<ArchiveSource> source) {
    lastOpenResult = 0;
    ArchiveResult status = CATALOG_OK;
    std::uint64_t pos = 0;
    // When nothing is found the fields are still read from the start of the
    // file, so a file that is plainly no archive reports BAD_ARCHIVE.
    if (!FindEndRecord(*source, pos)) status = CATALOG_IO_ERROR;
    if (SeekSource(*source, pos) != 0) status = CATALOG_IO_ERROR;

    std::uint32_t signature = 0, disk = 0, directoryDisk = 0, entriesOnDisk = 0, entriesTotal = 0;
    std::uint32_t directorySize = 0, directoryOffset = 0, commentLength = 0;
    if (ReadSourceUInt32(*source, signature) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, disk) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, directoryDisk) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, entriesOnDisk) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, entriesTotal) != 0) status = CATALOG_IO_ERROR;
    if (entriesOnDisk != entriesTotal || disk != 0 || directoryDisk != 0) status = CATALOG_BAD_ARCHIVE;
    if (ReadSourceUInt32(*source, directorySize) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt32(*source, directoryOffset) != 0) status = CATALOG_IO_ERROR;
    if (ReadSourceUInt16(*source, commentLength) != 0) status = CATALOG_IO_ERROR;

    const std::uint64_t directoryEnd = std::uint64_t{directoryOffset} + directorySize;
    if (status == CATALOG_OK && pos + source->startOffset < directoryEnd) status = CATALOG_BAD_ARCHIVE;

    if (status != CATALOG_OK) {
        source.reset();  // closes the file
        lastOpenResult = status;
        return nullptr;
    }

    auto catalog = std::make_unique<ArchiveCatalog>();
    catalog->entryCount = entriesOnDisk;
    catalog->archiveCommentLength = commentLength;
    catalog->leadingBytes = source->startOffset + pos - directoryEnd;
    catalog->endRecordPos = pos;
    catalog->directorySize = directorySize;
    catalog->directoryOffset = directoryOffset;
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

ArchiveResult CheckLocalHeader(ArchiveCatalog* catalog, LocalHeaderInfo& info) {
    info = LocalHeaderInfo{};
    if (!catalog || !catalog->source) return CATALOG_BAD_PARAMETER;
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
    if (!sizesFollowData) expect(compressed == central.compressedSize);
    read32(uncompressed);
    if (!sizesFollowData) expect(uncompressed == central.uncompressedSize);
    read16(nameLength);
    expect(nameLength == central.nameLength);
    read16(extraLength);

    info.nameAndExtraLength = nameLength + extraLength;
    info.extraOffset = catalog->currentLocalOffset + kLocalFixed + nameLength;
    info.extraLength = extraLength;
    return status;
}

ArchiveResult LocateEntryByName(ArchiveCatalog* catalog, std::u16string_view name) {
    if (!catalog) return CATALOG_BAD_PARAMETER;
    if (name.size() >= 256) return CATALOG_BAD_PARAMETER;
    // Each entry is compared in its own encoding: the ANSI code page unless
    // its UTF-8 flag is set.
    const std::string ansiKey = UpperAscii(VisibleName(platform::Utf16ToAnsi(name)));
    const std::string utf8Key = UpperAscii(VisibleName(platform::Utf16ToUtf8(name)));
    if (!catalog->currentValid) return CATALOG_END_OF_LIST;

    const Cursor saved = SaveCursor(*catalog);
    const ArchiveResult first = GoToFirstEntry(catalog);
    if (first != CATALOG_OK) {
        RestoreCursor(*catalog, saved);
        return first;
    }
    std::int32_t found = -1;
    if (auto it = catalog->ansiNames.find(ansiKey); it != catalog->ansiNames.end()) found = it->second;
    if (auto it = catalog->utf8Names.find(utf8Key); it != catalog->utf8Names.end())
        found = found < 0 ? it->second : std::min(found, it->second);
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

void TimesFromHeader(std::uint32_t dosDateTime, const std::uint8_t* extra, std::size_t extraLength,
                     std::uint64_t& accessTime, std::uint64_t& creationTime, std::uint64_t& writeTime) {
    platform::FileTime dos = 0;
    // A DOS stamp the system refuses (all zeros, month 0...) gives no time:
    // 0, which extraction leaves unset.
    if (!platform::DosDateTimeToFileTime(static_cast<std::uint16_t>(dosDateTime >> 16),
                                         static_cast<std::uint16_t>(dosDateTime & 0xFFFF), dos))
        dos = 0;
    accessTime = creationTime = writeTime = dos;
    if (extraLength <= 4) return;

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
            return;
        }
        offset += std::size_t{size} + 4;
    }
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
    built.utf8Name = (c.currentHeader.flags & kFlagUtf8Name) != 0;
    built.attributes = AttributesFromExternal(c.currentHeader.externalAttributes);
    built.compressedSize = c.currentHeader.compressedSize;
    built.uncompressedSize = c.currentHeader.uncompressedSize;
    TimesFromHeader(c.currentHeader.dosDateTime, extra.data(), extra.size(), built.accessTime, built.creationTime,
                    built.writeTime);
    reader->cachedEntry = built;
    reader->cachedIndex = i;
    record = std::move(built);
    return ARCHIVE_OK;
}
