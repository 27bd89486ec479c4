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

// Read through a buffer of its own
// (a file of any size costs the same memory), and no further than `size`:
// a restore again over a complete one reads each file once, in one call
// where it fits.
bool FileHolds(const std::u16string& path, std::uint64_t size, std::uint32_t crc) {
    platform::File file = platform::File::OpenForReading(path);
    if (!file.IsOpen()) return false;
    constexpr std::uint64_t kBuffer = 256 * 1024;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(size, kBuffer)));
    std::uint64_t left = size;
    std::uint32_t running = 0;
    while (left > 0) {
        std::size_t got = 0;
        const auto want = static_cast<std::size_t>(std::min(left, kBuffer));
        if (!file.Read(buffer.data(), want, got) || got != want) return false;
        running = UpdateCrc32(running, buffer.data(), got);
        left -= got;
    }
    return running == crc;
}

bool MayHoldEntry(const ArchiveEntry& entry, const platform::PathIdentity& there) {
    return there.exists && there.regular && entry.writeTime != 0 && there.writeTime != 0 &&
           CompareTimes(there.writeTime, entry.writeTime) == 0 && there.size == entry.uncompressedSize;
}

Judgement JudgeWhatStands(const ArchiveEntry& entry, const std::u16string& path, const platform::PathIdentity& there,
                          const RestoreChoices& choices) {
    Judgement judged;
    if (!there.exists) return judged;
    const bool timeKnown = entry.writeTime != 0 && there.writeTime != 0;
    const int age = timeKnown ? CompareTimes(there.writeTime, entry.writeTime) : 0;
    judged.newerThere = age > 0;
    if (choices.skipIdentical && MayHoldEntry(entry, there) && FileHolds(path, entry.uncompressedSize, entry.crc32)) {
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
    if (ledger && there.exists && ledger->IsRestored(there.identity)) return Fail(failure, EntryFailure::kDuplicateName);
    const Judgement judged = JudgeWhatStands(prepared.found, target, there, choices);
    if (judged.verdict == Verdict::kKeep || judged.verdict == Verdict::kIdentical) {
        if (ledger) {
            ledger->Keep(there.exists ? &there.identity : nullptr,
                         judged.verdict == Verdict::kIdentical ? EntryOutcome::kIdentical : EntryOutcome::kKept);
        }
        return true;
    }
    return ReplaceWithEntry(handle, prepared, ledger, stop, failure);
}
