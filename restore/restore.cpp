// The restore engine: one run over an archive's catalogue, entry after
// entry in catalogue order, below one destination folder.
//
// What the user relies on, and what shapes the code below:
// - nothing outside the destination is created, deleted or written, so an
//   entry's name is judged before anything on disk is touched;
// - a failing entry never destroys what stood at its path: what stands
//   there is replaced only by a file the extraction has vouched for, byte
//   for byte; a failed entry leaves nothing of itself behind, and after a
//   failure nothing of any later entry exists;
// - nothing is ever opened for writing at a target path unless the run has
//   just created it there: whatever stood there (a file, a link, a pipe, a
//   device) is replaced by a move, never written through;
// - one file per entry: the run knows every file it has restored by
//   identity, so names the file system takes as one can't overwrite each
//   other, whatever the file system's rules;
// - the run's codes are fixed (0, -3, -4, -5, -6): the dialog and the
//   console front end turn them into text, the engine never does.

#include "restore/restore.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/cores.h"
#include "platform/fs.h"
#include "platform/wake.h"
#include "restore/restore_internal.h"

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

// A short random name for a file that lives only while one entry's data is
// being produced. The file is created exclusively, so a clash with anything
// already there, an earlier entry included, only means another draw; a file
// left by an interrupted run can't shadow a real entry's name by chance.
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

// Removes a temporary file that holds no vouched-for data.
void Discard(const std::u16string& path) {
    if (!path.empty()) platform::RemoveFile(path);
}

// Why producing an entry's data failed, ready to copy into a RestoreFailure.
struct ProduceFailure {
    EntryFailure reason = EntryFailure::kNone;
    ArchiveResult extractResult = ARCHIVE_OK;
    ExtractFailure extractFailure = ExtractFailure::kNone;
};

bool Fail(RestoreFailure* failure, const ProduceFailure& why) {
    if (failure) {
        failure->extractResult = why.extractResult;
        failure->extractFailure = why.extractFailure;
    }
    return Fail(failure, why.reason);
}

// An entry's checked data in a temporary file of its own, closed, with the
// entry's times and normal attributes.
struct Produced {
    std::u16string path;
    platform::FileIdentity identity;
};

// The entry's data on its way into the temporary file. `stop` lets another
// thread end a long entry between two buffers.
class TemporaryFileSink : public EntrySink {
public:
    TemporaryFileSink(platform::File& file, const std::atomic<bool>* stop) : file_(file), stop_(stop) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (stop_ && stop_->load(std::memory_order_relaxed)) return false;
        return file_.Write(data, size);
    }

private:
    platform::File& file_;
    const std::atomic<bool>* stop_;
};

// An entry's data in memory, exactly its declared size; filled by the
// extraction, so never zeroed first.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::size_t size) : data_(std::make_unique_for_overwrite<std::uint8_t[]>(size)), size_(size) {}
    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() {
        data_.reset();
        size_ = 0;
    }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
};

// The times an entry's file carries on disk.
struct EntryTimes {
    platform::FileTime creation = 0;
    platform::FileTime access = 0;
    platform::FileTime write = 0;
};

EntryTimes TimesOf(const ArchiveEntry& entry) { return {entry.creationTime, entry.accessTime, entry.writeTime}; }

// An entry's data extracted and checked ahead of time into memory: inflated
// straight into its buffer when the reader can, else written there.
class MemorySink : public EntrySink {
public:
    MemorySink(Bytes& bytes, std::uint64_t declared, const std::atomic<bool>* stop)
        : bytes_(bytes), stop_(stop) {
        bytes_ = Bytes(static_cast<std::size_t>(declared));
    }
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (stop_ && stop_->load(std::memory_order_relaxed)) return false;
        // The budget was reserved for the declared size; more is not the
        // entry's content anyway.
        if (size > bytes_.size() - filled_) return false;
        std::memcpy(bytes_.data() + filled_, data, size);
        filled_ += size;
        return true;
    }
    std::uint8_t* Room(std::uint64_t size) override { return size == bytes_.size() ? bytes_.data() : nullptr; }

private:
    Bytes& bytes_;
    std::size_t filled_ = 0;
    const std::atomic<bool>* stop_;
};

// Fills a file this run has just created exclusively at `path` with file
// entry `index`, read from the archive or, when a producer has already
// extracted and checked it, from `ready`; times, attributes and the
// identity go through the open handle, and the close happens here (on
// Windows, where a scanner looks at the new file). On failure the file is
// removed.
bool FillNewFile(ArchiveHandle* handle, std::int32_t index, const EntryTimes& times, platform::File file,
                 std::u16string path, const std::atomic<bool>* stop, Produced& produced, ProduceFailure& why,
                 const Bytes* ready = nullptr) {
    ExtractFailure extractWhy = ExtractFailure::kNone;
    ArchiveResult result = ARCHIVE_OK;
    if (ready) {
        if (!ready->empty() && !file.Write(ready->data(), ready->size())) {
            result = ARCHIVE_WRITE_FAILED;
            extractWhy = ExtractFailure::kWriteFailed;
        }
    } else {
        TemporaryFileSink sink(file, stop);
        result = ExtractEntryToSink(handle, index, sink, &extractWhy);
    }
    if (result == ARCHIVE_OK) {
        file.SetTimesAndNormal(times.creation, times.access, times.write);
        if (!file.GetIdentity(produced.identity)) {
            result = ARCHIVE_WRITE_FAILED;
            extractWhy = ExtractFailure::kWriteFailed;
        }
    }
    // A close that reports an error may have lost written data.
    if (!file.Close() && result == ARCHIVE_OK) {
        result = ARCHIVE_WRITE_FAILED;
        extractWhy = ExtractFailure::kWriteFailed;
    }
    if (result != ARCHIVE_OK) {
        Discard(path);
        why.reason = EntryFailure::kExtractFailed;
        why.extractResult = result;
        why.extractFailure = extractWhy;
        return false;
    }
    produced.path = std::move(path);
    return true;
}

