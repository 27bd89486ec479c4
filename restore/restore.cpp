// The restore engine: one run over an archive's catalogue, one entry at a
// time, below one destination folder.
//
// What the user relies on, and what shapes the code below:
// - nothing outside the destination is created, deleted or written, so an
//   entry's name is judged before anything on disk is touched;
// - a failing entry never destroys what stood at its path: over an existing
//   file the data goes to a temporary file beside it, which replaces the old
//   file only once the extraction has vouched for every byte; a failed
//   entry leaves nothing of itself behind;
// - the run's codes are fixed (0, -3, -4, -5, -6): the dialog and the
//   console front end turn them into text, the engine never does.

#include "restore/restore.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <random>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/fs.h"

namespace {

// Path buffers hold 260 UTF-16 units including the terminator.
constexpr std::size_t kMaxPathUnits = 259;

// Temporary file names are at most this long; shorter where the folder
// leaves less room (the target fits, so its leaf's length always does).
constexpr std::size_t kTempNameUnits = 8;
constexpr int kTempNameAttempts = 32;

bool Fail(RestoreFailure* failure, EntryFailure reason) {
    if (failure) failure->reason = reason;
    return false;
}

void ReplaceQuestionMarks(std::u16string& text) {
    for (char16_t& c : text) {
        if (c == u'?') c = u'_';
    }
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Windows opens a device instead of a file for these names, with or without
// an extension ("NUL.txt"), in any folder: a restore would write to the
// console or a port instead of the destination. Backups made on Windows
// can't hold such names, so they are refused everywhere.
bool IsDeviceName(std::u16string_view component) {
    std::u16string_view base = component.substr(0, component.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    std::u16string upper;
    for (char16_t c : base) upper.push_back(AsciiUpper(c));
    static constexpr std::array<std::u16string_view, 6> kPlain = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$",
                                                                  u"CONOUT$"};
    for (auto name : kPlain) {
        if (upper == name) return true;
    }
    // Windows takes the superscript digits one to three for ports too.
    if (upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
        ((upper[3] >= u'1' && upper[3] <= u'9') || upper[3] == u'\u00B9' || upper[3] == u'\u00B2' ||
         upper[3] == u'\u00B3'))
        return true;
    return false;
}

bool HasDeviceComponent(std::u16string_view name) {
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of(u"/\\", start);
        if (end == std::u16string_view::npos) end = name.size();
        if (IsDeviceName(name.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

// A short random name for a file that lives only while one entry is being
// extracted. It is checked against the disk before use, so it can't clash
// with anything already there, an earlier entry included, and it is gone
// before the next entry starts.
std::u16string RandomName(std::size_t length) {
    static constexpr char16_t kAlphabet[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return (static_cast<std::uint64_t>(device()) << 32) ^ now ^ counter.fetch_add(1);
    }());
    std::u16string name;
    if (length >= 2) {
        name.push_back(u'~');
        --length;
    }
    for (std::size_t i = 0; i < length; ++i) name.push_back(kAlphabet[generator() % 36]);
    return name;
}

// A path in `folder` (ending in the separator) where nothing stands yet.
// Empty when no such name could be found within the length limit.
std::u16string TemporaryPathIn(const std::u16string& folder) {
    if (folder.size() >= kMaxPathUnits) return {};
    const std::size_t length = std::min(kTempNameUnits, kMaxPathUnits - folder.size());
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::u16string candidate = folder + RandomName(length);
        if (!platform::FindAny(candidate)) return candidate;
    }
    return {};
}

// ExtractEntry, with its verdict recorded for the caller.
bool Extract(ArchiveHandle* handle, std::int32_t index, const std::u16string& path, RestoreFailure* failure) {
    ExtractFailure why = ExtractFailure::kNone;
    const ArchiveResult result = ExtractEntry(handle, index, path, &why);
    if (result == ARCHIVE_OK) return true;
    if (failure) {
        failure->extractResult = result;
        failure->extractFailure = why;
    }
    return Fail(failure, EntryFailure::kExtractFailed);
}

// Removes a file that a failed entry left, whatever attributes the
// extraction gave it.
void DiscardLeftover(const std::u16string& path) {
    if (!platform::FindAny(path)) return;
    platform::WriteAttributes(path, platform::kAttributeNormal);
    platform::RemoveFile(path);
}

// Moves the verified temporary file onto the target. Most targets are new,
// so the move is tried first; Windows refuses to replace a read-only,
// hidden or system file, which is then made normal and the move tried again.
bool PutInPlace(const std::u16string& temporary, const std::u16string& target) {
    if (platform::MoveReplacing(temporary, target)) return true;
    const std::uint32_t existing = platform::ReadAttributes(target);
    if (existing == platform::kInvalidAttributes || (existing & platform::kAttributeDirectory) != 0) return false;
    constexpr std::uint32_t kGuarded =
        platform::kAttributeReadOnly | platform::kAttributeHidden | platform::kAttributeSystem;
    if ((existing & kGuarded) == 0) return false;
    return platform::WriteAttributes(target, platform::kAttributeNormal) &&
           platform::MoveReplacing(temporary, target);
}

// The target path of a cleaned name and the folder levels on the way, built
// without touching the disk: "/" separates levels in names, the platform
// separator in paths, and an empty level adds no second separator.
struct TargetPlan {
    std::u16string target;
    std::vector<std::size_t> levelEnds;  // prefixes of `target` naming each folder level
    std::size_t leafStart = 0;           // where the leaf begins in `target`
};

TargetPlan PlanTarget(const std::u16string& cleaned, const std::u16string& destinationFolder) {
    const char16_t sep = platform::kPathSeparator;
    TargetPlan plan;
    plan.target = destinationFolder;
    const std::size_t lastSlash = cleaned.rfind(u'/');
    if (lastSlash == std::u16string::npos) {
        plan.target += cleaned;
        plan.leafStart = destinationFolder.size();
        return plan;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = cleaned.find(u'/', start);
        if (end == std::u16string::npos || end > lastSlash) break;
        if (plan.target.empty() || plan.target.back() != sep) plan.target.push_back(sep);
        plan.target.append(cleaned, start, end - start);
        plan.levelEnds.push_back(plan.target.size());
        start = end + 1;
    }
    plan.target.push_back(sep);
    plan.leafStart = plan.target.size();
    plan.target.append(cleaned, lastSlash + 1);
    return plan;
}

// The file a target path names, as a key: the file system takes a run of
// separators as one.
std::u16string FileKey(const std::u16string& target) {
    std::u16string key;
    key.reserve(target.size());
    for (char16_t c : target) {
        if (c == platform::kPathSeparator && !key.empty() && key.back() == platform::kPathSeparator) continue;
        key.push_back(c);
    }
    return key;
}

// The folder chain of the previous entry, known to exist. Archives list
// the entries of one folder together, so most entries would ask the disk
// again about the same levels; within a run nothing turns a folder that is
// there into something else (a file never replaces a folder).
class KnownFolders {
public:
    // Whether target's first `end` units name a level known to exist.
    bool Holds(const std::u16string& target, std::size_t end) const {
        return deepest_.size() >= end && deepest_.compare(0, end, target, 0, end) == 0 &&
               (deepest_.size() == end || deepest_[end] == platform::kPathSeparator);
    }
    void Remember(const std::u16string& target, std::size_t end) { deepest_.assign(target, 0, end); }

private:
    std::u16string deepest_;
};

// The entry restore. `expectedIndex` is the catalogue position the run
// fetched the name from (-1 when the caller has none): the name search finds
// the first entry of a name, so a later entry of exactly the same name would
// silently get the earlier entry's data.
bool RestoreOneEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
                     std::int32_t expectedIndex, RestoreFailure* failure, KnownFolders* folders,
                     std::unordered_set<std::u16string>* targets) {
    if (failure) {
        *failure = RestoreFailure{};
        failure->entryIndex = expectedIndex;
        failure->entryName = entryName;
    }

    // Everything that can be judged from the name alone is judged before the
    // disk is touched: an unsafe name must not even create a folder.
    if (handle == nullptr || handle->kind != 1) return Fail(failure, EntryFailure::kBadHandle);
    if (entryName.empty()) return Fail(failure, EntryFailure::kEmptyName);
    if (!IsSafeEntryName(entryName) || HasDeviceComponent(entryName)) return Fail(failure, EntryFailure::kUnsafeName);

    std::u16string cleaned = entryName;
    ReplaceQuestionMarks(cleaned);
    const TargetPlan plan = PlanTarget(cleaned, destinationFolder);
    const std::u16string& target = plan.target;
    if (target.size() > kMaxPathUnits) return Fail(failure, EntryFailure::kPathTooLong);

    std::int32_t index = -1;
    ArchiveEntry found;
    if (FindEntryByName(handle, entryName, &index, found) != ARCHIVE_OK) return Fail(failure, EntryFailure::kNotFound);
    if (failure) failure->entryIndex = expectedIndex >= 0 ? expectedIndex : index;
    // The search ignores ASCII case; the disk may not. Of two names that
    // differ only in case, the later one fails here.
    if (found.name != entryName) return Fail(failure, EntryFailure::kNameMismatch);
    if (expectedIndex >= 0 && index != expectedIndex) return Fail(failure, EntryFailure::kDuplicateName);

    // Folder levels, outermost first. A level that exists is left alone; a
    // plain file where a level goes can't hold the entry, so the entry fails
    // now rather than at the extraction.
    for (std::size_t end : plan.levelEnds) {
        if (folders && folders->Holds(target, end)) continue;
        const std::u16string level = target.substr(0, end);
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) {
            if (!platform::MakeFolder(level)) return Fail(failure, EntryFailure::kFolderFailed);
        } else if ((attributes & platform::kAttributeDirectory) == 0 ||
                   (attributes & platform::kAttributeReparsePoint) != 0) {
            // A link (or junction) where a level goes may lead out of the
            // destination: nothing is written through it.
            return Fail(failure, EntryFailure::kFolderFailed);
        }
    }
    if (folders && !plan.levelEnds.empty()) folders->Remember(target, plan.levelEnds.back());

    const bool folderEntry = (found.attributes & platform::kAttributeDirectory) != 0;
    if (folderEntry) {
        // A folder entry replaces a file of its name (nothing is lost that
        // the archive does not replace); an existing folder simply stays.
        const std::uint32_t existing = platform::ReadAttributes(target);
        if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeReparsePoint) != 0)
            return Fail(failure, EntryFailure::kTargetInTheWay);
        if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeDirectory) == 0) {
            platform::WriteAttributes(target, platform::kAttributeNormal);
            if (!platform::RemoveFile(target)) return Fail(failure, EntryFailure::kTargetInTheWay);
        }
        if (!Extract(handle, index, target, failure)) return false;
        platform::WriteAttributes(target, platform::kAttributeNormal);
        if (!platform::CanRead(target)) return Fail(failure, EntryFailure::kNotReadable);
        return true;
    }

    // A file entry whose name ends in "/" names a folder: no file can be
    // written there.
    if (plan.leafStart == target.size()) return Fail(failure, EntryFailure::kTargetInTheWay);

    // Two entries whose names lead to one file ("a?b" and "a_b", "d//x" and
    // "d/x"): the later would silently replace what this run has just
    // restored, so it fails instead.
    if (targets && !targets->insert(FileKey(target)).second) return Fail(failure, EntryFailure::kDuplicateName);

    // With nothing at the target there is nothing to protect: the entry is
    // written in place, and a failed extraction removes what it left. Any
    // other target is kept until a complete, checked copy can replace it.
    // A link at the target (dangling ones too) is replaced by the move, never
    // written through.
    const std::uint32_t existing = platform::ReadAttributes(target);
    if (existing == platform::kInvalidAttributes) {
        if (!Extract(handle, index, target, failure)) {
            DiscardLeftover(target);
            return false;
        }
    } else {
        if ((existing & platform::kAttributeDirectory) != 0) return Fail(failure, EntryFailure::kTargetInTheWay);
        // Beside the target: same folder, so the final move never crosses
        // volumes. (On Windows a backslash inside the leaf separates levels
        // too.)
        const std::size_t folderEnd = target.rfind(platform::kPathSeparator);
        if (folderEnd == std::u16string::npos) return Fail(failure, EntryFailure::kTargetInTheWay);
        const std::u16string temporary = TemporaryPathIn(target.substr(0, folderEnd + 1));
        if (temporary.empty()) return Fail(failure, EntryFailure::kPathTooLong);
        if (!Extract(handle, index, temporary, failure)) {
            DiscardLeftover(temporary);
            return false;
        }
        // The data is complete and checked: only now is the old file
        // replaced, in one step, so there is no moment with neither the old
        // nor the new file.
        if (!PutInPlace(temporary, target)) {
            DiscardLeftover(temporary);
            return Fail(failure, EntryFailure::kTargetInTheWay);
        }
    }

    // Restored files keep their times but none of their stored attribute
    // bits.
    platform::WriteAttributes(target, platform::kAttributeNormal);
    if (!platform::CanRead(target)) return Fail(failure, EntryFailure::kNotReadable);
    return true;
}

