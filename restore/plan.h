#pragma once
// What a restore would do, found without doing any of it: for each entry
// the user chose, whether it would be made new, replace what stands at its
// path (and whether that is newer than the backup's), leave a file that
// holds it already, keep what stands there, or be refused, and why. The
// same judgements decide as in the run (the name plan, the folder levels,
// the user's choices), so a restore that follows with nothing changed on
// disk does what the plan says, up to the first refused entry, where it
// stops. Damaged data is not found here: nothing is read but the catalogue
// (and, for RestoreChoices::skipIdentical, the files that may hold an
// entry already).

#include <cstdint>
#include <string>
#include <vector>

#include "restore/restore.h"

enum class PlanKind { kNew, kReplace, kIdentical, kKeep, kRefused };

struct PlannedEntry {
    std::int32_t index = -1;
    std::u16string name;
    bool folder = false;
    std::uint64_t bytes = 0;  // uncompressed
    PlanKind kind = PlanKind::kNew;
    bool newerThere = false;  // what stands there was written after the entry's time
    EntryFailure reason = EntryFailure::kNone;  // for kRefused
    ArchiveResult fetchResult = ARCHIVE_OK;     // for kFetchFailed: what the catalogue said
};

// Plans a restore of `archivePath` below `destinationFolder` (absolute,
// ending in the separator). Gives the code a restore with the same choices
// would give before writing anything: RESTORE_OK when it would start, else
// RESTORE_NO_ARCHIVE (no archive, or a level of the destination that
// can't be made because something else stands there), RESTORE_OPEN_FAILED
// or RESTORE_COUNT_FAILED, with `failure` filled as a restore fills it.
// `entries` gets the chosen entries in catalogue order. `stop`, when
// given, ends the plan between two entries or two buffers of a file read:
// RESTORE_ENTRY_FAILED with reason kInterrupted, `entries` incomplete.
int PlanRestore(const std::u16string& destinationFolder, const std::u16string& archivePath,
                const RestoreChoices& choices, std::vector<PlannedEntry>& entries, RestoreFailure* failure = nullptr,
                const StopRequest* stop = nullptr);