void CreateFailed(ProduceFailure& why) {
    why.reason = EntryFailure::kExtractFailed;
    why.extractResult = ARCHIVE_NO_FILE;
    why.extractFailure = ExtractFailure::kCreateFailed;
}

// Extracts file entry `index` into a new temporary file in `folder` (ending
// in the separator). The file is created exclusively, so no name a clash
// could have put there is ever written through. On failure nothing is left
// behind.
bool ProduceEntry(ArchiveHandle* handle, std::int32_t index, const ArchiveEntry& entry, const std::u16string& folder,
                  const std::atomic<bool>* stop, Produced& produced, ProduceFailure& why,
                  const Bytes* ready = nullptr) {
    why = ProduceFailure{};
    if (folder.size() >= kMaxPathUnits) {
        why.reason = EntryFailure::kPathTooLong;
        return false;
    }
    const std::size_t length = std::min(kTempNameUnits, kMaxPathUnits - folder.size());
    platform::File file;
    std::u16string path;
    for (int attempt = 0; attempt < kTempNameAttempts && !file.IsOpen(); ++attempt) {
        path = folder + RandomName(length);
        bool existed = false;
        file = platform::File::CreateNew(path, &existed);
        if (!file.IsOpen() && !existed) {
            CreateFailed(why);
            return false;
        }
    }
    if (!file.IsOpen()) {
        why.reason = EntryFailure::kPathTooLong;
        return false;
    }
    return FillNewFile(handle, index, TimesOf(entry), std::move(file), std::move(path), stop, produced, why, ready);
}

// ExtractEntry for a folder entry, with its verdict recorded for the caller.
bool ExtractFolder(ArchiveHandle* handle, std::int32_t index, const std::u16string& path, RestoreFailure* failure) {
    ExtractFailure why = ExtractFailure::kNone;
    const ArchiveResult result = ExtractEntry(handle, index, path, &why);
    if (result == ARCHIVE_OK) return true;
    if (failure) {
        failure->extractResult = result;
        failure->extractFailure = why;
    }
    return Fail(failure, EntryFailure::kExtractFailed);
}

// A name split into the levels it names: "/" and "\" both separate levels
// (backups come from Windows, where a backslash in a name can only be a
// separator), empty and "." levels name nothing and are dropped.
struct NameParts {
    std::vector<std::u16string_view> parts;
    bool endsWithSeparator = false;
};

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// False for a level ending in a dot or a space: Windows would store it
// under another name ("a." as "a"), merging it with a name the run can't
// see, and a backup written on Windows can't hold one.
bool SplitName(std::u16string_view name, NameParts& split) {
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::u16string_view part = name.substr(start, end - start);
        if (!part.empty() && part != u".") {
            if (part != u".." && (part.back() == u'.' || part.back() == u' ')) return false;
            split.parts.push_back(part);
        }
        start = end + 1;
    }
    split.endsWithSeparator = !name.empty() && IsSeparator(name.back());
    return true;
}

// The target path of a cleaned name and the folder levels on the way, built
// without touching the disk, with the platform separator between levels.
struct TargetPlan {
    std::u16string target;
    std::vector<std::size_t> levelEnds;  // prefixes of `target` naming each folder level
    std::size_t leafStart = 0;           // where the leaf begins in `target`
};

TargetPlan PlanTarget(const NameParts& split, const std::u16string& destinationFolder) {
    const char16_t sep = platform::kPathSeparator;
    TargetPlan plan;
    plan.target = destinationFolder;
    const std::size_t levels = split.endsWithSeparator ? split.parts.size() : split.parts.size() - 1;
    for (std::size_t i = 0; i < split.parts.size(); ++i) {
        if (!plan.target.empty() && plan.target.back() != sep && (i > 0 || levels > 0)) plan.target.push_back(sep);
        if (i == levels) plan.leafStart = plan.target.size();
        plan.target.append(split.parts[i]);
        if (i < levels) plan.levelEnds.push_back(plan.target.size());
    }
    if (levels == split.parts.size()) {
        if (!plan.target.empty() && plan.target.back() != sep) plan.target.push_back(sep);
        plan.leafStart = plan.target.size();
    }
    return plan;
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

// What the run knows across entries.
struct RunMemory {
    KnownFolders folders;
    // Identities of the files restored so far: names the file system merges
    // in ways the text can't show ("x" and "X" on a folded volume, é and É,
    // a short name) are caught when the file is placed.
    std::unordered_set<platform::FileIdentity, platform::FileIdentityHash> restored;

    // When other threads write files the run has created, an entry can fail
    // after later entries have made files and folders. Those are recorded
    // (`tracking`) until every entry before them is confirmed, so that a
    // late failure can remove what the serial run would never have made.
    struct Made {
        std::int32_t entry;
        std::u16string path;
        bool folder;
    };
    bool tracking = false;
    std::int32_t current = -1;  // the entry being committed
    std::deque<Made> made;
    // Waits until every earlier entry's data is written and confirmed;
    // false when one of them failed. Asked before anything that can't be
    // taken back (replacing or deleting what stood at a path) and before
    // `restored` is consulted. Empty when nothing runs on other threads.
    std::function<bool()> settle;

    void Record(const std::u16string& path, bool folder) {
        if (tracking) made.push_back({current, path, folder});
    }
    bool Settle() const { return !settle || settle(); }
    // Removes, newest first, what was made for the entries after `entry`.
    void UndoAfter(std::int32_t entry) {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            if (it->entry <= entry) continue;
            if (it->folder) {
                platform::RemoveEmptyFolder(it->path);
            } else {
                platform::RemoveFile(it->path);
            }
        }
        made.clear();
    }
};

