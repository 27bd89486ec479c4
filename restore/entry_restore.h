#pragma once
// One entry restored on disk, in the steps the run takes: the entry is
// prepared (its name judged and searched, its folder levels made, a folder
// entry done whole), then its file is created at its target and filled, or,
// when something stands there, its data goes into a temporary file beside
// the target which then takes the target's place.
//
// Every step reports through a RestoreFailure and returns false on failure;
// what a failing step made is removed again, except the folder levels.
// `ledger`, when given, records what is made and knows the run's files by
// identity; RestoreEntry passes none.

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/fs.h"
#include "restore/entry_name.h"
#include "restore/restore.h"
#include "zip/archive.h"

class Ledger;
class RunMeter;

// An entry whose name has passed, its record and target.
struct PreparedEntry {
    std::int32_t index = -1;
    ArchiveEntry found;
    TargetPlan plan;
    // A folder entry: marked as a folder, or named as one (ending in the
    // separator) with no data. Many writers mark nothing (Java's and
    // Python's write a plain file's attributes), and a name ending in the
    // separator can't name a file; one that declares data stays a file
    // entry, which fails: its data has nowhere to go.
    bool IsFolder() const;
};

// The name checks and the name search, before the disk is touched.
// `expectedIndex` is the catalogue position the run took the name from (-1
// when the caller has none): the search finds the first entry of a name,
// so a later entry of the same name would silently get the earlier data.
bool PlanEntry(const std::u16string& entryName, const std::u16string& destinationFolder, ArchiveHandle* handle,
               std::int32_t expectedIndex, PreparedEntry& prepared, RestoreFailure* failure);

// Makes the folder levels on the way to the target, outermost first. A
// level that exists as a real folder is left alone; a file, a link or a
// junction where a level goes fails the entry (nothing is written through
// a link). `known` spares the disk the levels of the previous entry.
bool MakeFolderLevels(const PreparedEntry& prepared, KnownFolders* known, Ledger* ledger, RestoreFailure* failure);

// A file entry named "x/" or "." names a folder: no file can go there.
bool CanHoldFile(const PreparedEntry& prepared, RestoreFailure* failure);

// Whether a folder entry's steps would change something the run can't take
// back: a file (or a link) at its target is replaced or refused, a folder
// that is there has its attributes made normal. A folder with none to
// change, or nothing at all, is not (the folder the entry makes is the
// run's own).
bool FolderEntryChangesWhatStands(const PreparedEntry& prepared);

// The whole of a folder entry, at its planned target: made when missing,
// kept when a real folder stands there; a file of its name is replaced by
// the folder (unless this run restored that file) when the name names the
// folder itself ("x", marked as a folder). A name ending in the separator
// ("x/") names the folder as a level on its way, where a file is never
// replaced (kFolderFailed, from MakeFolderLevels).
// `outcome`, when given, says whether the folder was made (or replaced a
// file) or stood there already.
bool RestoreFolderEntry(const PreparedEntry& prepared, Ledger* ledger, RestoreFailure* failure,
                        EntryOutcome* outcome = nullptr);

// The folder a folder entry names: its target, or for a name ending in the
// separator the last level on the way ("x/" is the folder "x").
std::u16string FolderOf(const TargetPlan& plan);

// What the user's choices make of what stands at an entry's path.
enum class Verdict {
    kNothing,    // nothing stands there
    kReplace,    // replaced by the entry
    kKeep,       // left as it stands (the policy, or a newer file under kNewer)
    kIdentical,  // a plain file that holds the entry already (skipIdentical)
};
struct Judgement {
    Verdict verdict = Verdict::kNothing;
    bool newerThere = false;  // what stands there was written after the entry's time
};
// `there` is what stands at `path` (ReadPathIdentity). Reads the file's
// data only to tell an identical file, and only when its size and write
// time are the entry's; `stop` ends that reading between two buffers (the
// file is then not identical).
struct FillStop;
Judgement JudgeWhatStands(const ArchiveEntry& entry, const std::u16string& path, const platform::PathIdentity& there,
                          const RestoreChoices& choices, const FillStop* stop = nullptr);

// What an entry's reason is when a removal or move was refused.
EntryFailure ReasonOf(platform::Refusal refusal);

// Tells a long fill to give up between two buffers.
class FillFaults;
struct FillStop {
    const StopRequest* user = nullptr;                     // the user stopped the run
    const std::atomic<std::int32_t>* keepThrough = nullptr;  // entries after this one are not needed
    std::int32_t index = 0;                                  // the entry being filled
    const FillFaults* faults = nullptr;                    // a test's injected failures
    RunMeter* meter = nullptr;                              // told of the bytes handled
    bool Requested() const;
    // `bytes` more of the entry's data handled (written, or read to compare).
    void Count(std::uint64_t bytes) const;
};

