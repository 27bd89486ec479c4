// A restore planned, not run.

#include "restore/plan.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/fs.h"
#include "restore/entry_restore.h"
#include "restore/restore_internal.h"

namespace {

// Paths this plan has given to earlier entries, compared as the file
// system compares names.
class Planned {
public:
    void AddFile(const std::u16string& path) { files_.insert(Key(path)); }
    // `made`: the run makes the folder (it did not stand there before).
    void AddFolder(const std::u16string& path, bool made) {
        const auto [it, added] = folders_.emplace(Key(path), made);
        if (!added) it->second = it->second || made;
    }
    bool IsFile(const std::u16string& path) const { return files_.count(Key(path)) != 0; }
    bool IsFolder(const std::u16string& path) const { return folders_.count(Key(path)) != 0; }
    bool IsMadeFolder(const std::u16string& path) const {
        const auto it = folders_.find(Key(path));
        return it != folders_.end() && it->second;
    }

private:
    static std::u16string Key(const std::u16string& path) {
        std::u16string_view key = path;
        while (!key.empty() && key.back() == platform::kPathSeparator) key.remove_suffix(1);
        return platform::NameKey(key);
    }
    std::unordered_set<std::u16string> files_;
    std::unordered_map<std::u16string, bool> folders_;
};

// The levels on the way to an entry's target, as MakeFolderLevels would find
// them. kNone, with `missing` when a level would be made (and everything
// below it then is new), or the reason the run would refuse the entry.
// `known` spares the disk the levels of the previous entry, as in the run.
EntryFailure JudgeLevels(const TargetPlan& plan, Planned& planned, KnownFolders& known, bool& missing) {
    missing = false;
    for (std::size_t end : plan.levelEnds) {
        if (known.Holds(plan.target, end)) continue;
        const std::u16string level = plan.target.substr(0, end);
        if (planned.IsFile(level)) return EntryFailure::kFolderFailed;
        if (planned.IsFolder(level)) continue;
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) {
            // Made by the restore, with every level below it.
            missing = true;
            for (std::size_t below : plan.levelEnds) {
                if (below >= end) planned.AddFolder(plan.target.substr(0, below), true);
            }
            return EntryFailure::kNone;
        }
        if ((attributes & platform::kAttributeDirectory) == 0 || (attributes & platform::kAttributeReparsePoint) != 0)
            return EntryFailure::kFolderFailed;
    }
    if (!plan.levelEnds.empty()) known.Remember(plan.target, plan.levelEnds.back());
    return EntryFailure::kNone;
}

void Refuse(PlannedEntry& planned, EntryFailure reason) {
    planned.kind = PlanKind::kRefused;
    planned.reason = reason;
}

void PlanFolderEntry(const PreparedEntry& prepared, const RestoreChoices& choices, Planned& planned,
                     bool levelMissing, PlannedEntry& out) {
    const std::u16string folder = FolderOf(prepared.plan);
    if (planned.IsFile(folder)) return Refuse(out, EntryFailure::kDuplicateName);
    // A folder an earlier entry's way made is the run's: this entry adds
    // nothing to it, and no policy keeps it as something that stood there.
    if (levelMissing || planned.IsMadeFolder(folder)) {
        planned.AddFolder(folder, true);
        return;  // new
    }
    const platform::PathIdentity there = platform::ReadPathIdentity(folder);
    // Windows reads a link to a folder (or a junction) as a folder: only
    // its attributes tell.
    const bool link = there.exists && (platform::ReadAttributes(folder) & platform::kAttributeReparsePoint) != 0;
    planned.AddFolder(folder, !there.exists || !there.folder || link);
    if (!there.exists) return;
    if (there.folder && !link) {
        out.kind = PlanKind::kKeep;
        return;
    }
    const Judgement judged = JudgeWhatStands(prepared.found, folder, there,
                                             RestoreChoices{nullptr, choices.existing, false});
    out.newerThere = judged.newerThere;
    const bool keeps = choices.existing != ExistingPolicy::kReplace && judged.verdict == Verdict::kKeep;
    // A link is never replaced by a folder: kept where the policy keeps it,
    // else refused.
    if (link && !keeps) return Refuse(out, EntryFailure::kTargetInTheWay);
    out.kind = keeps ? PlanKind::kKeep : PlanKind::kReplace;
}