// An entry whose name and folders have passed, ready for its data.
struct PreparedEntry {
    std::int32_t index = -1;
    ArchiveEntry found;
    TargetPlan plan;
    bool folderDone = false;  // a folder entry, complete
};

// Everything of one entry before its data: the name checks, the name
// search, the folder levels, and the whole of a folder entry.
// `expectedIndex` is the catalogue position the run fetched the name from
// (-1 when the caller has none): the name search finds the first entry of a
// name, so a later entry of exactly the same name would silently get the
// earlier entry's data.
bool PrepareEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
                  std::int32_t expectedIndex, RestoreFailure* failure, RunMemory* memory, PreparedEntry& prepared) {
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
    NameParts split;
    if (!SplitName(cleaned, split)) return Fail(failure, EntryFailure::kUnsafeName);
    prepared.plan = PlanTarget(split, destinationFolder);
    const TargetPlan& plan = prepared.plan;
    const std::u16string& target = plan.target;
    if (target.size() > kMaxPathUnits) return Fail(failure, EntryFailure::kPathTooLong);

    std::int32_t& index = prepared.index;
    ArchiveEntry& found = prepared.found;
    if (FindEntryByName(handle, entryName, &index, found) != ARCHIVE_OK) return Fail(failure, EntryFailure::kNotFound);
    if (failure) failure->entryIndex = expectedIndex >= 0 ? expectedIndex : index;
    // The search ignores ASCII case; the disk may not. Of two names that
    // differ only in case, the later one fails here.
    if (found.name != entryName) return Fail(failure, EntryFailure::kNameMismatch);
    if (expectedIndex >= 0 && index != expectedIndex) return Fail(failure, EntryFailure::kDuplicateName);

    // Folder levels, outermost first. A level that exists is left alone; a
    // plain file where a level goes can't hold the entry, so the entry fails
    // now rather than at the extraction.
    KnownFolders* folders = memory ? &memory->folders : nullptr;
    for (std::size_t end : plan.levelEnds) {
        if (folders && folders->Holds(target, end)) continue;
        const std::u16string level = target.substr(0, end);
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) {
            if (!platform::MakeFolder(level)) return Fail(failure, EntryFailure::kFolderFailed);
            if (memory) memory->Record(level, true);
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
        // the archive does not replace), unless this run restored that
        // file; an existing folder simply stays. Neither is taken back
        // after a late failure, so every earlier entry must be done first;
        // a new folder can be.
        const std::uint32_t existing = platform::ReadAttributes(target);
        if (existing != platform::kInvalidAttributes && memory && !memory->Settle())
            return Fail(failure, EntryFailure::kTargetInTheWay);
        if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeReparsePoint) != 0)
            return Fail(failure, EntryFailure::kTargetInTheWay);
        if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeDirectory) == 0) {
            const platform::PathIdentity there = platform::ReadPathIdentity(target);
            if (memory && there.exists && memory->restored.count(there.identity) != 0)
                return Fail(failure, EntryFailure::kDuplicateName);
            platform::WriteAttributes(target, platform::kAttributeNormal);
            if (!platform::RemoveFile(target)) return Fail(failure, EntryFailure::kTargetInTheWay);
        }
        if (!ExtractFolder(handle, index, target, failure)) return false;
        if (existing == platform::kInvalidAttributes && memory) memory->Record(target, true);
        platform::WriteAttributes(target, platform::kAttributeNormal);
        if (!platform::CanRead(target)) return Fail(failure, EntryFailure::kNotReadable);
        prepared.folderDone = true;
        return true;
    }

    // A file entry whose name ends in a separator names a folder: no file
    // can be written there.
    if (plan.leafStart == target.size()) return Fail(failure, EntryFailure::kTargetInTheWay);

    // Two entries whose names lead to one text ("a?b" and "a_b", "d//x" and
    // "d/x"): the later would silently replace what this run has just
    // restored, so it fails before its data is even read.
    return true;
}

// Makes a guarded file (read-only, hidden, system: Windows refuses to
// replace those) normal, so that the move can replace it.
bool UnguardForReplace(const std::u16string& target) {
    const std::uint32_t existing = platform::ReadAttributes(target);
    if (existing == platform::kInvalidAttributes || (existing & platform::kAttributeDirectory) != 0) return false;
    constexpr std::uint32_t kGuarded =
        platform::kAttributeReadOnly | platform::kAttributeHidden | platform::kAttributeSystem;
    if ((existing & kGuarded) == 0) return false;
    return platform::WriteAttributes(target, platform::kAttributeNormal);
}

enum class Placement { kPlaced, kOtherVolume, kFailed };

// Puts the produced file at the target. Most targets are new, so a move
// that never replaces comes first; it also tells, without a second look,
// whether anything stands there. What stands there is then judged by
// identity without following a link: a file this run restored fails the
// entry, a folder fails it, anything else (a file, a link dangling or not,
// a pipe, a device node) has its directory entry replaced by the move, and
// is never opened. On failure the produced file is still there for the
// caller to remove, and the target is as it was.
Placement Place(const Produced& produced, const std::u16string& target, RunMemory* memory, RestoreFailure* failure) {
    switch (platform::MoveNoReplace(produced.path, target)) {
    case platform::MoveResult::kMoved:
        if (memory) memory->Record(target, false);
        break;
    case platform::MoveResult::kOtherVolume:
        return Placement::kOtherVolume;
    case platform::MoveResult::kFailed:
        Fail(failure, EntryFailure::kTargetInTheWay);
        return Placement::kFailed;
    case platform::MoveResult::kExists: {
        // Replacing can't be taken back, and the identities of every
        // earlier entry's file must be known: both wait for earlier writes.
        if (memory && !memory->Settle()) {
            Fail(failure, EntryFailure::kTargetInTheWay);
            return Placement::kFailed;
        }
        const platform::PathIdentity there = platform::ReadPathIdentity(target);
        if (memory && there.exists && memory->restored.count(there.identity) != 0) {
            Fail(failure, EntryFailure::kDuplicateName);
            return Placement::kFailed;
        }
        if (there.folder) {
            Fail(failure, EntryFailure::kTargetInTheWay);
            return Placement::kFailed;
        }
        if (!platform::MoveReplacing(produced.path, target) &&
            !(UnguardForReplace(target) && platform::MoveReplacing(produced.path, target))) {
            Fail(failure, EntryFailure::kTargetInTheWay);
            return Placement::kFailed;
        }
        break;
    }
    }
    if (memory) memory->restored.insert(produced.identity);
    return Placement::kPlaced;
}

