// Preparing an entry: its name judged and searched, its folder levels, and
// the whole of a folder entry.

#include "platform/fs.h"
#include "restore/entry_restore.h"
#include "restore/run_ledger.h"

namespace {

bool Fail(RestoreFailure* failure, EntryFailure reason) {
    if (failure) failure->reason = reason;
    return false;
}

}  // namespace

bool PreparedEntry::IsFolder() const {
    return (found.attributes & platform::kAttributeDirectory) != 0 || (plan.NamesFolder() && found.uncompressedSize == 0);
}

EntryFailure ReasonOf(platform::Refusal refusal) {
    switch (refusal) {
    case platform::Refusal::kInUse: return EntryFailure::kFileInUse;
    case platform::Refusal::kAccessDenied: return EntryFailure::kAccessDenied;
    case platform::Refusal::kNone:
    case platform::Refusal::kOther: break;
    }
    return EntryFailure::kTargetInTheWay;
}

bool PlanEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
               std::int32_t expectedIndex, PreparedEntry& prepared, RestoreFailure* failure) {
    if (failure) {
        *failure = RestoreFailure{};
        failure->entryIndex = expectedIndex;
        failure->entryName = entryName;
    }
    if (handle == nullptr || handle->kind != 1) return Fail(failure, EntryFailure::kBadHandle);
    const EntryFailure judged = PlanEntryTarget(entryName, destinationFolder, prepared.plan);
    if (judged != EntryFailure::kNone) return Fail(failure, judged);

    // The name search takes names up to kMaxSearchNameUnits; a longer one,
    // which the format allows and deep backups hold, is taken from the
    // catalogue position the run read it from. Two such names that differ
    // only in case are then told apart by the file system, as any names are.
    if (entryName.size() > kMaxSearchNameUnits && expectedIndex >= 0) {
        prepared.index = expectedIndex;
        if (GetArchiveEntry(handle, expectedIndex, prepared.found) != ARCHIVE_OK)
            return Fail(failure, EntryFailure::kNotFound);
    } else if (FindEntryByName(handle, entryName, &prepared.index, prepared.found) != ARCHIVE_OK) {
        return Fail(failure, EntryFailure::kNotFound);
    }
    if (failure) failure->entryIndex = expectedIndex >= 0 ? expectedIndex : prepared.index;
    // The search ignores ASCII case; the disk may not. Of two names that
    // differ only in case, the later one fails here.
    if (prepared.found.name != entryName) return Fail(failure, EntryFailure::kNameMismatch);
    if (expectedIndex >= 0 && prepared.index != expectedIndex) return Fail(failure, EntryFailure::kDuplicateName);
    return true;
}

bool CanHoldFile(const PreparedEntry& prepared, RestoreFailure* failure) {
    return !prepared.plan.NamesFolder() || Fail(failure, EntryFailure::kTargetInTheWay);
}

bool MakeFolderLevels(const PreparedEntry& prepared, KnownFolders* known, Ledger* ledger, RestoreFailure* failure) {
    const TargetPlan& plan = prepared.plan;
    for (std::size_t end : plan.levelEnds) {
        if (known && known->Holds(plan.target, end)) continue;
        const std::u16string level = plan.target.substr(0, end);
        const std::uint32_t attributes = platform::ReadAttributes(level);
        if (attributes == platform::kInvalidAttributes) {
            if (!platform::MakeFolder(level)) return Fail(failure, EntryFailure::kFolderFailed);
            if (ledger) ledger->MadeFolder(level);
        } else if ((attributes & platform::kAttributeDirectory) == 0 ||
                   (attributes & platform::kAttributeReparsePoint) != 0) {
            // A link (or junction) where a level goes may lead out of the
            // destination.
            return Fail(failure, EntryFailure::kFolderFailed);
        }
    }
    if (known && !plan.levelEnds.empty()) known->Remember(plan.target, plan.levelEnds.back());
    return true;
}

// "./" names the destination itself.
std::u16string FolderOf(const TargetPlan& plan) {
    if (!plan.NamesFolder() || plan.levelEnds.empty()) return plan.target;
    return plan.target.substr(0, plan.levelEnds.back());
}

namespace {

constexpr std::uint32_t kChangedByNormal = platform::kAttributeReadOnly | platform::kAttributeHidden |
                                           platform::kAttributeSystem | platform::kAttributeArchive;

// The folder stands, as it should: it is left with normal attributes and
// must be readable.
bool FinishFolder(const std::u16string& folder, RestoreFailure* failure) {
    const std::uint32_t attributes = platform::ReadAttributes(folder);
    if (attributes != platform::kInvalidAttributes && (attributes & kChangedByNormal) != 0)
        platform::WriteAttributes(folder, platform::kAttributeNormal);
    if (!platform::CanRead(folder)) return Fail(failure, EntryFailure::kNotReadable);
    return true;
}

}  // namespace

bool FolderEntryChangesWhatStands(const PreparedEntry& prepared) {
    const std::uint32_t attributes = platform::ReadAttributes(FolderOf(prepared.plan));
    if (attributes == platform::kInvalidAttributes) return false;
    const bool realFolder = (attributes & platform::kAttributeDirectory) != 0 &&
                            (attributes & platform::kAttributeReparsePoint) == 0;
    return !realFolder || (attributes & kChangedByNormal) != 0;
}

// The reader is never asked to make the folder: it would make it under the
// stored name, below its own base, where the plan has judged and mapped
// nothing ("l?" followed as a link while the plan checked "l_").
bool RestoreFolderEntry(const PreparedEntry& prepared, Ledger* ledger, RestoreFailure* failure,
                        EntryOutcome* outcome) {
    const std::u16string folder = FolderOf(prepared.plan);
    const std::uint32_t existing = platform::ReadAttributes(folder);
    // A folder that stood there stays as it was; one this run made (a level
    // of an earlier entry, or of this one) or replaced counts as restored.
    if (outcome) {
        const bool stood = existing != platform::kInvalidAttributes && !(ledger && ledger->MadeHere(folder));
        *outcome = stood && (existing & platform::kAttributeDirectory) != 0 ? EntryOutcome::kKept
                                                                               : EntryOutcome::kRestored;
    }
    if (prepared.plan.NamesFolder()) return FinishFolder(folder, failure);
    if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeReparsePoint) != 0)
        return Fail(failure, EntryFailure::kTargetInTheWay);
    if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeDirectory) == 0) {
        // Nothing is lost that the archive does not replace, unless the file
        // is one this run restored.
        const platform::PathIdentity there = platform::ReadPathIdentity(folder);
        if (ledger && there.exists && ledger->Claims(folder, there.identity))
            return Fail(failure, EntryFailure::kDuplicateName);
        platform::WriteAttributes(folder, platform::kAttributeNormal);
        platform::Refusal why = platform::Refusal::kNone;
        if (!platform::RemoveFile(folder, &why)) {
            platform::WriteAttributes(folder, existing);
            return Fail(failure, ReasonOf(why));
        }
    }
    if (existing == platform::kInvalidAttributes || (existing & platform::kAttributeDirectory) == 0) {
        if (!platform::MakeFolder(folder)) return Fail(failure, EntryFailure::kFolderFailed);
        if (ledger) ledger->MadeFolder(folder);
    }
    return FinishFolder(folder, failure);
}
