// Writing one entry to disk: a file at the path the caller chose, with the
// entry's attributes and times, or a folder chain below the reader's base
// folder. A result of ARCHIVE_OK means the file holds exactly the entry's
// content: every way the data can be wrong (cut short, corrupt, CRC
// mismatch, encrypted) is a failure.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "zip/reader.h"

namespace {

// Bigger than the stream's input chunk: inflate is markedly faster with room
// to write into, and the buffer is one per extraction, not per byte.
constexpr std::uint32_t kCopyBuffer = 256 * 1024;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

ArchiveResult Fail(ExtractFailure* failure, ExtractFailure why, ArchiveResult result) {
    if (failure) *failure = why;
    lastReaderResult = result;
    return result;
}

std::u16string WithNativeSeparators(std::u16string_view path) {
    std::u16string s(path);
    for (char16_t& c : s)
        if (IsSeparator(c)) c = platform::kPathSeparator;
    return s;
}

void MakeChain(std::u16string_view root, std::u16string_view path) {
    if (path.empty()) return;
    std::size_t last = std::u16string_view::npos;
    for (std::size_t i = path.size(); i-- > 0;)
        if (IsSeparator(path[i])) {
            last = i;
            break;
        }
    if (last != std::u16string_view::npos && last > 0) MakeChain(root, path.substr(0, last));
    // The result is not looked at: a folder that is already there, or one
    // that can't be made, shows up when the file inside it is created.
    platform::MakeFolder(std::u16string(root) + WithNativeSeparators(path));
}

// The checks a target path's folder part must pass before folders are made
// for it (the name checks of EnsureFolderChain come on top).
bool FolderPartLooksRelative(std::u16string_view folder) {
    if (folder.empty() || IsSeparator(folder[0])) return false;
    if (folder.size() >= 2 && folder[1] == u':') return false;
    if (folder.find(u"../") != std::u16string_view::npos) return false;
    if (folder.find(u"..\\") != std::u16string_view::npos) return false;
    return true;
}

}  // namespace

bool IsSafeEntryName(std::u16string_view name) {
    if (!name.empty() && IsSeparator(name[0])) return false;
    if (name.find(u':') != std::u16string_view::npos) return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        if (name.substr(start, end - start) == u"..") return false;
        start = end + 1;
    }
    return true;
}

void EnsureFolderChain(std::u16string_view root, std::u16string_view path) {
    if (root.empty() || path.empty()) return;
    if (!IsSafeEntryName(path)) return;
    if (!platform::PathFits(std::u16string(root) + std::u16string(path))) return;
    MakeChain(root, path);
}

namespace {

// The output file of ExtractEntry as a sink.
class FileSink : public EntrySink {
public:
    explicit FileSink(platform::File& file) : file_(file) {}
    bool Write(const std::uint8_t* data, std::size_t size) override { return file_.Write(data, size); }
    ExtractFailure WriteFailure() const override {
        return file_.OutOfRoom() ? ExtractFailure::kDiskFull : ExtractFailure::kWriteFailed;
    }

private:
    platform::File& file_;
};

// Steps shared by both extractions up to the entry's record: the handle,
// the index, the cursor. ARCHIVE_OK with `entry` filled, or the failure.
ArchiveResult PrepareEntry(ArchiveHandle* handle, std::int32_t index, ArchiveEntryA& entry, ExtractFailure* failure) {
    if (failure) *failure = ExtractFailure::kNone;
    if (!handle || !handle->reader) return Fail(failure, ExtractFailure::kNone, ARCHIVE_BAD_ARGUMENT);
    if (handle->kind != 1) return Fail(failure, ExtractFailure::kNone, ARCHIVE_WRONG_KIND);
    ArchiveReader* reader = handle->reader.get();
    ArchiveCatalog* catalog = reader->catalog.get();
    CloseHeldStream(reader);
    // Negative indexes name no entry (-1 would be the archive-wide record).
    if (index < 0 || static_cast<std::uint32_t>(index) >= catalog->entryCount)
        return Fail(failure, ExtractFailure::kNone, ARCHIVE_BAD_ARGUMENT);
    if (!MoveCursorTo(catalog, index)) return Fail(failure, ExtractFailure::kOpenFailed, ARCHIVE_CORRUPT);
    if (const ArchiveResult r = GetEntry(reader, index, entry); r != ARCHIVE_OK)
        return Fail(failure, ExtractFailure::kOpenFailed, r);
    return ARCHIVE_OK;
}

// Streams the entry under the cursor into the sink and judges the data once
// the stream has ended. kNone when every byte arrived and checked out.
ExtractFailure ReadFailure(std::int32_t got) {
    return got == CATALOG_BAD_PARAMETER ? ExtractFailure::kOpenFailed : ExtractFailure::kReadFailed;
}

ExtractFailure CopyEntry(ArchiveReader* reader, EntrySink& sink) {
    ArchiveCatalog* catalog = reader->catalog.get();
    OpenEntryStream(catalog);  // a failed open shows as the first read's failure
    const bool sinkTakesCrc = sink.TakesCrc();
    if (sinkTakesCrc && catalog->openStream) catalog->openStream->crcLeftToCaller = true;
    ExtractFailure why = ExtractFailure::kNone;
    const std::uint64_t declared = catalog->currentHeader.uncompressedSize;
    if (std::uint8_t* room =
            !sinkTakesCrc && declared <= static_cast<std::uint64_t>(INT32_MAX) ? sink.Room(declared) : nullptr) {
        // Straight into the sink's memory; a stream that ends early leaves
        // the rest unfilled, and the facts below fail it.
        std::uint64_t filled = 0;
        for (;;) {
            const std::int32_t got =
                ReadEntryStream(catalog, room + filled, static_cast<std::uint32_t>(declared - filled));
            if (got < 0) why = ReadFailure(got);
            if (got <= 0) break;
            filled += static_cast<std::uint64_t>(got);
        }
    } else {
        std::vector<std::uint8_t>& buffer = reader->copyBuffer;
        for (;;) {
            std::size_t room = kCopyBuffer;
            std::uint8_t* target = sink.LendBuffer(room);
            if (!target || room == 0) {
                if (buffer.size() != kCopyBuffer) buffer.resize(kCopyBuffer);
                target = buffer.data();
                room = kCopyBuffer;
            }
            const std::int32_t got =
                ReadEntryStream(catalog, target, static_cast<std::uint32_t>(std::min<std::size_t>(room, INT32_MAX)));
            if (got < 0) why = ReadFailure(got);
            if (got <= 0) break;
            if (!sink.Write(target, static_cast<std::size_t>(got))) {
                why = sink.WriteFailure();
                break;
            }
        }
    }
    if (why == ExtractFailure::kNone) {
        const EntryStreamFacts facts = GetEntryStreamFacts(catalog);
        if (facts.encrypted) why = ExtractFailure::kEncrypted;
        else if (facts.corruptData) why = ExtractFailure::kCorruptData;
        else if (!facts.complete || facts.shortData) why = ExtractFailure::kShortData;
        else if (sinkTakesCrc ? sink.WrittenCrc() != catalog->currentHeader.crc32 : !facts.crcMatches)
            why = ExtractFailure::kCrcMismatch;
    }
    return why;
}

}  // namespace

