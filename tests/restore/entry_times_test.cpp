// The times a restore leaves: each from the finest field the entry holds
// (NTFS to 100 ns, UT to the second, the DOS fields to two seconds and in
// the local wall clock), on files and on folders alike, a folder's set once
// everything below it is written; and what `newer` and `--skip-identical`
// judge by them. Serial and with workers.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"
#include "tests/support/time_zone.h"

namespace {

using restoretest::Sandbox;
using testzip::ExtraField;
using testzip::NtfsBlock;
using testzip::UtBlock;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

constexpr platform::FileTime kSecond = 10000000;

platform::FileTime Utc(int y, int mo, int d, int h, int mi, int s) {
    platform::CalendarTime c{y, mo, d, h, mi, s, 0};
    platform::FileTime t = 0;
    EXPECT_TRUE(platform::CalendarToFileTime(c, t));
    return t;
}

platform::FileTime FromUnix(std::int64_t seconds) {
    return static_cast<platform::FileTime>(seconds + platform::kFileTimeUnixEpochSeconds) * kSecond;
}

// A DOS stamp's instant in this process's zone, through the C runtime
// (mktime), not the reader's conversion.
platform::FileTime LocalClock(int y, int mo, int d, int h, int mi, int s) {
    std::int64_t seconds = 0;
    EXPECT_TRUE(platform::LocalCalendarToSeconds(platform::CalendarTime{y, mo, d, h, mi, s, 0}, seconds));
    return FromUnix(seconds);
}

class Outcomes : public RestoreObserver {
public:
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnEntryDone(std::int32_t index, EntryOutcome outcome) override { done[index] = outcome; }
    std::map<std::int32_t, EntryOutcome> done;
};

int Restore(const Sandbox& box, int producers, const RestoreChoices& choices = {}, Outcomes* outcomes = nullptr) {
    RunOptions options;
    options.producers = producers;
    options.choices = choices;
    RestoreFailure failure;
    return RestoreArchiveWithOptions(box.Dest(), box.Archive(), outcomes, &failure, options);
}

// A file as another program left it, last written at `time`.
void PutWithTime(const Sandbox& box, const std::string& name, const std::string& data, platform::FileTime time) {
    box.Put(name, data);
    platform::File file = platform::File::CreateAlways(box.DestU16(name), platform::kAttributeNormal);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Write(data.data(), data.size()));
    ASSERT_TRUE(file.SetTimes(0, 0, time));
}

// ---------------------------------------------------------------------------
// DOS times are the wall clock of the zone they were written in.

struct ZoneCase {
    const char* fault;
    const char* zone;
    int y, mo, d, h, mi;        // the entry's DOS date and time
    platform::FileTime utc;     // the instant that is
    platform::FileTime edited;  // when the user last wrote the file that stands there
    EntryOutcome newer;         // what --existing=newer makes of it
};

TEST(DosTimes, AreTheWallClockOfTheirZone) {
    using O = EntryOutcome;
    const ZoneCase cases[] = {
        // The backup at 10:00, the user's edit at 15:00 the same day.
        {"Tokyo: DOS read as UTC, the newer edit replaced", "Asia/Tokyo", 2024, 5, 10, 10, 0,
         Utc(2024, 5, 10, 1, 0, 0), Utc(2024, 5, 10, 6, 0, 0), O::kKept},
        {"Tokyo: an older file kept", "Asia/Tokyo", 2024, 5, 10, 15, 0, Utc(2024, 5, 10, 6, 0, 0),
         Utc(2024, 5, 10, 1, 0, 0), O::kRestored},
        {"UTC: DOS shifted by some zone", "UTC", 2024, 5, 10, 10, 0, Utc(2024, 5, 10, 10, 0, 0),
         Utc(2024, 5, 10, 15, 0, 0), O::kKept},
        {"New York in winter (EST): offset wrong", "America/New_York", 2024, 1, 15, 10, 0,
         Utc(2024, 1, 15, 15, 0, 0), Utc(2024, 1, 15, 20, 0, 0), O::kKept},
        {"New York in summer (EDT): daylight saving not applied", "America/New_York", 2024, 7, 1, 10, 0,
         Utc(2024, 7, 1, 14, 0, 0), Utc(2024, 7, 1, 19, 0, 0), O::kKept},
        // The backup at 15:00, an older copy edited at 12:00: read as UTC,
        // the backup looked older and its newer data was not restored.
        {"New York: newer backup data not restored", "America/New_York", 2024, 7, 1, 15, 0,
         Utc(2024, 7, 1, 19, 0, 0), Utc(2024, 7, 1, 16, 0, 0), O::kRestored},
    };
    int ran = 0;
    for (const auto& c : cases) {
        if (!testsupport::UseTimeZone(c.zone)) continue;
        ++ran;
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            ZipBuilder zip;
            auto& e = zip.Add("f.txt", "from the backup");
            e.dosDate = testzip::DosDate(c.y, c.mo, c.d);
            e.dosTime = testzip::DosTime(c.h, c.mi, 0);
            {
                Sandbox box;
                box.WriteArchive(zip);
                ASSERT_EQ(Restore(box, producers), RESTORE_OK);
                EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("f.txt")).writeTime, c.utc);
            }
            Sandbox box;
            box.WriteArchive(zip);
            PutWithTime(box, "f.txt", "the user's copy", c.edited);
            Outcomes outcomes;
            ASSERT_EQ(Restore(box, producers, RestoreChoices{nullptr, ExistingPolicy::kNewer, false}, &outcomes),
                      RESTORE_OK);
            EXPECT_EQ(outcomes.done.at(0), c.newer);
            EXPECT_EQ(box.Read("f.txt"), c.newer == O::kKept ? "the user's copy" : "from the backup");
        }
    }
    testsupport::RestoreTimeZone();
    // Windows takes its zone from the system when the process starts; CTest
    // runs this test once per zone there.
    if (ran == 0) GTEST_SKIP() << "no row's zone is this process's (TZ unset or another zone)";
}

