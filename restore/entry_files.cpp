// An entry's file on disk: created where it lives, filled, completed, and
// where something stood at the target, made beside it and moved into place.

#include <chrono>
#include <random>
#include <utility>

#include "platform/fs.h"
#include "restore/entry_restore.h"
#include "restore/restore_internal.h"
#include "restore/run_ledger.h"
#include "restore/run_meter.h"
#include "restore/write_behind.h"

namespace {

bool Fail(RestoreFailure* failure, EntryFailure reason) {
    if (failure) failure->reason = reason;
    return false;
}

// A temporary file's name: a tilde and seven random letters or digits,
// never shorter, so that the name space stays large in any folder.
constexpr std::size_t kTempNameUnits = 8;
constexpr int kTempNameAttempts = 32;

// A random name for a file that lives only while one entry's data is
// checked beside its target. The file is created exclusively, so a clash
// with anything there only means another draw. Only the run thread makes
// these, one at a time and gone before the next entry, so no entry can
// meet one.
std::u16string RandomName() {
    static constexpr char16_t kAlphabet[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return (static_cast<std::uint64_t>(device()) << 32) ^ now;
    }());
    std::u16string name(1, u'~');
    for (std::size_t i = 1; i < kTempNameUnits; ++i) name.push_back(kAlphabet[generator() % 36]);
    return name;
}

// The entry's data on its way into a file, given up between two buffers
// when asked.
class FileSink : public EntrySink {
public:
    FileSink(platform::File& file, const FillStop& stop) : file_(file), stop_(stop) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (stop_.Requested()) {
            stopped = true;
            return false;
        }
        if (stop_.faults && stop_.faults->WorkerWriteFails(stop_.index)) return false;
        if (!file_.Write(data, size)) return false;
        stop_.Count(size);
        return true;
    }
    ExtractFailure WriteFailure() const override {
        return file_.OutOfRoom() ? ExtractFailure::kDiskFull : ExtractFailure::kWriteFailed;
    }
    bool stopped = false;

private:
    platform::File& file_;
    const FillStop& stop_;
};

// Makes a guarded file (read-only, hidden, system: Windows refuses to
// replace those) normal so that a move can replace it. The attributes it
// had, or kInvalidAttributes when nothing was changed.
std::uint32_t Unguard(const std::u16string& target) {
    const std::uint32_t existing = platform::ReadAttributes(target);
    constexpr std::uint32_t kGuarded =
        platform::kAttributeReadOnly | platform::kAttributeHidden | platform::kAttributeSystem;
    if (existing == platform::kInvalidAttributes || (existing & platform::kAttributeDirectory) != 0 ||
        (existing & kGuarded) == 0)
        return platform::kInvalidAttributes;
    return platform::WriteAttributes(target, platform::kAttributeNormal) ? existing : platform::kInvalidAttributes;
}

}  // namespace

bool FillStop::Requested() const {
    return (user && user->Requested()) || (keepThrough && index > keepThrough->load(std::memory_order_relaxed));
}

void FillStop::Count(std::uint64_t bytes) const {
    if (meter) meter->Count(bytes);
}

NewFile::NewFile(NewFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), file_(std::move(other.file_)), identity_(std::move(other.identity_)),
      identityKnown_(std::exchange(other.identityKnown_, false)), busyWaitMs_(other.busyWaitMs_) {}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
    if (this != &other) {
        Discard();
        path_ = std::exchange(other.path_, {});
        file_ = std::move(other.file_);
        identity_ = std::move(other.identity_);
        identityKnown_ = std::exchange(other.identityKnown_, false);
        busyWaitMs_ = other.busyWaitMs_;
    }
    return *this;
}

bool NewFile::TakeIdentity() {
    if (!identityKnown_ && file_.IsOpen()) identityKnown_ = file_.GetIdentity(identity_);
    return identityKnown_;
}

void NewFile::Discard() noexcept {
    if (!path_.empty()) TakeIdentity();
    file_.Close();
    if (!path_.empty()) {
        if (identityKnown_) {
            platform::RemoveIfMade(path_, identity_, false, busyWaitMs_);
        } else {
            // Only where the system could not say which file the handle
            // was: the file made a moment ago is removed by its name rather
            // than left cut short there.
            platform::WriteAttributes(path_, platform::kAttributeNormal);
            platform::RemoveFile(path_);
        }
    }
    path_.clear();
}

Creation CreateNewFile(const std::u16string& path, NewFile& created) {
    bool existed = false;
    platform::File file = platform::File::CreateNew(path, &existed);
    if (!file.IsOpen()) return existed ? Creation::kExists : Creation::kFailed;
    created = NewFile(path, std::move(file));
    return Creation::kCreated;
}

EntryTimes TimesOf(const ArchiveEntry& entry) { return {entry.creationTime, entry.accessTime, entry.writeTime}; }