// The folder a target's file lives in, ending in the separator.
std::u16string FolderOf(const TargetPlan& plan) { return plan.target.substr(0, plan.leafStart); }

// The file entry when something already stands at its target: the data is
// produced beside the target (same folder, so the move never crosses
// volumes) and placed.
bool ReplaceFile(ArchiveHandle* handle, const PreparedEntry& prepared, RunMemory* memory,
                 const std::atomic<bool>* stop, RestoreFailure* failure, const Bytes* ready) {
    Produced produced;
    ProduceFailure why;
    if (!ProduceEntry(handle, prepared.index, prepared.found, FolderOf(prepared.plan), stop, produced, why, ready))
        return Fail(failure, why);
    if (Place(produced, prepared.plan.target, memory, failure) != Placement::kPlaced) {
        if (failure && failure->reason == EntryFailure::kNone) failure->reason = EntryFailure::kTargetInTheWay;
        Discard(produced.path);
        return false;
    }
    return true;
}

// The serial file entry. Most targets are new: the target itself is created
// exclusively, which fails on anything standing there (a link, dangling or
// not, included), so nothing is written through what was there, and costs
// no move. Otherwise the file is replaced.
bool RestoreFileBeside(ArchiveHandle* handle, const PreparedEntry& prepared, RunMemory* memory,
                       const std::atomic<bool>* stop, RestoreFailure* failure, const Bytes* ready = nullptr) {
    const std::u16string& target = prepared.plan.target;
    bool existed = false;
    platform::File file = platform::File::CreateNew(target, &existed);
    if (file.IsOpen()) {
        if (memory) memory->Record(target, false);
        Produced produced;
        ProduceFailure why;
        if (!FillNewFile(handle, prepared.index, TimesOf(prepared.found), std::move(file), target, stop, produced, why,
                         ready))
            return Fail(failure, why);
        if (memory) memory->restored.insert(produced.identity);
        return true;
    }
    if (!existed) {
        ProduceFailure why;
        CreateFailed(why);
        return Fail(failure, why);
    }
    return ReplaceFile(handle, prepared, memory, stop, failure, ready);
}