// ---------------------------------------------------------------------------
// Files and folders get the finest time their entries hold.

// Times as a restored file or folder carries them (0: not looked at).
struct Times {
    platform::FileTime write = 0;
    platform::FileTime access = 0;
};

// Which fields an archive's entries carry.
enum class Fields { kDos, kUtWrite, kUtBoth, kNtfs, kNtfsAndUt, kNtfsWriteOnly, kNtfsShort, kNtfsOverrun };

struct FieldCase {
    const char* fault;
    Fields fields;
    bool folderAfterContents;  // "d/" comes after "d/f.txt"
    Times file, folder;
};

// The times the archive records, by field.
const platform::FileTime kFileNtfsWrite = Utc(2021, 3, 4, 5, 6, 7) + 1234567;
const platform::FileTime kFileNtfsAccess = Utc(2021, 3, 5, 0, 0, 0) + 7654321;
const platform::FileTime kFolderNtfsWrite = Utc(2020, 1, 2, 3, 4, 5) + 5000000;
const platform::FileTime kFolderNtfsAccess = Utc(2020, 1, 3, 0, 0, 0) + 1;
constexpr std::int32_t kFileUtWrite = 1614834367;    // 2021-03-04 05:06:07 UTC
constexpr std::int32_t kFileUtAccess = 1614902400;   // 2021-03-05 00:00:00 UTC
constexpr std::int32_t kFolderUtWrite = 1577934245;  // 2020-01-02 03:04:05 UTC
constexpr std::int32_t kFolderUtAccess = 1578009600; // 2020-01-03 00:00:00 UTC

void GiveFields(testzip::Entry& e, Fields fields, bool folder) {
    const platform::FileTime ntfsWrite = folder ? kFolderNtfsWrite : kFileNtfsWrite;
    const platform::FileTime ntfsAccess = folder ? kFolderNtfsAccess : kFileNtfsAccess;
    const std::int32_t utWrite = folder ? kFolderUtWrite : kFileUtWrite;
    const std::int32_t utAccess = folder ? kFolderUtAccess : kFileUtAccess;
    const testzip::ExtraBlock ntfs = NtfsBlock(ntfsWrite, ntfsAccess, ntfsWrite - 3600 * kSecond);
    switch (fields) {
    case Fields::kDos: break;
    case Fields::kUtWrite: e.localExtra = ExtraField({UtBlock(1, utWrite)}); break;
    case Fields::kUtBoth: e.localExtra = ExtraField({UtBlock(3, utWrite, utAccess)}); break;
    case Fields::kNtfs: e.centralExtra = ExtraField({ntfs}); break;
    case Fields::kNtfsAndUt:
        // Info-ZIP's central UT block holds the write time only.
        e.localExtra = ExtraField({UtBlock(3, utWrite, utAccess)});
        e.centralExtra = ExtraField({UtBlock(1, utWrite), ntfs});
        break;
    case Fields::kNtfsWriteOnly:
        // As 7z writes it: access and creation 0.
        e.localExtra = ExtraField({UtBlock(3, utWrite, utAccess)});
        e.centralExtra = ExtraField({NtfsBlock(ntfsWrite, 0, 0)});
        break;
    case Fields::kNtfsShort: {
        // Attribute 1 of 16 bytes: malformed, ignored.
        testzip::ExtraBlock bad = ntfs;
        bad.data[6] = 16;
        bad.data.resize(4 + 4 + 16);
        e.localExtra = ExtraField({UtBlock(1, utWrite)});
        e.centralExtra = ExtraField({bad});
        break;
    }
    case Fields::kNtfsOverrun: {
        // A second attribute that claims more than the field holds.
        testzip::ExtraBlock bad = ntfs;
        bad.data.insert(bad.data.end(), {0x02, 0x00, 0x40, 0x00, 0x00});
        e.centralExtra = ExtraField({bad});
        break;
    }
    }
}

