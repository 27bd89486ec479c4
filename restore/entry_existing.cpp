// What already stands at an entry's path, judged for the user's choices:
// replaced, kept, or left because it holds the entry already.

#include <algorithm>
#include <vector>

#include "platform/file.h"
#include "restore/entry_restore.h"
#include "restore/run_ledger.h"

namespace {

// FAT keeps write times to two seconds, and archives keep them to one or
// two: times closer than this are the same time.
constexpr std::int64_t kSameTimeUnits = 2 * 10000000LL;

// -1, 0 or 1 as `there` was written before, at or after `entry`.
int CompareTimes(platform::FileTime there, platform::FileTime entry) {
    const std::int64_t difference = static_cast<std::int64_t>(there) - static_cast<std::int64_t>(entry);
    if (difference <= -kSameTimeUnits) return -1;
    if (difference >= kSameTimeUnits) return 1;
    return 0;
}

bool Fail(RestoreFailure* failure, EntryFailure reason) {
    if (failure) failure->reason = reason;
    return false;
}

}  // namespace

// Read through a buffer of its own (a file of any size costs the same
// memory), and no further than its size and one byte more: a restore again
// over a complete one reads each file once, in one call where it fits.
bool FileHolds(const std::u16string& path, const platform::PathIdentity& before, std::uint32_t crc,
               const FillStop* stop) {
    if (!before.exists || !before.regular) return false;
    platform::File file = platform::File::OpenForReading(path);
    if (!file.IsOpen()) return false;
    // The file judged by its size and time must be the one read.
    platform::FileIdentity opened;
    if (!file.GetIdentity(opened) || !(opened == before.identity)) return false;
    const std::uint64_t size = before.size;
    constexpr std::uint64_t kBuffer = 256 * 1024;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(size, kBuffer)) + 1);
    std::uint64_t left = size;
    std::uint32_t running = 0;
    while (left > 0) {
        if (stop && stop->Requested()) return false;
        std::size_t got = 0;
        const auto want = static_cast<std::size_t>(std::min(left, kBuffer));
        if (!file.Read(buffer.data(), want, got) || got != want) return false;
        running = UpdateCrc32(running, buffer.data(), got);
        left -= got;
        if (stop) stop->Count(got);
    }
    if (running != crc) return false;
    // A file that grew while it was read holds more than the entry.
    std::size_t beyond = 0;
    if (!file.Read(buffer.data(), 1, beyond) || beyond != 0) return false;
    file.Close();
    // Written meanwhile (the size may have come back, the time would not):
    // what was read is not what stands there now.
    const platform::PathIdentity after = platform::ReadPathIdentity(path);
    return after.exists && after.regular && after.identity == before.identity && after.size == before.size &&
           after.writeTime == before.writeTime;
}

bool MayHoldEntry(const ArchiveEntry& entry, const platform::PathIdentity& there) {
    return there.exists && there.regular && entry.writeTime != 0 && there.writeTime != 0 &&
           CompareTimes(there.writeTime, entry.writeTime) == 0 && there.size == entry.uncompressedSize;
}

Judgement JudgeWhatStands(const ArchiveEntry& entry, const std::u16string& path, const platform::PathIdentity& there,
                          const RestoreChoices& choices, const FillStop* stop) {
    Judgement judged;
    if (!there.exists) return judged;
    const bool timeKnown = entry.writeTime != 0 && there.writeTime != 0;
    const int age = timeKnown ? CompareTimes(there.writeTime, entry.writeTime) : 0;
    judged.newerThere = age > 0;
    if (choices.skipIdentical && MayHoldEntry(entry, there) && FileHolds(path, there, entry.crc32, stop)) {
        judged.verdict = Verdict::kIdentical;
        return judged;
    }
    switch (choices.existing) {
    case ExistingPolicy::kReplace: judged.verdict = Verdict::kReplace; break;
    case ExistingPolicy::kKeep: judged.verdict = Verdict::kKeep; break;
    case ExistingPolicy::kNewer:
        // An entry without a time can't be the newer one.
        judged.verdict = timeKnown && age < 0 ? Verdict::kReplace : Verdict::kKeep;
        break;
    }
    return judged;
}

bool JudgesWhatStands(const RestoreChoices& choices) {
    return choices.skipIdentical || choices.existing != ExistingPolicy::kReplace;
}

bool RestoreOverWhatStands(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger,
                           const FillStop& stop, const RestoreChoices& choices, RestoreFailure* failure,
                           const platform::PathIdentity* known) {
    const std::u16string& target = prepared.plan.target;
    const platform::PathIdentity there = known ? *known : platform::ReadPathIdentity(target);
    if (ledger && there.exists && ledger->Claims(target, there.identity))
        return Fail(failure, EntryFailure::kDuplicateName);
    // A folder this run made (a level of an earlier entry) is the run's, not
    // something that stood there: no policy keeps it in a file's place.
    if (ledger && there.exists && there.folder && ledger->MadeHere(target))
        return Fail(failure, EntryFailure::kTargetInTheWay);
    const Judgement judged = JudgeWhatStands(prepared.found, target, there, choices, &stop);
    // A read cut short by a stop says nothing about the file: the entry is
    // neither kept nor replaced.
    if (stop.user && stop.user->Requested()) return Fail(failure, EntryFailure::kInterrupted);
    if (judged.verdict == Verdict::kKeep || judged.verdict == Verdict::kIdentical) {
        if (ledger) {
            ledger->Keep(there.exists ? &there.identity : nullptr,
                         judged.verdict == Verdict::kIdentical ? EntryOutcome::kIdentical : EntryOutcome::kKept,
                         target);
        }
        return true;
    }
    return ReplaceWithEntry(handle, prepared, ledger, stop, failure);
}