// The entry restore, serially.
bool RestoreOneEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
                     std::int32_t expectedIndex, RestoreFailure* failure, RunMemory* memory) {
    PreparedEntry prepared;
    if (!PrepareEntry(entryName, destinationFolder, handle, expectedIndex, failure, memory, prepared)) return false;
    if (prepared.folderDone) return true;
    return RestoreFileBeside(handle, prepared, memory, nullptr, failure);
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


// Waits on `wake` until `ready` holds, `lock` held around every check (see
// platform::WakeUp for why the run does not use condition variables).
template <typename Ready>
void WaitUntil(platform::WakeUp& wake, std::unique_lock<std::mutex>& lock, Ready ready) {
    while (!ready()) {
        const std::uint32_t seen = wake.Epoch();
        lock.unlock();
        wake.WaitPast(seen);
        lock.lock();
    }
}

// Producers ahead of the committer. The run thread stays the committer: it
// walks the catalogue in order and makes every observable effect (folders,
// file creations, placements, notifications), exactly as the serial run
// does. Worker threads, each on its own archive handle, claim file entries
// in catalogue order and produce their checked data: small entries into
// memory, larger ones into temporary files in the deepest folder on the
// entry's way that the committer has already checked, else in the
// destination folder itself, which exists from the start. Both share the
// volume of the target unless a mount point intervenes.
//
// How far ahead they may go is bounded: at most kWindow entries beyond the
// committer and about kBytesAhead of produced, uncommitted data, except that
// the entry the committer waits for is always allowed, so the bound can't
// stall the run.
//
// The other way round, the committer hands back work: a small entry's file,
// once the committer has created it exclusively at its target, is written,
// stamped and closed by whichever thread is free (on Windows the close is
// where a scanner looks at the file). The committer learns each write's
// verdict in catalogue order and treats an entry as restored only then.
class Producers {
public:
    static constexpr std::int32_t kWindow = 256;
    static constexpr std::uint64_t kBytesAhead = 256ull << 20;
    // Entries up to kSmallEntry come through memory, within kMemoryBudget
    // held at once (handed-back writes included); larger ones, and any that
    // find the budget spent, come through temporary files.
    static constexpr std::uint64_t kSmallEntry = 1ull << 20;
    static constexpr std::uint64_t kMemoryBudget = 16ull << 20;
    // Writes handed back and not yet taken: beyond kMaxWrites the committer
    // does the oldest itself; idle producers are woken per kWakeBatch, not
    // per file (a wake-up costs both threads a switch).
    static constexpr std::size_t kMaxWrites = 64;
    static constexpr std::size_t kWakeBatch = 8;

    // One entry's verdict, handed to the committer.
    struct Result {
        bool produced = false;  // false: a folder entry or a record that can't be fetched
        bool ok = false;
        bool inMemory = false;  // the data is in `bytes`, else in the file `data`
        std::uint64_t memory = 0;  // memory budget `bytes` holds, to be given back
        Produced data;
        Bytes bytes;
        ProduceFailure why;
    };

    // A small entry's file, created by the committer at its target, with
    // the entry's checked data still to be written into it.
    struct WriteJob {
        std::int32_t index = -1;
        platform::File file;
        std::u16string path;
        Bytes bytes;
        EntryTimes times;
        std::uint64_t memory = 0;
        // Filled by the thread that writes it.
        bool done = false;
        bool ok = false;
        Produced produced;
        ProduceFailure why;
    };

    // A finished write, for the committer.
    struct Written {
        std::int32_t index = -1;
        bool ok = false;
        platform::FileIdentity identity;
        ProduceFailure why;
    };

    Producers(std::vector<std::unique_ptr<OpenArchiveGuard>> handles, std::int32_t count, std::u16string folder)
        : handles_(std::move(handles)), count_(count), folder_(std::move(folder)) {}
    Producers(const Producers&) = delete;
    Producers& operator=(const Producers&) = delete;
    ~Producers() { Stop(); }

    // Starts one thread per handle. False when none could be started.
    bool Start() {
        for (auto& handle : handles_) {
            try {
                threads_.emplace_back([this, h = handle->get()] { Work(h); });
            } catch (const std::system_error&) {
                break;
            }
        }
        return !threads_.empty();
    }

    // Folders the committer has checked (real folders below the
    // destination, no links) are where later entries' data may be produced:
    // the move to the target then stays near it, and new files spread over
    // the file system the way the tree does instead of piling up in one
    // folder.
    void Checked(const TargetPlan& plan) {
        // Most entries lie in the folder of the entry before.
        if (plan.levelEnds.empty() || lastChecked_.Holds(plan.target, plan.levelEnds.back())) return;
        lastChecked_.Remember(plan.target, plan.levelEnds.back());
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t end : plan.levelEnds) {
            std::u16string folder = plan.target.substr(0, end);
            folder.push_back(platform::kPathSeparator);
            checked_.insert(std::move(folder));
        }
    }

    // Waits for entry `index` (the committer's current entry) and takes its
    // verdict; the committer now owns the temporary file, if any, and the
    // memory budget of its bytes. Meanwhile it writes what it handed back.
    Result Await(std::int32_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        Slot& slot = slots_[index % kWindow];
        while (!(slot.index == index && slot.done) && RunOneWrite(lock)) {
        }
        awaiting_ = index;
        WaitUntil(ready_, lock, [&] { return slot.index == index && slot.done; });
        awaiting_ = -1;
        Result result = std::move(slot.result);
        slot.result.data.path.clear();
        result.memory = slot.inMemory;
        slot.inMemory = 0;
        return result;
    }

    // Gives back memory budget the committer took with a Result.
    void ReleaseMemory(std::uint64_t bytes) {
        if (bytes == 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        memoryAhead_ -= bytes;
    }

    // Hands back the write of the current entry's file. It joins the queue
    // at Finish, under the same lock.
    void HandOff(std::unique_ptr<WriteJob> job) { handed_ = std::move(job); }

    // The writes finished so far, oldest first, up to the first one still
    // running: the committer learns them in catalogue order.
    void TakeWritten(std::vector<Written>& out) {
        std::lock_guard<std::mutex> lock(mutex_);
        TakeWrittenLocked(out);
    }

    // Finishes every write handed back: the committer takes the queued ones
    // itself and waits for those on other threads.
    void SettleWrites() {
        std::unique_lock<std::mutex> lock(mutex_);
        QueueHanded();
        while (RunOneWrite(lock)) {
        }
        settling_ = true;
        WaitUntil(written_, lock, [&] { return unfinished_ == 0; });
        settling_ = false;
    }

    // The committer is done with entry `index`: its room in the window and
    // in the byte budget goes to the entries after it, the write it handed
    // back joins the queue, and the writes finished so far are taken (one
    // lock for all three: the committer is the run's bottleneck, and every
    // lock it shares with the producers can make it wait).
    void Finish(std::int32_t index, std::vector<Written>& written) {
        std::unique_lock<std::mutex> lock(mutex_);
        QueueHanded();
        Slot& slot = slots_[index % kWindow];
        if (slot.index == index) {
            Discard(slot.result.data.path);
            bytesAhead_ -= slot.reserved;
            memoryAhead_ -= slot.inMemory;
            slot = Slot{};
        }
        committing_ = index + 1;
        TakeWrittenLocked(written);
        // Window waiters are woken once a quarter of the window is free, and
        // one of them per kWakeBatch queued writes, not per entry; budget
        // waiters whenever budget comes back (rare: big entries only).
        const bool windowFreed = windowWaiters_ > 0 && next_ + kWindow / 4 <= committing_ + kWindow;
        const bool writesWaiting = windowWaiters_ > 0 && writes_.size() - firstQueued_ >= kWakeBatch;
        const bool budgetFreed = budgetWaiters_ > 0;
        if (writes_.size() > kMaxWrites) RunOneWrite(lock);
        lock.unlock();
        // Woken after the lock is let go, so that the woken thread need not
        // wait for it at once.
        if (windowFreed || budgetFreed || writesWaiting) room_.Wake();
    }

    // Ends the run's production: long entries stop between two buffers,
    // every thread is joined, and every temporary file that was produced but
    // not placed is removed. Writes handed back are settled first. Safe to
    // call more than once.
    void Stop() {
        SettleWrites();
        {
            // Under the lock, as every change a waiter checks for.
            std::lock_guard<std::mutex> lock(mutex_);
            stop_.store(true);
        }
        room_.Wake();
        ready_.Wake();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
        for (Slot& slot : slots_) {
            Discard(slot.result.data.path);
            slot = Slot{};
        }
    }

private:
    struct Slot {
        std::int32_t index = -1;
        bool done = false;
        std::uint64_t reserved = 0;
        std::uint64_t inMemory = 0;  // bytes of the memory budget this entry holds
        Result result;
    };

    void QueueHanded() {
        if (!handed_) return;
        writes_.push_back(std::move(handed_));
        ++unfinished_;
    }

    void TakeWrittenLocked(std::vector<Written>& out) {
        while (!writes_.empty() && writes_.front()->done) {
            WriteJob& job = *writes_.front();
            out.push_back({job.index, job.ok, job.produced.identity, job.why});
            writes_.pop_front();
            --firstQueued_;
        }
    }

    // Takes the oldest queued write, if any, and does it on this thread,
    // with the lock released meanwhile. False when none was queued.
    bool RunOneWrite(std::unique_lock<std::mutex>& lock) {
        if (firstQueued_ >= writes_.size()) return false;
        WriteJob& job = *writes_[firstQueued_++];
        lock.unlock();
        job.ok = FillNewFile(nullptr, job.index, job.times, std::move(job.file), std::move(job.path), nullptr,
                             job.produced, job.why, &job.bytes);
        job.bytes.clear();
        lock.lock();
        job.done = true;
        memoryAhead_ -= job.memory;
        if (--unfinished_ == 0 && settling_) {
            lock.unlock();
            written_.Wake();
            lock.lock();
        }
        return true;
    }

    void Work(ArchiveHandle* handle) {
        ArchiveEntry record;
        for (;;) {
            std::int32_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ++windowWaiters_;
                WaitUntil(room_, lock, [&] {
                    return stop_.load() || firstQueued_ < writes_.size() ||
                           (next_ < count_ && next_ < committing_ + kWindow);
                });
                --windowWaiters_;
                // Handed-back writes come first: the committer is waiting
                // for their verdicts, while claimed entries only run ahead.
                if (RunOneWrite(lock)) continue;
                if (stop_.load()) return;
                index = next_++;
                Slot& slot = slots_[index % kWindow];
                slot = Slot{};
                slot.index = index;
            }
            Result result;
            if (GetArchiveEntry(handle, index, record) == ARCHIVE_OK &&
                (record.attributes & platform::kAttributeDirectory) == 0) {
                const std::uint64_t size = record.uncompressedSize;
                std::u16string folder = folder_;
                bool inMemory = false;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    ++budgetWaiters_;
                    WaitUntil(room_, lock, [&] {
                        return stop_.load() || index == committing_ || bytesAhead_ + size <= kBytesAhead;
                    });
                    --budgetWaiters_;
                    if (!stop_.load()) {
                        Slot& slot = slots_[index % kWindow];
                        bytesAhead_ += size;
                        slot.reserved = size;
                        // Memory is never waited for: an entry that finds
                        // the budget spent goes through a file instead.
                        if (size <= kSmallEntry && memoryAhead_ + size <= kMemoryBudget) {
                            memoryAhead_ += size;
                            slot.inMemory = size;
                            inMemory = true;
                        }
                    }
                }
                if (!inMemory && !stop_.load()) folder = ProducingFolder(record.name);
                if (!stop_.load()) {
                    result.produced = true;
                    result.inMemory = inMemory;
                    if (inMemory) {
                        result.ok = ExtractToMemory(handle, index, size, result.bytes, result.why);
                    } else {
                        result.ok = ProduceEntry(handle, index, record, folder, &stop_, result.data, result.why);
                    }
                }
            }
            bool awaited = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                Slot& slot = slots_[index % kWindow];
                slot.result = std::move(result);
                slot.done = true;
                awaited = awaiting_ == index;
            }
            if (awaited) ready_.Wake();
        }
    }

    // Extracts and checks a small entry into memory; the committer creates
    // its file, so small files cost neither a temporary file nor a move, and
    // only one thread creates files in a folder.
    bool ExtractToMemory(ArchiveHandle* handle, std::int32_t index, std::uint64_t size, Bytes& bytes,
                         ProduceFailure& why) {
        MemorySink sink(bytes, size, &stop_);
        ExtractFailure extractWhy = ExtractFailure::kNone;
        const ArchiveResult result = ExtractEntryToSink(handle, index, sink, &extractWhy);
        if (result == ARCHIVE_OK) return true;
        bytes.clear();
        why.reason = EntryFailure::kExtractFailed;
        why.extractResult = result;
        why.extractFailure = extractWhy;
        return false;
    }

    // The deepest folder on the way to `name` that the committer has
    // already checked, else the destination itself.
    std::u16string ProducingFolder(const std::u16string& name) {
        const std::vector<std::u16string> candidates = FoldersOf(name);
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
            if (checked_.count(*it) != 0) return *it;
        }
        return folder_;
    }

    // The folder levels a name leads through, outermost first, as the
    // committer will plan them (nothing when the name is refused: the
    // committer fails it anyway).
    std::vector<std::u16string> FoldersOf(const std::u16string& name) const {
        std::vector<std::u16string> folders;
        std::u16string cleaned = name;
        ReplaceQuestionMarks(cleaned);
        NameParts split;
        if (!SplitName(cleaned, split) || split.parts.empty()) return folders;
        const TargetPlan plan = PlanTarget(split, folder_);
        for (std::size_t end : plan.levelEnds) {
            folders.push_back(plan.target.substr(0, end));
            folders.back().push_back(platform::kPathSeparator);
        }
        return folders;
    }

    std::vector<std::unique_ptr<OpenArchiveGuard>> handles_;
    const std::int32_t count_;
    const std::u16string folder_;
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    platform::WakeUp room_;     // producers wait here for window, budget or writes
    platform::WakeUp ready_;    // the committer waits here for its entry
    platform::WakeUp written_;  // the committer waits here for writes to finish
    int windowWaiters_ = 0;
    int budgetWaiters_ = 0;
    std::int32_t awaiting_ = -1;     // the entry the committer waits for, or -1
    std::int32_t next_ = 0;        // the next entry to claim
    std::int32_t committing_ = 0;  // the entry the committer is at
    std::uint64_t bytesAhead_ = 0;
    std::uint64_t memoryAhead_ = 0;
    std::array<Slot, kWindow> slots_;
    std::unordered_set<std::u16string> checked_;
    KnownFolders lastChecked_;  // the committer's alone
    // Handed-back writes, oldest first, until the committer takes their
    // verdicts; those before firstQueued_ are taken or done.
    std::deque<std::unique_ptr<WriteJob>> writes_;
    std::size_t firstQueued_ = 0;
    std::size_t unfinished_ = 0;
    bool settling_ = false;
    std::unique_ptr<WriteJob> handed_;  // the committer's, until Finish
};