// Files that may hold their entry already, read while the plan goes on, on
// the threads a restore would use; the plan is told once it is done.
class IdenticalReads {
public:
    // `threads`: how many read beside the plan (none: all are read at the
    // end, on the plan's thread).
    explicit IdenticalReads(int threads, const StopRequest* stop) : stop_{stop, nullptr, 0, nullptr, nullptr} {
        for (int t = 0; t < threads; ++t) {
            try {
                threads_.emplace_back([this] { Read(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    IdenticalReads(const IdenticalReads&) = delete;
    IdenticalReads& operator=(const IdenticalReads&) = delete;
    ~IdenticalReads() { Finish(); }

    void Add(std::size_t planned, std::u16string path, const platform::PathIdentity& there, std::uint32_t crc) {
        bool full;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            waiting_.push_back({planned, std::move(path), there, crc});
            full = waiting_.size() >= kBatch;
        }
        // Readers are woken a batch at a time: the plan finds files more
        // slowly than they are read, and a wake-up per file (a system call
        // and a switch each) cost as much as reading a small file.
        if (full) more_.notify_one();
    }

    // Waits until every file added is read (reading on this thread too)
    // and marks those that hold their entry identical.
    void Apply(std::vector<PlannedEntry>& entries) {
        Finish();
        for (std::size_t planned : identical_) entries[planned].kind = PlanKind::kIdentical;
    }

private:
    struct File {
        std::size_t planned;
        std::u16string path;
        platform::PathIdentity there;
        std::uint32_t crc;
    };

    void Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        more_.notify_all();
        Read();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    // Until no file waits and none will be added.
    void Read() {
        std::unique_lock<std::mutex> lock(mutex_);
        std::vector<File> batch;
        std::vector<std::size_t> held;
        for (;;) {
            more_.wait(lock, [&] { return done_ || waiting_.size() >= kBatch; });
            if (waiting_.empty()) return;
            batch.clear();
            while (!waiting_.empty() && batch.size() < kBatch) {
                batch.push_back(std::move(waiting_.front()));
                waiting_.pop_front();
            }
            lock.unlock();
            held.clear();
            for (const File& file : batch)
                if (FileHolds(file.path, file.there, file.crc, &stop_)) held.push_back(file.planned);
            lock.lock();
            identical_.insert(identical_.end(), held.begin(), held.end());
        }
    }

    static constexpr std::size_t kBatch = 64;

    const FillStop stop_;

    std::mutex mutex_;
    std::condition_variable more_;
    std::deque<File> waiting_;
    bool done_ = false;
    std::vector<std::size_t> identical_;
    std::vector<std::thread> threads_;
};

void PlanFileEntry(const PreparedEntry& prepared, const RestoreChoices& choices, Planned& planned, bool levelMissing,
                   PlannedEntry& out, IdenticalReads& identical, std::size_t position) {
    const std::u16string& target = prepared.plan.target;
    if (prepared.plan.NamesFolder()) return Refuse(out, EntryFailure::kTargetInTheWay);
    if (planned.IsFile(target)) return Refuse(out, EntryFailure::kDuplicateName);
    // A folder the run makes is in the way whatever the policy; one that
    // stood there is judged as the disk has it, below.
    if (planned.IsMadeFolder(target)) return Refuse(out, EntryFailure::kTargetInTheWay);
    planned.AddFile(target);
    if (levelMissing) return;  // new
    const platform::PathIdentity there = platform::ReadPathIdentity(target);
    // What the policy does with it; whether it holds the entry already is
    // read later, with the others.
    const Judgement judged = JudgeWhatStands(prepared.found, target, there,
                                             RestoreChoices{nullptr, choices.existing, false});
    if (choices.skipIdentical && MayHoldEntry(prepared.found, there))
        identical.Add(position, target, there, prepared.found.crc32);
    out.newerThere = judged.newerThere;
    switch (judged.verdict) {
    case Verdict::kNothing: break;
    case Verdict::kIdentical: out.kind = PlanKind::kIdentical; break;
    case Verdict::kKeep: out.kind = PlanKind::kKeep; break;
    case Verdict::kReplace:
        if (there.folder) return Refuse(out, EntryFailure::kTargetInTheWay);
        out.kind = PlanKind::kReplace;
        break;
    }
}

}  // namespace

int PlanRestore(const std::u16string& destinationFolder, const std::u16string& archivePath,
                const RestoreChoices& choices, std::vector<PlannedEntry>& entries, RestoreFailure* failure,
                const StopRequest* stop) {
    RestoreFailure scratch;
    RestoreFailure& why = failure ? *failure : scratch;
    why = RestoreFailure{};
    entries.clear();
    // A file where the destination's folders go ends the run as a missing
    // archive does, before anything is read.
    for (const std::u16string& level : DestinationChain(destinationFolder)) {
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) break;
        if ((attributes & platform::kAttributeDirectory) == 0) return RESTORE_NO_ARCHIVE;
    }
    OwnedArchive archive;
    std::int32_t count = 0;
    if (const int opened = OpenAndCount(archivePath, destinationFolder, archive, count, why); opened != RESTORE_OK)
        return opened;
    ArchiveEntry record;
    Planned planned;
    KnownFolders known;
    IdenticalReads identical(choices.skipIdentical ? DefaultProducerCount() : 0, stop);
    for (std::int32_t i = 0; i < count; ++i) {
        if (stop && stop->Requested()) break;
        if (!IsChosen(choices.entries, i)) continue;
        PlannedEntry out;
        out.index = i;
        if (const ArchiveResult fetched = GetArchiveEntry(archive.get(), i, record); fetched != ARCHIVE_OK) {
            Refuse(out, EntryFailure::kFetchFailed);
            out.fetchResult = fetched;
            entries.push_back(std::move(out));
            continue;
        }
        out.name = record.name;
        out.bytes = record.uncompressedSize;
        PreparedEntry prepared;
        RestoreFailure refused;
        if (!PlanEntry(record.name, destinationFolder, archive.get(), i, prepared, &refused)) {
            Refuse(out, refused.reason);
            entries.push_back(std::move(out));
            continue;
        }
        out.folder = prepared.IsFolder();
        bool levelMissing = false;
        const EntryFailure levels = JudgeLevels(prepared.plan, planned, known, levelMissing);
        if (levels != EntryFailure::kNone) {
            Refuse(out, levels);
        } else {
            if (out.folder) {
                PlanFolderEntry(prepared, choices, planned, levelMissing, out);
            } else {
                PlanFileEntry(prepared, choices, planned, levelMissing, out, identical, entries.size());
            }
        }
        entries.push_back(std::move(out));
    }
    identical.Apply(entries);
    if (stop && stop->Requested()) {
        why.reason = EntryFailure::kInterrupted;
        return RESTORE_ENTRY_FAILED;
    }
    return RESTORE_OK;
}
