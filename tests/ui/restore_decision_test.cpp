// The decision before a restore writes: what a plan finds at the entries'
// paths (older, newer and identical files, nothing, folders), the texts
// the question shows, and each answer restoring as the console's options
// of the same meaning do. Runs in the run-figures test program.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "restore/plan.h"
#include "restore/restore.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "ui/restore_decision.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
    const auto bytes = testsupport::ReadFileBytes(p);
    return std::string(bytes.begin(), bytes.end());
}

// An archive of a folder with four files, restored once so that every
// file holds its entry, then changed: one file older and different, one
// edited after the backup, one gone; one left as restored.
struct StoodDestination {
    testsupport::TempFolder box;
    fs::path archive, dest;

    StoodDestination() {
        testzip::ZipBuilder zip;
        zip.Add("Photos/", "");
        zip.Add("Photos/older.txt", "backup's older");
        zip.Add("Photos/newer.txt", "backup's newer");
        zip.Add("Photos/same.txt", "same bytes");
        zip.Add("Photos/gone.txt", "made again");
        archive = box / "backup.zip";
        testsupport::WriteFileBytes(archive, zip.Build());
        dest = box / "dest";
        fs::create_directory(dest);
        EXPECT_EQ(RestoreArchive(Folder(), archive.u16string()), RESTORE_OK);
        const fs::path photos = dest / "Photos";
        testsupport::WriteFileBytes(photos / "older.txt", testzip::ToBytes("edited long before"));
        fs::last_write_time(photos / "older.txt", fs::last_write_time(photos / "same.txt") - std::chrono::hours(24 * 400));
        testsupport::WriteFileBytes(photos / "newer.txt", testzip::ToBytes("edited yesterday"));
        fs::last_write_time(photos / "newer.txt", fs::file_time_type::clock::now());
        fs::remove(photos / "gone.txt");
    }
    std::u16string Folder() const {
        return dest.u16string() + std::u16string(1, static_cast<char16_t>(fs::path::preferred_separator));
    }
};

class OutcomeCounter : public RestoreObserver {
public:
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnEntryDone(std::int32_t, EntryOutcome outcome) override {
        if (outcome == EntryOutcome::kRestored) ++restored;
        if (outcome == EntryOutcome::kKept) ++kept;
        if (outcome == EntryOutcome::kIdentical) ++identical;
    }
    int restored = 0, kept = 0, identical = 0;
};

TEST(RestoreDecision, PlanCountsOlderNewerIdenticalAndNew) {
    StoodDestination d;
    std::vector<PlannedEntry> plan;
    ASSERT_EQ(PlanRestore(d.Folder(), d.archive.u16string(), PlanningChoices(nullptr), plan), RESTORE_OK);
    const StandingCounts c = CountWhatStands(plan);
    EXPECT_EQ(c.entries, 5);
    EXPECT_EQ(c.made, 1) << "the file that is gone is new";
    EXPECT_EQ(c.replaced, 2) << "the older and the newer file";
    EXPECT_EQ(c.newer, 1);
    EXPECT_EQ(c.newerNames, std::vector<std::u16string>{u"Photos/newer.txt"});
    EXPECT_EQ(c.identical, 1);
    EXPECT_EQ(c.folders, 1) << "the folder that stands is only filled";
    EXPECT_TRUE(AsksAboutWhatStands(c));

    // Into an empty folder nothing stands, and nothing is asked.
    testsupport::TempFolder empty;
    ASSERT_EQ(PlanRestore(empty.WithSeparator(), d.archive.u16string(), PlanningChoices(nullptr), plan), RESTORE_OK);
    const StandingCounts none = CountWhatStands(plan);
    EXPECT_EQ(none.made, 5);
    EXPECT_FALSE(AsksAboutWhatStands(none));

    // Only folders standing: nothing to decide either.
    fs::create_directory(empty / "Photos");
    ASSERT_EQ(PlanRestore(empty.WithSeparator(), d.archive.u16string(), PlanningChoices(nullptr), plan), RESTORE_OK);
    EXPECT_FALSE(AsksAboutWhatStands(CountWhatStands(plan)));
}

