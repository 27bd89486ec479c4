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

bool PreparedEntry::IsFolder() const { return (found.attributes & platform::kAttributeDirectory) != 0; }

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
            if (ledger) ledger->Made(level, true);
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

bool SomethingAtTarget(const PreparedEntry& prepared) {
    return platform::ReadAttributes(prepared.plan.target) != platform::kInvalidAttributes;
}

bool RestoreFolderEntry(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger,
                        RestoreFailure* failure) {
    const std::u16string& target = prepared.plan.target;
    const std::uint32_t existing = platform::ReadAttributes(target);
    if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeReparsePoint) != 0)
        return Fail(failure, EntryFailure::kTargetInTheWay);
    if (existing != platform::kInvalidAttributes && (existing & platform::kAttributeDirectory) == 0) {
        // Nothing is lost that the archive does not replace, unless the file
        // is one this run restored.
        const platform::PathIdentity there = platform::ReadPathIdentity(target);
        if (ledger && there.exists && ledger->IsRestored(there.identity))
            return Fail(failure, EntryFailure::kDuplicateName);
        platform::WriteAttributes(target, platform::kAttributeNormal);
        bool inUse = false;
        if (!platform::RemoveFile(target, &inUse)) {
            platform::WriteAttributes(target, existing);
            return Fail(failure, inUse ? EntryFailure::kFileInUse : EntryFailure::kTargetInTheWay);
        }
    }
    ExtractFailure why = ExtractFailure::kNone;
    const ArchiveResult result = ExtractEntry(handle, prepared.index, target, &why);
    if (result != ARCHIVE_OK) {
        if (failure) {
            failure->extractResult = result;
            failure->extractFailure = why;
        }
        return Fail(failure, EntryFailure::kExtractFailed);
    }
    if (existing == platform::kInvalidAttributes && ledger) ledger->Made(target, true);
    platform::WriteAttributes(target, platform::kAttributeNormal);
    if (!platform::CanRead(target)) return Fail(failure, EntryFailure::kNotReadable);
    return true;
}