// A file this run has just created, with its open handle. Removed again
// when the object goes, on every path, unless Keep() was called; removed
// as the file it is (by identity), so that whatever another program puts
// at its name meanwhile stays.
class NewFile {
public:
    NewFile() = default;
    NewFile(std::u16string path, platform::File file) : path_(std::move(path)), file_(std::move(file)) {}
    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&& other) noexcept;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { Discard(); }

    bool IsOpen() const { return file_.IsOpen(); }
    const std::u16string& path() const { return path_; }
    platform::File& file() { return file_; }
    // Reads the file's identity through its open handle, for the removal
    // and for the run's ledger. False when the system can't tell.
    bool TakeIdentity();
    const platform::FileIdentity& identity() const { return identity_; }
    // The file stays: it holds complete, checked data at its place.
    void Keep() { path_.clear(); }
    // The run is ending on the user's request: another program holding the
    // file is waited for only briefly (a closing console has seconds).
    void Hurry() { busyWaitMs_ = kStopCleanupWaitMs; }

    // What a removal after a stop waits, in all, for files held by others.
    static constexpr unsigned kStopCleanupWaitMs = 500;

private:
    void Discard() noexcept;
    std::u16string path_;
    platform::File file_;
    platform::FileIdentity identity_;
    bool identityKnown_ = false;
    unsigned busyWaitMs_ = platform::kBusyWaitMs;
};

// How creating a file at a path went.
enum class Creation { kCreated, kExists, kFailed };

// Creates `path` exclusively: nothing that stands there, a link included,
// is ever opened.
Creation CreateNewFile(const std::u16string& path, NewFile& created);

// What filling a file gave.
struct FillResult {
    bool ok = false;
    bool stopped = false;  // given up on request, not for the data's sake
    platform::FileIdentity identity;
    ArchiveResult extractResult = ARCHIVE_OK;
    ExtractFailure extractFailure = ExtractFailure::kNone;
};

// The times an entry's file carries on disk (0: left as the system sets it).
struct EntryTimes {
    platform::FileTime creation = 0;
    platform::FileTime access = 0;
    platform::FileTime write = 0;
};
EntryTimes TimesOf(const ArchiveEntry& entry);

// Writes file entry `index` into `file`, then sets the entry's times and
// normal attributes through the handle, reads the file's identity and
// closes it (on Windows, the close is where scanners look). On failure the
// file stays unkept, so its owner removes it. `writeBehind`: the data is
// written by a thread of the file's own while this one inflates (see
// WriteBehindSink); worth it for large entries on more than one core.
FillResult FillNewFile(ArchiveHandle* handle, std::int32_t index, const EntryTimes& times, NewFile& file,
                       const FillStop& stop, bool writeBehind = false);

// Copies a failed fill's reason into `failure`; false.
bool FailFill(RestoreFailure* failure, const FillResult& result);

// A file entry whose target was free: created there and filled on this
// thread. kExists when something stands at the target (nothing changed).
Creation RestoreNewFile(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger, const FillStop& stop,
                        RestoreFailure* failure);

// A file entry restored on this thread: RestoreNewFile, then
// ReplaceWithEntry when something stands at the target.
bool RestoreFileEntry(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger, const FillStop& stop,
                      RestoreFailure* failure, const RestoreChoices& choices = {});

// A file entry whose target is taken: a file of this run's is a duplicate;
// else the user's choices keep what stands there, or ReplaceWithEntry
// replaces it. `known`: what stands there, read already.
bool RestoreOverWhatStands(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger,
                           const FillStop& stop, const RestoreChoices& choices, RestoreFailure* failure,
                           const platform::PathIdentity* known = nullptr);

// Whether what stands at a path may hold `entry` already: a plain file of
// its size, written at its time. Only the data can then tell (FileHolds).
bool MayHoldEntry(const ArchiveEntry& entry, const platform::PathIdentity& there);
// Whether the file at `path`, which stood there as `before` a moment ago (a
// plain file), still is that file, ends at its size, holds bytes whose
// CRC-32 is `crc`, and is unchanged (identity, size, write time) once read:
// a file another program writes meanwhile is not identical. `stop`, when
// given, is looked at before every buffer; a stopped read is not identical.
bool FileHolds(const std::u16string& path, const platform::PathIdentity& before, std::uint32_t crc,
               const FillStop* stop = nullptr);

// Whether the choices may leave what stands at a path: then the run looks
// before it creates, rather than finding out from a refused creation.
bool JudgesWhatStands(const RestoreChoices& choices);

// Fails an entry whose file could not be created; false.
bool FailCreate(RestoreFailure* failure);

// A file entry over whatever stands at its target: refused for a folder and
// for a file this run restored; anything else (a file, a link dangling or
// not, a pipe) has its directory entry replaced, never opened. The data is
// complete and checked in a temporary file in the target's own folder (so
// the file gets what that folder gives its files) before it takes the
// target's place. On failure the target is as it was.
bool ReplaceWithEntry(ArchiveHandle* handle, const PreparedEntry& prepared, Ledger* ledger, const FillStop& stop,
                      RestoreFailure* failure);