// Gives back, on every way out, the memory budget a Result's bytes hold,
// unless the bytes were handed on with it.
class MemoryHold {
public:
    MemoryHold(Producers& producers, std::uint64_t bytes) : producers_(producers), bytes_(bytes) {}
    MemoryHold(const MemoryHold&) = delete;
    MemoryHold& operator=(const MemoryHold&) = delete;
    ~MemoryHold() { producers_.ReleaseMemory(bytes_); }
    std::uint64_t Take() { return std::exchange(bytes_, 0); }

private:
    Producers& producers_;
    std::uint64_t bytes_;
};

// A file entry whose data a producer made. Data in memory goes into the
// target, created here exclusively and handed back for writing
// (`handedOff`: the entry is restored only once that write is confirmed);
// a temporary file is placed, or, when the target lies on another volume,
// the entry is produced again beside the target so that the final move
// stays one step.
bool CommitFile(ArchiveHandle* handle, const PreparedEntry& prepared, Producers& producers, RunMemory* memory,
                RestoreFailure* failure, bool& handedOff) {
    handedOff = false;
    Producers::Result result = producers.Await(prepared.index);
    MemoryHold hold(producers, result.memory);
    // A destination folder that takes no new file (while the target's own
    // folder would) must not fail an entry the serial run restores.
    const bool notCreated = !result.ok && result.why.extractFailure == ExtractFailure::kCreateFailed;
    if (!result.produced || notCreated) return RestoreFileBeside(handle, prepared, memory, nullptr, failure);
    if (!result.ok) return Fail(failure, result.why);
    const std::u16string& target = prepared.plan.target;
    if (result.inMemory) {
        bool existed = false;
        platform::File file = platform::File::CreateNew(target, &existed);
        if (file.IsOpen()) {
            if (memory) memory->Record(target, false);
            auto job = std::make_unique<Producers::WriteJob>();
            job->index = prepared.index;
            job->file = std::move(file);
            job->path = target;
            job->bytes = std::move(result.bytes);
            job->times = TimesOf(prepared.found);
            job->memory = hold.Take();
            producers.HandOff(std::move(job));
            handedOff = true;
            return true;
        }
        if (!existed) {
            ProduceFailure why;
            CreateFailed(why);
            return Fail(failure, why);
        }
        return ReplaceFile(handle, prepared, memory, nullptr, failure, &result.bytes);
    }
    switch (Place(result.data, target, memory, failure)) {
    case Placement::kPlaced:
        return true;
    case Placement::kOtherVolume:
        Discard(result.data.path);
        return RestoreFileBeside(handle, prepared, memory, nullptr, failure);
    case Placement::kFailed:
        break;
    }
    Discard(result.data.path);
    return false;
}

