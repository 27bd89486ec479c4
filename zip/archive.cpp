// Handle-level operations: open, close, describe an entry, find one by name.
// Each keeps its result in lastReaderResult as well as returning it.

#include "platform/fs.h"
#include "platform/text.h"
#include "zip/reader.h"

thread_local std::int32_t lastReaderResult = 0;
thread_local std::int32_t lastWriterResult = 0;

ArchiveHandle::ArchiveHandle() = default;
ArchiveHandle::~ArchiveHandle() = default;

ArchiveReader::~ArchiveReader() {
    // Closing a reader drops the status of a stream still open (a CRC
    // mismatch of half-read data means nothing).
    if (catalog && catalog->openStream) CloseEntryStream(catalog.get());
}

void CloseHeldStream(ArchiveReader* reader) {
    if (reader->openEntryIndex != -1 && reader->catalog) CloseEntryStream(reader->catalog.get());
    reader->openEntryIndex = -1;
}

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// The handle checks every handle-level operation starts with.
ArchiveResult CheckHandle(const ArchiveHandle* handle) {
    if (!handle || !handle->reader) return ARCHIVE_BAD_ARGUMENT;
    if (handle->kind != 1) return ARCHIVE_WRONG_KIND;
    return ARCHIVE_OK;
}

ArchiveResult Keep(ArchiveResult result) {
    lastReaderResult = result;
    return result;
}

void FillEntry(const ArchiveEntryA& a, ArchiveEntry& entry) {
    entry.index = a.index;
    entry.attributes = a.attributes;
    entry.accessTime = a.accessTime;
    entry.creationTime = a.creationTime;
    entry.writeTime = a.writeTime;
    entry.compressedSize = a.compressedSize;
    entry.uncompressedSize = a.uncompressedSize;
    entry.crc32 = a.crc32;
    entry.name = a.utf8Name ? platform::Utf8ToUtf16(a.name) : platform::AnsiToUtf16(a.name);
}

}  // namespace

std::unique_ptr<ArchiveHandle> OpenArchive(const std::u16string& path) {
    std::u16string current;
    if (!platform::GetCurrentFolder(current)) current.clear();
    return OpenArchiveIn(path, current);
}

std::unique_ptr<ArchiveHandle> OpenArchiveIn(const std::u16string& path, std::u16string baseFolder) {
    auto reader = std::make_unique<ArchiveReader>();
    if (!baseFolder.empty()) {
        // A folder that already ends in a separator (a drive root) gets no
        // second one.
        if (!IsSeparator(baseFolder.back())) baseFolder.push_back(platform::kPathSeparator);
        reader->baseFolder = std::move(baseFolder);
    }

    ArchiveResult result = ARCHIVE_OK;
    std::unique_ptr<ArchiveSource> source = OpenArchiveSource(path, result);
    if (source) {
        reader->catalog = BuildCatalog(std::move(source));
        result = lastOpenResult;
    }
    lastReaderResult = result;
    if (result != ARCHIVE_OK) return nullptr;
    auto handle = std::make_unique<ArchiveHandle>();
    handle->kind = 1;
    handle->reader = std::move(reader);
    return handle;
}

std::unique_ptr<ArchiveHandle> OpenArchiveAlongside(const ArchiveHandle& original, const std::u16string& path) {
    if (original.kind != 1 || !original.reader || !original.reader->catalog) {
        lastReaderResult = ARCHIVE_BAD_ARGUMENT;
        return nullptr;
    }
    const ArchiveReader& first = *original.reader;
    const ArchiveCatalog& built = *first.catalog;
    ArchiveResult result = ARCHIVE_OK;
    std::unique_ptr<ArchiveSource> source = OpenArchiveSource(path, result);
    // Only a file read by position can be read again from the start; the
    // shared catalogue's positions mean nothing to a pipe.
    if (!source || !source->seekable || !built.source || !built.source->seekable) {
        lastReaderResult = ARCHIVE_NO_FILE;
        return nullptr;
    }
    source->startOffset = 0;  // as the first handle's, folded into leadingBytes

    auto catalog = std::make_unique<ArchiveCatalog>(built.shared);
    catalog->source = std::move(source);
    catalog->entryCount = built.entryCount;
    catalog->archiveCommentLength = built.archiveCommentLength;
    catalog->leadingBytes = built.leadingBytes;
    catalog->endRecordPos = built.endRecordPos;
    catalog->directorySize = built.directorySize;
    catalog->directoryOffset = built.directoryOffset;
    catalog->zip64 = built.zip64;
    GoToFirstEntry(catalog.get());

    auto reader = std::make_unique<ArchiveReader>();
    reader->baseFolder = first.baseFolder;
    reader->catalog = std::move(catalog);
    auto handle = std::make_unique<ArchiveHandle>();
    handle->kind = 1;
    handle->reader = std::move(reader);
    lastReaderResult = ARCHIVE_OK;
    return handle;
}

ArchiveResult CloseArchive(std::unique_ptr<ArchiveHandle>& handle) {
    if (!handle) return Keep(ARCHIVE_BAD_ARGUMENT);
    if (handle->kind != 1) {
        lastWriterResult = ARCHIVE_WRONG_KIND;
        return ARCHIVE_WRONG_KIND;
    }
    if (handle->reader) {
        CloseHeldStream(handle->reader.get());
        handle->reader->catalog.reset();  // closes a stream still open, then the file
    }
    handle.reset();
    return Keep(ARCHIVE_OK);
}

ArchiveResult GetArchiveEntry(ArchiveHandle* handle, std::int32_t index, ArchiveEntry& entry) {
    if (const ArchiveResult check = CheckHandle(handle); check != ARCHIVE_OK) return Keep(check);
    ArchiveEntryA record;
    const ArchiveResult result = GetEntry(handle->reader.get(), index, record);
    if (result == ARCHIVE_OK) FillEntry(record, entry);
    return Keep(result);
}

ArchiveResult FindEntryByName(ArchiveHandle* handle, std::u16string_view name, std::int32_t* index,
                              ArchiveEntry& entry) {
    if (const ArchiveResult check = CheckHandle(handle); check != ARCHIVE_OK) return Keep(check);
    ArchiveReader* reader = handle->reader.get();
    if (LocateEntryByName(reader->catalog.get(), name) != CATALOG_OK) {
        if (index) *index = -1;
        return Keep(ARCHIVE_NOT_FOUND);
    }
    CloseHeldStream(reader);
    const std::int32_t found = reader->catalog->currentIndex;
    if (index) *index = found;
    ArchiveEntryA record;
    const ArchiveResult result = GetEntry(reader, found, record);
    if (result != ARCHIVE_OK) return Keep(result);
    FillEntry(record, entry);
    return Keep(ARCHIVE_OK);
}