TEST(RestoreDecision, EachAnswerRestoresAsTheConsoleOptionOfItsMeaning) {
    struct Case {
        const char* fault;
        RestoreDecision decision;
        ExistingPolicy policy;  // the console's --existing
        const char* older;      // what Photos/older.txt holds afterwards
        const char* newer;
        int restored, kept, identical;
    };
    const Case cases[] = {
        {"replace: both changed files get the backup's", {ExistingAnswer::kReplace, true}, ExistingPolicy::kReplace,
         "backup's older", "backup's newer", 3, 1, 1},
        {"keep newer: the file edited after the backup stays", {ExistingAnswer::kKeepNewer, true},
         ExistingPolicy::kNewer, "backup's older", "edited yesterday", 2, 2, 1},
        {"keep all: nothing that stands is touched", {ExistingAnswer::kKeepAll, true}, ExistingPolicy::kKeep,
         "edited long before", "edited yesterday", 1, 3, 1},
        {"identical files rewritten when the box is cleared", {ExistingAnswer::kReplace, false},
         ExistingPolicy::kReplace, "backup's older", "backup's newer", 4, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StoodDestination d;
        const RestoreChoices choices = ChoicesFor(c.decision, nullptr);
        EXPECT_EQ(choices.existing, c.policy);
        EXPECT_EQ(choices.skipIdentical, c.decision.skipIdentical);
        OutcomeCounter outcomes;
        ASSERT_EQ(RestoreArchive(d.Folder(), d.archive.u16string(), &outcomes, nullptr, nullptr, choices), RESTORE_OK);
        EXPECT_EQ(Read(d.dest / "Photos/older.txt"), c.older);
        EXPECT_EQ(Read(d.dest / "Photos/newer.txt"), c.newer);
        EXPECT_EQ(Read(d.dest / "Photos/same.txt"), "same bytes");
        EXPECT_EQ(Read(d.dest / "Photos/gone.txt"), "made again");
        EXPECT_EQ(outcomes.restored, c.restored);
        EXPECT_EQ(outcomes.kept, c.kept);
        EXPECT_EQ(outcomes.identical, c.identical);
    }
}

TEST(RestoreDecision, TextsSayWhatStands) {
    struct Case {
        const char* fault;
        StandingCounts counts;
        std::u16string made, replaced, newer, identical;
        std::vector<std::u16string> newerPaths;
    };
    StandingCounts many;
    many.made = 1234567;
    many.replaced = 30;
    many.newer = 2;
    many.identical = 0;
    many.newerNames = {u"写真/a.jpg", u"b\nc.txt"};
    StandingCounts noNewer;
    noNewer.replaced = 5;
    noNewer.identical = 7;
    const Case cases[] = {
        {"grouped counts, paths as Windows writes them, no line break in a name", many,
         u"新しく復元する項目：1,234,567", u"置き換わるファイル：30", u"うちバックアップより新しいもの：2",
         u"内容が同じファイル：0", {u"写真\\a.jpg", u"b?c.txt"}},
        {"each count from its own field", noNewer, u"新しく復元する項目：0", u"置き換わるファイル：5",
         u"うちバックアップより新しいもの：0", u"内容が同じファイル：7", {}},
    };
    const NumberText numbers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const DecisionTexts t = DecisionTextsFor(c.counts, numbers);
        EXPECT_EQ(t.made, c.made);
        EXPECT_EQ(t.replaced, c.replaced);
        EXPECT_EQ(t.newer, c.newer);
        EXPECT_EQ(t.identical, c.identical);
        EXPECT_EQ(t.newerPaths, c.newerPaths);
    }
    EXPECT_EQ(OutcomeCountsText(12, 3, 4000, numbers), u"復元した項目：12　残した項目：3　内容が同じ項目：4,000");
}

}  // namespace