// The entries the committer has finished, in order, until they are
// confirmed: an entry whose file another thread is still writing, and every
// entry after it, is not yet restored. Entries are confirmed in catalogue
// order and only then told to the observer, so that its notifications are
// the serial run's, from this thread.
class Ledger {
public:
    Ledger(RestoreObserver* observer, RestoreProgress& progress) : observer_(observer), progress_(progress) {}

    void Committed(std::int32_t index, std::uint64_t bytes, bool writing) {
        pending_.push_back({index, bytes, writing});
    }

    // Takes in the writes finished so far and confirms what it can. False
    // once a write has failed: that entry is the run's failure unless an
    // earlier one failed on this thread.
    bool Advance(const std::vector<Producers::Written>& written, RunMemory& memory) {
        if (failedAt_ < 0) {
            auto waiting = pending_.begin();
            for (const Producers::Written& w : written) {
                if (!w.ok) {
                    failedAt_ = w.index;
                    failedWhy_ = w.why;
                    break;
                }
                memory.restored.insert(w.identity);
                while (waiting != pending_.end() && waiting->index != w.index) ++waiting;
                if (waiting != pending_.end()) waiting->writing = false;
            }
        }
        while (!pending_.empty() && !pending_.front().writing) {
            const Pending done = pending_.front();
            pending_.pop_front();
            if (observer_) {
                ++progress_.entriesDone;
                progress_.bytesDone += done.bytes;
                observer_->OnRestoreProgress(progress_);
            }
            while (!memory.made.empty() && memory.made.front().entry <= done.index) memory.made.pop_front();
        }
        return failedAt_ < 0;
    }

    std::int32_t FailedAt() const { return failedAt_; }
    const ProduceFailure& FailedWhy() const { return failedWhy_; }

private:
    struct Pending {
        std::int32_t index;
        std::uint64_t bytes;
        bool writing;
    };
    RestoreObserver* observer_;
    RestoreProgress& progress_;
    std::deque<Pending> pending_;
    std::int32_t failedAt_ = -1;
    ProduceFailure failedWhy_;
};

}  // namespace

bool RestoreEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
                  RestoreFailure* failure) {
    return RestoreOneEntry(entryName, destinationFolder, handle, -1, failure, nullptr);
}

