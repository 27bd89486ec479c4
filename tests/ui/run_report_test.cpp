// The next step after a run that did not restore everything: which one is
// offered, the run it starts, and what its report says and saves; the
// report's observer heard through real runs of damaged archives.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "restore/restore.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "ui/run_report.h"

namespace {

RestoreFailure Failed(std::int32_t index, std::u16string name, EntryFailure reason,
                      ExtractFailure extract = ExtractFailure::kNone) {
    RestoreFailure f;
    f.entryIndex = index;
    f.entryName = std::move(name);
    f.reason = reason;
    f.extractFailure = extract;
    return f;
}

TEST(FollowUp, OfferFollowsHowTheRunEnded) {
    struct Case {
        const char* fault;
        int code;
        EntryFailure reason;
        FollowUp offered;
        const char16_t* label;
    };
    const Case cases[] = {
        {"offered after a success", RESTORE_OK, EntryFailure::kNone, FollowUp::kNone, u""},
        {"offered when the archive would not open", RESTORE_OPEN_FAILED, EntryFailure::kNone, FollowUp::kNone, u""},
        {"offered when the count can't be read", RESTORE_COUNT_FAILED, EntryFailure::kNone, FollowUp::kNone, u""},
        {"offered with no archive or no destination", RESTORE_NO_ARCHIVE, EntryFailure::kNone, FollowUp::kNone, u""},
        {"an unknown code taken for an entry's failure", 1, EntryFailure::kExtractFailed, FollowUp::kNone, u""},
        {"damaged data offers no rest", RESTORE_ENTRY_FAILED, EntryFailure::kExtractFailed, FollowUp::kRestoreRest,
         u"残りを復元"},
        {"a refused name offers no rest", RESTORE_ENTRY_FAILED, EntryFailure::kUnsafeName, FollowUp::kRestoreRest,
         u"残りを復元"},
        {"a file in use offers no rest", RESTORE_ENTRY_FAILED, EntryFailure::kFileInUse, FollowUp::kRestoreRest,
         u"残りを復元"},
        {"a stop taken for a failure", RESTORE_ENTRY_FAILED, EntryFailure::kInterrupted, FollowUp::kContinue,
         u"続きから復元"},
        {"a stop's reason with another code taken for a stop", RESTORE_NO_ARCHIVE, EntryFailure::kInterrupted,
         FollowUp::kNone, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const FollowUp offered = FollowUpAfter(c.code, Failed(3, u"a.txt", c.reason));
        EXPECT_EQ(offered, c.offered);
        EXPECT_EQ(FollowUpLabel(offered), c.label);
    }
}

TEST(FollowUp, ChoicesAreTheFirstRunsGoingOnAndLeavingWhatIsRestored) {
    const std::vector<bool> someEntries = {true, false, true};
    struct Case {
        const char* fault;
        RestoreChoices first;
    };
    RestoreChoices keep;
    keep.existing = ExistingPolicy::kKeep;
    keep.entries = &someEntries;
    RestoreChoices newer;
    newer.existing = ExistingPolicy::kNewer;
    newer.skipIdentical = true;
    RestoreChoices again;  // a follow-up of a follow-up
    again.keepGoing = again.skipIdentical = true;
    const Case cases[] = {
        {"the dialog's plain run", RestoreChoices{}},
        {"chosen entries or the keep policy lost", keep},
        {"the newer policy lost", newer},
        {"a second follow-up changing anything", again},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const RestoreChoices next = FollowUpChoices(c.first);
        EXPECT_TRUE(next.keepGoing);
        EXPECT_TRUE(next.skipIdentical);
        EXPECT_EQ(next.existing, c.first.existing);
        EXPECT_EQ(next.entries, c.first.entries);
    }
}

TEST(RunReport, SummaryHeadingAndOneLinePerEntryNotRestored) {
    struct Case {
        const char* fault;
        RunReport report;
        std::u16string summary;
        std::u16string heading;
        std::vector<std::u16string> lines;
    };
    const RestoreFailure crc =
        Failed(1, u"Photos/a.txt", EntryFailure::kExtractFailed, ExtractFailure::kCrcMismatch);
    const Case cases[] = {
        {"a full restore reported as partial", {12, 12, {}, false}, u"12 項目をすべて復元しました。", u"", {}},
        {"entries not restored left out, or their names as stored",
         {1234, 1231,
          {crc, Failed(7, u"", EntryFailure::kFetchFailed),
           Failed(9, u"dir/改行\nname", EntryFailure::kUnsafeName)},
          false},
         u"1,234 項目中 1,231 項目を復元しました。",
         u"復元できなかった 3 項目：",
         {u"Photos\\a.txt：CRC-32 が一致しません（データが壊れています）",
          u"（8 番目の項目）：目録から項目を読み取れませんでした（壊れています）",
          u"dir\\改行?name：名前が安全ではありません（復元先フォルダの外を指します）"}},
        {"a stop's unreached entries not counted as missing",
         {40, 10, {crc}, true},
         u"中止しました。40 項目中 10 項目を復元しました。",
         u"復元できなかった 30 項目：",
         {u"Photos\\a.txt：CRC-32 が一致しません（データが壊れています）",
          u"（ほかの 29 項目は、中止したため復元していません）"}},
        {"a stop after the last entry listing entries not missing",
         {5, 5, {}, true},
         u"中止しました。5 項目中 5 項目を復元しました。",
         u"",
         {}},
    };
    const NumberText numbers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(ReportSummary(c.report, numbers), c.summary);
        EXPECT_EQ(ReportHeading(c.report, numbers), c.heading);
        EXPECT_EQ(ReportLines(c.report, numbers), c.lines);
    }
}

TEST(RunReport, SavedFileIsUtf8WithAMarkAndCrlfLineEnds) {
    struct Case {
        const char* fault;
        RunReport report;
        std::string bytes;
    };
    const Case cases[] = {
        {"no mark, bare LF, or a surrogate pair split",
         {2, 1, {Failed(0, u"Photos/\U0001F600.txt", EntryFailure::kExtractFailed, ExtractFailure::kCrcMismatch)}, false},
         "\xEF\xBB\xBF"
         "バックアップファイル：C:\\b\\x.zip\r\n"
         "復元先フォルダ：D:\\r\\\r\n"
         "2 項目中 1 項目を復元しました。\r\n"
         "復元できなかった 1 項目：\r\n"
         "Photos\\\xF0\x9F\x98\x80.txt：CRC-32 が一致しません（データが壊れています）\r\n"},
        {"a lone surrogate written as no UTF-8 reads it",
         {1, 0, {Failed(0, std::u16string(u"x") + char16_t(0xD800), EntryFailure::kEmptyName)}, false},
         "\xEF\xBB\xBF"
         "バックアップファイル：C:\\b\\x.zip\r\n"
         "復元先フォルダ：D:\\r\\\r\n"
         "1 項目中 0 項目を復元しました。\r\n"
         "復元できなかった 1 項目：\r\n"
         "x\xEF\xBF\xBD：名前のない項目です\r\n"},
        {"a full restore's file with an empty heading line",
         {3, 3, {}, false},
         "\xEF\xBB\xBF"
         "バックアップファイル：C:\\b\\x.zip\r\n"
         "復元先フォルダ：D:\\r\\\r\n"
         "3 項目をすべて復元しました。\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(ReportFileBytes(c.report, u"C:\\b\\x.zip", u"D:\\r\\", NumberText()), c.bytes);
    }
}

TEST(RunReport, SaveWritesTheBytesOrSaysItCouldNot) {
    testsupport::TempFolder temp;
    const std::string bytes = "\xEF\xBB\xBF" "a\r\n";
    struct Case {
        const char* fault;
        std::u16string path;
        bool saved;
    };
    const std::u16string existing = temp.U16("old.txt");
    ASSERT_TRUE(testsupport::WriteFileBytes(temp / "old.txt", testzip::ToBytes("an older and longer list")));
    const Case cases[] = {
        {"a new file not written", temp.U16("list.txt"), true},
        {"an old file not replaced whole", existing, true},
        {"a folder that is missing reported as saved", temp.U16("missing/list.txt"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(SaveReportFile(c.path, bytes), c.saved);
        if (c.saved) {
            EXPECT_EQ(testsupport::ReadFileBytes(std::filesystem::path(c.path)), testzip::ToBytes(bytes));
        }
    }
}

// What the dialog's observer hears, to check the recorder passes it all on.
class Heard : public RestoreObserver {
public:
    void OnRestoreStarted() override { ++started; }
    void OnRestoreFinished(int code) override { finished.push_back(code); }
    void OnEntryDone(std::int32_t index, EntryOutcome) override {
        done.push_back(index);
        if (stopAfter > 0 && static_cast<int>(done.size()) == stopAfter && stop) stop->Request();
    }
    void OnEntryFailed(const RestoreFailure& failure) override { failed.push_back(failure.entryIndex); }
    bool WantsByteTotal() const override { return true; }
    int started = 0;
    std::vector<int> finished;
    std::vector<std::int32_t> done, failed;
    int stopAfter = 0;
    StopRequest* stop = nullptr;
};

std::string Data(int i) {
    std::string data;
    for (unsigned k = 0; data.size() < 3000u + 500u * i; ++k) data += std::to_string(k * 2654435761u + i) + ",";
    return data;
}

// Ten files; the second and the seventh damaged, the fifth's name unsafe.
testzip::Bytes DamagedArchive() {
    testzip::ZipBuilder zip;
    for (int i = 0; i < 10; ++i) {
        const std::string name = i == 4 ? "../escaped.txt" : "Photos/f" + std::to_string(i) + ".txt";
        testzip::Entry& e = zip.Add(name, Data(i), 8);
        if (i == 1) e.localOverride.crc32 = e.centralOverride.crc32 = ~testzip::Crc32(e.data);
        if (i == 6) e.rawData = testzip::Bytes(40, 0xFF);
    }
    return zip.Build();
}

// A run as the dialog's worker makes it, on this thread.
int RunJob(const std::u16string& dest, const std::u16string& archive, RestoreObserver* observer,
           const StopRequest* stop, RestoreFailure& failure) {
    RestoreJob job;
    job.destinationFolder = dest;
    job.archivePath = archive;
    job.observer = observer;
    job.stop = stop;
    job.choices = FollowUpChoices(RestoreChoices{});
    RestoreThreadProc(&job);
    failure = job.failure;
    return job.resultCode;
}

TEST(ReportingObserver, AFollowUpRunReportsExactlyTheEntriesItLeft) {
    testsupport::TempFolder temp;
    ASSERT_TRUE(testsupport::WriteFileBytes(temp / "backup.zip", DamagedArchive()));
    const std::u16string archive = temp.U16("backup.zip");
    std::filesystem::create_directory(temp / "dest");
    const std::u16string dest = temp.U16("dest") + platform::kPathSeparator;

    // The dialog's first run stops at the first damaged entry.
    RestoreFailure first;
    ASSERT_EQ(RestoreArchive(dest, archive, nullptr, &first), RESTORE_ENTRY_FAILED);
    ASSERT_EQ(first.entryIndex, 1);
    ASSERT_EQ(FollowUpAfter(RESTORE_ENTRY_FAILED, first), FollowUp::kRestoreRest);

    const char* const runs[] = {
        "the rest: a damaged entry missing from the list, or an intact one in it",
        "the same once more: entries found restored counted as not",
    };
    for (const char* fault : runs) {
        SCOPED_TRACE(fault);
        Heard dialog;
        ReportingObserver recorder(&dialog);
        RestoreFailure failure;
        const int code = RunJob(dest, archive, &recorder, nullptr, failure);
        EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
        const std::optional<RunReport> report = recorder.Report(code, failure);
        ASSERT_TRUE(report.has_value());
        EXPECT_FALSE(report->stopped);
        EXPECT_EQ(report->total, 10);
        EXPECT_EQ(report->inPlace, 7);
        std::vector<std::int32_t> listed;
        for (const RestoreFailure& f : report->failures) listed.push_back(f.entryIndex);
        EXPECT_EQ(listed, (std::vector<std::int32_t>{1, 4, 6}));
        EXPECT_EQ(report->failures[1].entryName, u"../escaped.txt");
        // Passed on as heard.
        EXPECT_EQ(dialog.started, 1);
        EXPECT_EQ(dialog.finished, std::vector<int>{RESTORE_ENTRY_FAILED});
        EXPECT_EQ(dialog.failed, listed);
        EXPECT_EQ(dialog.done, (std::vector<std::int32_t>{0, 2, 3, 5, 7, 8, 9}));
    }
    for (int i : {0, 2, 3, 5, 7, 8, 9}) {
        EXPECT_EQ(testsupport::ReadFileBytes(temp / ("dest/Photos/f" + std::to_string(i) + ".txt")),
                  testzip::ToBytes(Data(i)))
            << i;
    }
    EXPECT_FALSE(std::filesystem::exists(temp / "dest/Photos/f1.txt"));
    EXPECT_FALSE(std::filesystem::exists(temp / "dest/Photos/f6.txt"));
    EXPECT_FALSE(std::filesystem::exists(temp / "escaped.txt"));
}

TEST(ReportingObserver, AStoppedRunAndOneThatNeverReachedItsEntries) {
    testsupport::TempFolder temp;
    ASSERT_TRUE(testsupport::WriteFileBytes(temp / "backup.zip", DamagedArchive()));
    std::filesystem::create_directory(temp / "dest");
    const std::u16string dest = temp.U16("dest") + platform::kPathSeparator;
    struct Case {
        const char* fault;
        std::u16string archive;
        int stopAfter;
        int code;
        bool reported;
    };
    const Case cases[] = {
        {"a stop reported as the end of the archive", temp.U16("backup.zip"), 3, RESTORE_ENTRY_FAILED, true},
        {"a missing archive reported as nothing restored", temp.U16("gone.zip"), 0, RESTORE_NO_ARCHIVE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StopRequest stop;
        Heard dialog;
        dialog.stopAfter = c.stopAfter;
        dialog.stop = &stop;
        ReportingObserver recorder(&dialog);
        RestoreFailure failure;
        const int code = RunJob(dest, c.archive, &recorder, &stop, failure);
        ASSERT_EQ(code, c.code);
        const std::optional<RunReport> report = recorder.Report(code, failure);
        ASSERT_EQ(report.has_value(), c.reported);
        EXPECT_EQ(dialog.finished, std::vector<int>{c.code});
        if (!report) continue;
        EXPECT_TRUE(report->stopped);
        EXPECT_EQ(FollowUpAfter(code, failure), FollowUp::kContinue);
        EXPECT_EQ(report->inPlace, static_cast<std::int32_t>(dialog.done.size()));
        EXPECT_GE(report->inPlace, 3);
        EXPECT_LT(report->inPlace, 7) << "the run was not stopped";
        // Every entry is accounted for: in place, failed, or not reached.
        const NumberText numbers;
        const std::vector<std::u16string> lines = ReportLines(*report, numbers);
        ASSERT_EQ(lines.size(), report->failures.size() + 1);
        const std::int32_t left = 10 - report->inPlace - static_cast<std::int32_t>(report->failures.size());
        EXPECT_EQ(lines.back(), u"（ほかの " + numbers.Whole(static_cast<std::uint64_t>(left)) +
                                    u" 項目は、中止したため復元していません）");
    }
}

}  // namespace