ZipBuilder FieldArchive(Fields fields, bool folderAfterContents) {
    ZipBuilder zip;
    auto addFolder = [&] {
        auto& d = zip.AddFolder("d/");
        d.dosDate = testzip::DosDate(2020, 1, 2);
        d.dosTime = testzip::DosTime(3, 4, 6);
        GiveFields(d, fields, true);
    };
    if (!folderAfterContents) addFolder();
    auto& f = zip.Add("d/f.txt", std::string(200000, 'f'), 8);
    f.dosDate = testzip::DosDate(2021, 3, 4);
    f.dosTime = testzip::DosTime(5, 6, 8);
    GiveFields(f, fields, false);
    // A file restored into the folder after both, so the folder's time can
    // only be right if it is set at the end.
    zip.Add("d/z.txt", "last");
    if (folderAfterContents) addFolder();
    return zip;
}

TEST(EntryTimes, FilesAndFoldersCarryTheFinestFieldTheyHold) {
    const platform::FileTime fileDos = LocalClock(2021, 3, 4, 5, 6, 8);
    const platform::FileTime folderDos = LocalClock(2020, 1, 2, 3, 4, 6);
    const platform::FileTime fileUt = FromUnix(kFileUtWrite), fileUtAccess = FromUnix(kFileUtAccess);
    const platform::FileTime folderUt = FromUnix(kFolderUtWrite), folderUtAccess = FromUnix(kFolderUtAccess);
    const FieldCase cases[] = {
        {"DOS only: times not the local clock", Fields::kDos, false, {fileDos, fileDos}, {folderDos, folderDos}},
        {"UT write time lost", Fields::kUtWrite, false, {fileUt, fileDos}, {folderUt, folderDos}},
        {"UT access time lost", Fields::kUtBoth, false, {fileUt, fileUtAccess}, {folderUt, folderUtAccess}},
        {"NTFS field not read: times rounded to seconds", Fields::kNtfs, false, {kFileNtfsWrite, kFileNtfsAccess},
         {kFolderNtfsWrite, kFolderNtfsAccess}},
        {"the coarser UT field wins over NTFS", Fields::kNtfsAndUt, false, {kFileNtfsWrite, kFileNtfsAccess},
         {kFolderNtfsWrite, kFolderNtfsAccess}},
        {"an NTFS zero taken for a time", Fields::kNtfsWriteOnly, false, {kFileNtfsWrite, fileUtAccess},
         {kFolderNtfsWrite, folderUtAccess}},
        {"a short NTFS attribute believed", Fields::kNtfsShort, false, {fileUt, fileDos}, {folderUt, folderDos}},
        {"an NTFS field that overruns believed", Fields::kNtfsOverrun, false, {fileDos, fileDos},
         {folderDos, folderDos}},
        {"a folder entry after its contents loses its time", Fields::kNtfs, true, {kFileNtfsWrite, kFileNtfsAccess},
         {kFolderNtfsWrite, kFolderNtfsAccess}},
        {"a folder entry after its contents, DOS only", Fields::kDos, true, {fileDos, fileDos},
         {folderDos, folderDos}},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            box.WriteArchive(FieldArchive(c.fields, c.folderAfterContents));
            ASSERT_EQ(Restore(box, producers), RESTORE_OK);
            const platform::PathIdentity file = platform::ReadPathIdentity(box.DestU16("d/f.txt"));
            const platform::PathIdentity folder = platform::ReadPathIdentity(box.DestU16("d"));
            EXPECT_EQ(file.writeTime, c.file.write);
            EXPECT_EQ(file.accessTime, c.file.access);
            EXPECT_EQ(folder.writeTime, c.folder.write) << "folder";
            EXPECT_EQ(folder.accessTime, c.folder.access) << "folder";
        }
    }
}