int RestoreArchive(const std::u16string& destinationFolder, const std::u16string& archivePath,
                   RestoreObserver* observer, RestoreFailure* failure) {
    return RestoreArchiveWithProducers(destinationFolder, archivePath, observer, failure, DefaultProducerCount());
}

RestoreProgress StartProgress(ArchiveHandle* archive, std::int32_t count, RestoreObserver* observer) {
    RestoreProgress progress;
    progress.entriesTotal = count > 0 ? count : 0;
    if (observer && observer->WantsByteTotal()) {
        ArchiveEntry sizes;
        for (std::int32_t i = 0; i < count; ++i) {
            if (GetArchiveEntry(archive, i, sizes) == ARCHIVE_OK) progress.bytesTotal += sizes.uncompressedSize;
        }
    }
    if (observer) observer->OnRestoreProgress(progress);
    return progress;
}

int DefaultProducerCount() {
    const int cores = platform::UsableCores();
    if (cores <= 1) return 0;
    return std::min(cores, kMaxProducers);
}

int RestoreArchiveWithProducers(const std::u16string& destinationFolder, const std::u16string& archivePath,
                                RestoreObserver* observer, RestoreFailure* failure, int producers) {
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
    // Producers read the archive through handles of their own, opened here
    // too, so that everything depending on the current folder happens on
    // this thread, within this moment.
    std::u16string saved;
    if (!platform::GetCurrentFolder(saved)) saved.clear();
    if (!platform::SetCurrentFolder(destinationFolder)) return RESTORE_NO_ARCHIVE;
    OpenArchiveGuard archive(OpenArchive(archivePath));
    ArchiveResult readerResult = lastReaderResult;
    ArchiveEntry record;
    const bool counted = archive.get() && GetArchiveEntry(archive.get(), -1, record) == ARCHIVE_OK;
    if (archive.get()) readerResult = lastReaderResult;
    const std::int32_t count = counted ? record.index : 0;
    // A single entry has nothing to run ahead of.
    std::vector<std::unique_ptr<OpenArchiveGuard>> producerHandles;
    for (int i = 0; count > 1 && i < producers; ++i) {
        auto handle = std::make_unique<OpenArchiveGuard>(OpenArchiveAlongside(*archive.get(), archivePath));
        if (!handle->get()) break;
        producerHandles.push_back(std::move(handle));
    }
    if (!saved.empty()) platform::SetCurrentFolder(saved);
    if (!archive.get()) {
        why.openResult = readerResult;
        return RESTORE_OPEN_FAILED;
    }
    if (!counted) {
        why.openResult = readerResult;
        return RESTORE_COUNT_FAILED;
    }

    RestoreProgress progress = StartProgress(archive.get(), count, observer);

    // With one usable core, or a single entry, nothing runs ahead: the
    // entries are restored one after the other on this thread.
    std::unique_ptr<Producers> ahead;
    if (!producerHandles.empty()) {
        ahead = std::make_unique<Producers>(std::move(producerHandles), count, destinationFolder);
        if (!ahead->Start()) ahead.reset();
    }
    producerHandles.clear();

    RunMemory memory;
    Ledger ledger(observer, progress);
    std::vector<Producers::Written> written;
    // Every write handed back finished, and its verdict taken in.
    auto settle = [&] {
        written.clear();
        if (ahead) {
            ahead->SettleWrites();
            ahead->TakeWritten(written);
        }
        return ledger.Advance(written, memory);
    };
    if (ahead) {
        memory.tracking = true;
        memory.settle = settle;
    }
    // Every failure ends here, with `why` describing entry `failed` (or
    // -1 when only a handed-back write failed). Writes still running are
    // finished first: the first failing entry in catalogue order is the
    // one reported, and what later entries made is removed again.
    auto failRun = [&](std::int32_t failed) {
        if (!ahead) return RESTORE_ENTRY_FAILED;
        settle();
        if (ledger.FailedAt() >= 0 && (failed < 0 || ledger.FailedAt() < failed)) {
            failed = ledger.FailedAt();
            why = RestoreFailure{};
            why.entryIndex = failed;
            if (GetArchiveEntry(archive.get(), failed, record) == ARCHIVE_OK) why.entryName = record.name;
            Fail(&why, ledger.FailedWhy());
        }
        // Temporary files go before the folders they may lie in.
        ahead->Stop();
        memory.UndoAfter(failed);
        return RESTORE_ENTRY_FAILED;
    };

    for (std::int32_t i = 0; i < count; ++i) {
        memory.current = i;
        // A record that can't be fetched names no entry: restoring whatever
        // the previous fetch left would report that entry twice and this
        // one never.
        const ArchiveResult fetched = GetArchiveEntry(archive.get(), i, record);
        if (fetched != ARCHIVE_OK) {
            why = RestoreFailure{};
            why.entryIndex = i;
            why.reason = EntryFailure::kFetchFailed;
            why.extractResult = fetched;
            return failRun(i);
        }
        PreparedEntry prepared;
        if (!PrepareEntry(record.name, destinationFolder, archive.get(), i, &why, &memory, prepared))
            return failRun(i);
        if (ahead) ahead->Checked(prepared.plan);
        bool writing = false;
        if (!prepared.folderDone) {
            const bool restored = ahead ? CommitFile(archive.get(), prepared, *ahead, &memory, &why, writing)
                                        : RestoreFileBeside(archive.get(), prepared, &memory, nullptr, &why);
            if (!restored) return failRun(i);
        }
        ledger.Committed(i, record.uncompressedSize, writing);
        written.clear();
        if (ahead) ahead->Finish(i, written);
        if (!ledger.Advance(written, memory)) return failRun(-1);
    }
    if (!settle()) return failRun(-1);
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