// Closes the run's archive on every way out.
class OpenArchiveGuard {
public:
    explicit OpenArchiveGuard(std::unique_ptr<ArchiveHandle> handle) : handle_(std::move(handle)) {}
    OpenArchiveGuard(const OpenArchiveGuard&) = delete;
    OpenArchiveGuard& operator=(const OpenArchiveGuard&) = delete;
    ~OpenArchiveGuard() {
        if (handle_) CloseArchive(handle_);
    }
    ArchiveHandle* get() const { return handle_.get(); }

private:
    std::unique_ptr<ArchiveHandle> handle_;
};

}  // namespace

bool RestoreEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
                  RestoreFailure* failure) {
    return RestoreOneEntry(entryName, destinationFolder, handle, -1, failure, nullptr, nullptr);
}

int RestoreArchive(const std::u16string& destinationFolder, const std::u16string& archivePath,
                   RestoreObserver* observer, RestoreFailure* failure) {
    RestoreFailure scratch;
    RestoreFailure& why = failure ? *failure : scratch;
    why = RestoreFailure{};

    if (!platform::PathExists(archivePath)) return RESTORE_NO_ARCHIVE;

    // The destination chain, outermost level first. Only text up to the last
    // separator becomes a folder, which is why destinations end in one.
    const char16_t sep = platform::kPathSeparator;
    for (std::size_t p = destinationFolder.find(sep); p != std::u16string::npos;
         p = destinationFolder.find(sep, p + 1)) {
        const std::u16string prefix = destinationFolder.substr(0, p + 1);
        if (!platform::PathExists(prefix) && !platform::MakeFolder(prefix)) return RESTORE_NO_ARCHIVE;
    }

    // The reader takes the current folder at open time as the base for
    // folder entries; the destination is current only for that moment.
    // Folder entries are made below that base, so a destination that can't
    // be entered must not leave some other folder as the base: the run
    // stops as for a destination level that could not be made.
    std::u16string saved;
    if (!platform::GetCurrentFolder(saved)) saved.clear();
    if (!platform::SetCurrentFolder(destinationFolder)) return RESTORE_NO_ARCHIVE;
    OpenArchiveGuard archive(OpenArchive(archivePath));
    if (!saved.empty()) platform::SetCurrentFolder(saved);
    if (!archive.get()) {
        why.openResult = lastReaderResult;
        return RESTORE_OPEN_FAILED;
    }

    ArchiveEntry record;
    if (GetArchiveEntry(archive.get(), -1, record) != ARCHIVE_OK) {
        why.openResult = lastReaderResult;
        return RESTORE_COUNT_FAILED;
    }
    const std::int32_t count = record.index;

    RestoreProgress progress;
    progress.entriesTotal = count > 0 ? count : 0;
    if (observer && observer->WantsByteTotal()) {
        ArchiveEntry sizes;
        for (std::int32_t i = 0; i < count; ++i) {
            if (GetArchiveEntry(archive.get(), i, sizes) == ARCHIVE_OK) progress.bytesTotal += sizes.uncompressedSize;
        }
    }
    if (observer) observer->OnRestoreProgress(progress);

    KnownFolders folders;
    std::unordered_set<std::u16string> targets;
    for (std::int32_t i = 0; i < count; ++i) {
        // A record that can't be fetched names no entry: restoring whatever
        // the previous fetch left would report that entry twice and this
        // one never.
        const ArchiveResult fetched = GetArchiveEntry(archive.get(), i, record);
        if (fetched != ARCHIVE_OK) {
            why = RestoreFailure{};
            why.entryIndex = i;
            why.reason = EntryFailure::kFetchFailed;
            why.extractResult = fetched;
            return RESTORE_ENTRY_FAILED;
        }
        if (!RestoreOneEntry(record.name, destinationFolder, archive.get(), i, &why, &folders, &targets))
            return RESTORE_ENTRY_FAILED;
        if (observer) {
            ++progress.entriesDone;
            progress.bytesDone += record.uncompressedSize;
            observer->OnRestoreProgress(progress);
        }
    }
    why = RestoreFailure{};
    return RESTORE_OK;
}

unsigned RestoreThreadProc(void* param) {
    auto* job = static_cast<RestoreJob*>(param);
    if (job == nullptr) return 0;
    platform::SetJapaneseLocale();
    if (job->observer) job->observer->OnRestoreStarted();
    job->resultCode = RestoreArchive(job->destinationFolder, job->archivePath, job->observer, &job->failure);
    if (job->observer) job->observer->OnRestoreFinished(job->resultCode);
    return 0;
}
