// A restore planned, not run.

#include "restore/plan.h"

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
    void AddFolder(const std::u16string& path) { folders_.insert(Key(path)); }
    bool IsFile(const std::u16string& path) const { return files_.count(Key(path)) != 0; }
    bool IsFolder(const std::u16string& path) const { return folders_.count(Key(path)) != 0; }

private:
    static std::u16string Key(const std::u16string& path) {
        std::u16string key = path;
        while (!key.empty() && key.back() == platform::kPathSeparator) key.pop_back();
        if (platform::kNamesIgnoreCase) {
            for (char16_t& c : key) {
                if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
            }
        }
        return key;
    }
    std::unordered_set<std::u16string> files_;
    std::unordered_set<std::u16string> folders_;
};

// The levels on the way to an entry's target, as MakeFolderLevels would find
// them. kNone, with `missing` when a level would be made (and everything
// below it then is new), or the reason the run would refuse the entry.
EntryFailure JudgeLevels(const TargetPlan& plan, const Planned& planned, bool& missing) {
    missing = false;
    for (std::size_t end : plan.levelEnds) {
        const std::u16string level = plan.target.substr(0, end);
        if (planned.IsFile(level)) return EntryFailure::kFolderFailed;
        if (planned.IsFolder(level)) continue;
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) {
            missing = true;
            return EntryFailure::kNone;
        }
        if ((attributes & platform::kAttributeDirectory) == 0 || (attributes & platform::kAttributeReparsePoint) != 0)
            return EntryFailure::kFolderFailed;
    }
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
    planned.AddFolder(folder);
    if (levelMissing) return;  // new
    const platform::PathIdentity there = platform::ReadPathIdentity(folder);
    if (!there.exists) return;
    if (there.folder) {
        out.kind = PlanKind::kKeep;
        return;
    }
    const std::uint32_t attributes = platform::ReadAttributes(folder);
    if ((attributes & platform::kAttributeReparsePoint) != 0 && choices.existing != ExistingPolicy::kKeep)
        return Refuse(out, EntryFailure::kTargetInTheWay);
    const Judgement judged = JudgeWhatStands(prepared.found, folder, there,
                                             RestoreChoices{nullptr, choices.existing, false});
    out.newerThere = judged.newerThere;
    out.kind = judged.verdict == Verdict::kKeep ? PlanKind::kKeep : PlanKind::kReplace;
}

void PlanFileEntry(const PreparedEntry& prepared, const RestoreChoices& choices, Planned& planned, bool levelMissing,
                   PlannedEntry& out) {
    const std::u16string& target = prepared.plan.target;
    if (prepared.plan.NamesFolder()) return Refuse(out, EntryFailure::kTargetInTheWay);
    if (planned.IsFile(target)) return Refuse(out, EntryFailure::kDuplicateName);
    if (planned.IsFolder(target)) {
        if (choices.existing == ExistingPolicy::kKeep) {
            out.kind = PlanKind::kKeep;
            return;
        }
        return Refuse(out, EntryFailure::kTargetInTheWay);
    }
    planned.AddFile(target);
    if (levelMissing) return;  // new
    const platform::PathIdentity there = platform::ReadPathIdentity(target);
    const Judgement judged = JudgeWhatStands(prepared.found, target, there, choices);
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
                const RestoreChoices& choices, std::vector<PlannedEntry>& entries, RestoreFailure* failure) {
    RestoreFailure scratch;
    RestoreFailure& why = failure ? *failure : scratch;
    why = RestoreFailure{};
    entries.clear();
    if (!platform::PathExists(archivePath)) return RESTORE_NO_ARCHIVE;
    for (const std::u16string& level : DestinationChain(destinationFolder)) {
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) break;
        if ((attributes & platform::kAttributeDirectory) == 0) return RESTORE_NO_ARCHIVE;
    }
    OwnedArchive archive(OpenArchiveIn(archivePath, destinationFolder).release());
    if (!archive) {
        why.openResult = lastReaderResult;
        return RESTORE_OPEN_FAILED;
    }
    ArchiveEntry record;
    if (GetArchiveEntry(archive.get(), -1, record) != ARCHIVE_OK) {
        why.openResult = lastReaderResult;
        return RESTORE_COUNT_FAILED;
    }
    const std::int32_t count = record.index;
    Planned planned;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!IsChosen(choices.entries, i)) continue;
        PlannedEntry out;
        out.index = i;
        if (GetArchiveEntry(archive.get(), i, record) != ARCHIVE_OK) {
            Refuse(out, EntryFailure::kFetchFailed);
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
        const EntryFailure levels = JudgeLevels(prepared.plan, planned, levelMissing);
        if (levels != EntryFailure::kNone) {
            Refuse(out, levels);
        } else {
            for (std::size_t end : prepared.plan.levelEnds) planned.AddFolder(prepared.plan.target.substr(0, end));
            if (out.folder) {
                PlanFolderEntry(prepared, choices, planned, levelMissing, out);
            } else {
                PlanFileEntry(prepared, choices, planned, levelMissing, out);
            }
        }
        entries.push_back(std::move(out));
    }
    return RESTORE_OK;
}