ArchiveResult ExtractEntryToSink(ArchiveHandle* handle, std::int32_t index, EntrySink& sink,
                                 ExtractFailure* failure) {
    ArchiveEntryA entry;
    if (const ArchiveResult r = PrepareEntry(handle, index, entry, failure); r != ARCHIVE_OK) return r;
    if (entry.attributes & platform::kAttributeDirectory)
        return Fail(failure, ExtractFailure::kNone, ARCHIVE_BAD_ARGUMENT);
    ArchiveReader* reader = handle->reader.get();
    ArchiveCatalog* catalog = reader->catalog.get();
    // No password exists anywhere: an encrypted entry can only come out as
    // ciphertext, so the sink gets nothing.
    if (catalog->currentHeader.flags & kFlagEncrypted)
        return Fail(failure, ExtractFailure::kEncrypted, ARCHIVE_WRITE_FAILED);
    const ExtractFailure why = CopyEntry(reader, sink);
    if (catalog->openStream) CloseEntryStream(catalog);
    if (why != ExtractFailure::kNone) return Fail(failure, why, ARCHIVE_WRITE_FAILED);
    return Fail(failure, ExtractFailure::kNone, ARCHIVE_OK);
}

ArchiveResult ExtractEntry(ArchiveHandle* handle, std::int32_t index, const std::u16string& targetPath,
                           ExtractFailure* failure) {
    ArchiveEntryA entry;
    if (const ArchiveResult r = PrepareEntry(handle, index, entry, failure); r != ARCHIVE_OK) return r;
    ArchiveReader* reader = handle->reader.get();
    ArchiveCatalog* catalog = reader->catalog.get();

    if (entry.attributes & platform::kAttributeDirectory) {
        const std::u16string name =
            entry.utf8Name ? platform::Utf8ToUtf16(entry.name) : platform::AnsiToUtf16(entry.name);
        if (!IsSafeEntryName(name)) return Fail(failure, ExtractFailure::kUnsafeName, ARCHIVE_NO_FILE);
        if (reader->baseFolder.empty() || !platform::PathFits(reader->baseFolder + name))
            return Fail(failure, ExtractFailure::kPathTooLong, ARCHIVE_NO_FILE);
        EnsureFolderChain(reader->baseFolder, name);
        return Fail(failure, ExtractFailure::kNone, ARCHIVE_OK);
    }

    if (!platform::PathFits(targetPath)) return Fail(failure, ExtractFailure::kPathTooLong, ARCHIVE_NO_FILE);
    // No password exists anywhere: an encrypted entry can only come out as
    // ciphertext, so nothing is written for it.
    if (catalog->currentHeader.flags & kFlagEncrypted)
        return Fail(failure, ExtractFailure::kEncrypted, ARCHIVE_WRITE_FAILED);

    std::size_t lastSeparator = std::u16string::npos;
    for (std::size_t i = targetPath.size(); i-- > 0;)
        if (IsSeparator(targetPath[i])) {
            lastSeparator = i;
            break;
        }
    if (lastSeparator != std::u16string::npos) {
        const std::u16string_view folder = std::u16string_view(targetPath).substr(0, lastSeparator);
        if (FolderPartLooksRelative(folder)) EnsureFolderChain(reader->baseFolder, folder);
    }

    platform::File out = platform::File::CreateAlways(targetPath, entry.attributes);
    if (!out.IsOpen()) return Fail(failure, ExtractFailure::kCreateFailed, ARCHIVE_NO_FILE);

    FileSink sink(out);
    ExtractFailure why = CopyEntry(reader, sink);
    if (why == ExtractFailure::kNone && out.IsDiskFile())
        out.SetTimes(entry.creationTime, entry.accessTime, entry.writeTime);
    // A close that reports an error may have lost written data.
    if (!out.Close() && why == ExtractFailure::kNone) why = ExtractFailure::kWriteFailed;
    if (catalog->openStream) CloseEntryStream(catalog);

    if (why != ExtractFailure::kNone) return Fail(failure, why, ARCHIVE_WRITE_FAILED);
    return Fail(failure, ExtractFailure::kNone, ARCHIVE_OK);
}