FillResult FillNewFile(ArchiveHandle* handle, std::int32_t index, const EntryTimes& times, NewFile& file,
                       const FillStop& stop, bool writeBehind) {
    FillResult result;
    if (writeBehind) {
        WriteBehindSink sink(file.file(), stop);
        sink.Start();
        result.extractResult = ExtractEntryToSink(handle, index, sink, &result.extractFailure);
        // The last pieces are written after the extraction has vouched for
        // them: the file is whole only once they are.
        const bool written = sink.FinishWrites();
        result.stopped = sink.stopped;
        if (result.extractResult == ARCHIVE_OK && !written) {
            result.extractResult = ARCHIVE_WRITE_FAILED;
            result.extractFailure = sink.WriteFailure();
        }
    } else {
        FileSink sink(file.file(), stop);
        result.extractResult = ExtractEntryToSink(handle, index, sink, &result.extractFailure);
        result.stopped = sink.stopped;
    }
    if (result.extractResult == ARCHIVE_OK) file.file().SetTimesAndNormal(times.creation, times.access, times.write);
    // Read through the handle before it closes, for the removal of a failed
    // file as for the ledger: a file whose identity the system can't tell
    // could not be told from another one later, and fails.
    if (file.TakeIdentity()) {
        result.identity = file.identity();
    } else if (result.extractResult == ARCHIVE_OK) {
        result.extractResult = ARCHIVE_WRITE_FAILED;
        result.extractFailure = ExtractFailure::kWriteFailed;
    }
    if (result.stopped) file.Hurry();
    // A close that reports an error may have lost written data.
    if (!file.file().Close() && result.extractResult == ARCHIVE_OK) {
        result.extractResult = ARCHIVE_WRITE_FAILED;
        result.extractFailure = ExtractFailure::kWriteFailed;
    }
    result.ok = result.extractResult == ARCHIVE_OK;
    return result;
}

bool FailFill(RestoreFailure* failure, const FillResult& result) {
    if (failure) {
        failure->extractResult = result.extractResult;
        failure->extractFailure = result.extractFailure;
    }
    return Fail(failure, result.stopped ? EntryFailure::kInterrupted : EntryFailure::kExtractFailed);
}

bool FailCreate(RestoreFailure* failure) {
    if (failure) {
        failure->extractResult = ARCHIVE_NO_FILE;
        failure->extractFailure = ExtractFailure::kCreateFailed;
    }
    return Fail(failure, EntryFailure::kExtractFailed);
}

Creation RestoreNewFile(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger, const FillStop& stop,
                        RestoreFailure* failure) {
    NewFile file;
    const Creation created = CreateNewFile(prepared.plan.target, file);
    if (created == Creation::kExists) return created;
    if (created == Creation::kFailed) {
        FailCreate(failure);
        return created;
    }
    if (ledger) ledger->MadeFile(prepared.plan.target);
    const FillResult filled = FillNewFile(handle, prepared.index, TimesOf(prepared.found), file, stop);
    if (!filled.ok) {
        FailFill(failure, filled);
        return Creation::kFailed;
    }
    file.Keep();
    if (ledger) ledger->Complete(&filled.identity);
    return Creation::kCreated;
}

bool ReplaceWithEntry(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger, const FillStop& stop,
                      RestoreFailure* failure) {
    const std::u16string& target = prepared.plan.target;
    const platform::PathIdentity there = platform::ReadPathIdentity(target);
    if (ledger && there.exists && ledger->Claims(target, there.identity))
        return Fail(failure, EntryFailure::kDuplicateName);
    if (there.folder) return Fail(failure, EntryFailure::kTargetInTheWay);

    const std::u16string folder = prepared.plan.Folder();
    if (!platform::PathFits(folder + std::u16string(kTempNameUnits, u'~')))
        return Fail(failure, EntryFailure::kPathTooLong);
    NewFile temporary;
    Creation created = Creation::kExists;
    for (int attempt = 0; attempt < kTempNameAttempts && created == Creation::kExists; ++attempt)
        created = CreateNewFile(folder + RandomName(), temporary);
    // 32 names taken in a row, or the create refused: the file can't be made.
    if (created != Creation::kCreated) return FailCreate(failure);

    const FillResult filled = FillNewFile(handle, prepared.index, TimesOf(prepared.found), temporary, stop);
    if (!filled.ok) return FailFill(failure, filled);
    platform::Refusal why = platform::Refusal::kNone;
    if (!platform::MoveReplacing(temporary.path(), target, &why)) {
        // A guarded file (read-only, hidden, system) refuses to be replaced
        // as a refusal of access does; one held by another program was
        // waited for already.
        const std::uint32_t guarded = why == platform::Refusal::kInUse ? platform::kInvalidAttributes : Unguard(target);
        if (guarded == platform::kInvalidAttributes || !platform::MoveReplacing(temporary.path(), target, &why)) {
            // The old file stays as it was, attributes included.
            if (guarded != platform::kInvalidAttributes) platform::WriteAttributes(target, guarded);
            return Fail(failure, ReasonOf(why));
        }
    }
    temporary.Keep();
    // The new file's times win over the old one's, and its identity is the
    // one it has at its place.
    const EntryTimes times = TimesOf(prepared.found);
    platform::FileIdentity placed;
    const bool known = platform::CompleteMovedFile(target, times.creation, times.access, times.write, placed);
    if (ledger) ledger->Complete(known ? &placed : &filled.identity);
    return true;
}

bool RestoreFileEntry(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger, const FillStop& stop,
                      RestoreFailure* failure, const RestoreChoices& choices) {
    if (JudgesWhatStands(choices)) {
        const platform::PathIdentity there = platform::ReadPathIdentity(prepared.plan.target);
        if (there.exists) return RestoreOverWhatStands(handle, prepared, ledger, stop, choices, failure, &there);
    }
    switch (RestoreNewFile(handle, prepared, ledger, stop, failure)) {
    case Creation::kCreated:
        return true;
    case Creation::kFailed:
        return false;
    case Creation::kExists:
        break;
    }
    return RestoreOverWhatStands(handle, prepared, ledger, stop, choices, failure);
}