TEST(EntryTimes, AMemberRestoreGivesTheFoldersItMakesTheirEntriesTimes) {
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(restoretest::RunTrace("member restore", producers));
        Sandbox box;
        // "e" stood there before the run: its entry is not chosen, so its
        // time is not the entry's.
        fs::create_directories(box.DestPath("e"));
        ZipBuilder zip = FieldArchive(Fields::kNtfs, false);  // d/, d/f.txt, d/z.txt
        auto& e = zip.AddFolder("e/");
        e.centralExtra = ExtraField({NtfsBlock(kFolderNtfsWrite, kFolderNtfsAccess, 0)});
        zip.Add("e/g.txt", "g");
        box.WriteArchive(zip);
        const std::vector<bool> chosen = {false, true, false, false, true};  // d/f.txt, e/g.txt
        ASSERT_EQ(Restore(box, producers, RestoreChoices{&chosen, ExistingPolicy::kReplace, false}), RESTORE_OK);
        EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("d/f.txt")).writeTime, kFileNtfsWrite);
        EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("d")).writeTime, kFolderNtfsWrite)
            << "a folder the member restore made lost its entry's time";
        EXPECT_FALSE(fs::exists(box.DestPath("d/z.txt")));
        EXPECT_NE(platform::ReadPathIdentity(box.DestU16("e")).writeTime, kFolderNtfsWrite)
            << "a folder that stood there took the time of an entry not chosen";
    }
}

TEST(EntryTimes, AFolderThatStoodThereTakesItsEntrysTimesOnlyWhenReplaced) {
    const platform::FileTime before = Utc(2010, 6, 1, 0, 0, 0);
    struct Case {
        const char* fault;
        ExistingPolicy policy;
        platform::FileTime expected;
    };
    const Case cases[] = {
        {"replace leaving a folder that stood there with its old time", ExistingPolicy::kReplace, kFolderNtfsWrite},
        {"keep changing the time of a folder it keeps", ExistingPolicy::kKeep, before},
        {"newer changing the time of a folder it keeps", ExistingPolicy::kNewer, before},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            fs::create_directories(box.DestPath("d"));
            ASSERT_TRUE(platform::SetFolderTimes(box.DestU16("d"), 0, before, before));
            ZipBuilder zip;
            zip.AddFolder("d/").centralExtra = ExtraField({NtfsBlock(kFolderNtfsWrite, kFolderNtfsAccess, 0)});
            zip.Add("other.txt", "x");
            box.WriteArchive(zip);
            ASSERT_EQ(Restore(box, producers, RestoreChoices{nullptr, c.policy, false}), RESTORE_OK);
            EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("d")).writeTime, c.expected);
        }
    }
}

// ---------------------------------------------------------------------------
// An archive as 7z writes it, against what `7z x` leaves
// (tests/data/restore/README.md).

TEST(EntryTimes, A7zArchiveRestoresAs7zExtractsIt) {
    const fs::path archive = fs::path(SORVANE_SOURCE_DIR) / "tests" / "data" / "restore" / "7z-ntfs-times.zip";
    const platform::FileTime fileBy7z = Utc(2021, 3, 4, 5, 6, 7) + 1234567;  // 05:06:07.1234567
    const platform::FileTime folderBy7z = Utc(2020, 1, 2, 3, 4, 5) + 5000000;  // 03:04:05.5
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(restoretest::RunTrace("7z archive", producers));
        Sandbox box;
        box.WriteArchive(testsupport::ReadFileBytes(archive));
        ASSERT_EQ(Restore(box, producers), RESTORE_OK);
        EXPECT_EQ(box.Read("d/f.txt"), "seven\n");
        EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("d/f.txt")).writeTime, fileBy7z);
        EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("d")).writeTime, folderBy7z);
        // Restored again, the file holds its entry to the 100 ns.
        Outcomes outcomes;
        ASSERT_EQ(Restore(box, producers, RestoreChoices{nullptr, ExistingPolicy::kReplace, true}, &outcomes),
                  RESTORE_OK);
        EXPECT_EQ(outcomes.done.at(1), EntryOutcome::kIdentical);
        EXPECT_EQ(platform::ReadPathIdentity(box.DestU16("d")).writeTime, folderBy7z);
    }
}

}  // namespace
