// What the user's choices may keep is only what stood at a path before the
// run: what the run itself made is the run's. The plan says what the run
// then does, row for row; an unreadable catalogue record is never passed
// over by a member choice; the identical check trusts only a file that is
// still the one it judged, and hears a stop.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "links.h"
#include "platform/file.h"
#include "platform/text.h"
#include "restore/entry_restore.h"
#include "restore/members.h"
#include "restore/plan.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

constexpr std::int32_t kEntryStamp = 1600000000;
constexpr platform::FileTime kSecond = 10000000;
constexpr platform::FileTime kEntryTime =
    (static_cast<platform::FileTime>(kEntryStamp) + platform::kFileTimeUnixEpochSeconds) * kSecond;

testzip::Entry& Stamp(testzip::Entry& e) {
    e.localExtra = e.centralExtra = testzip::ExtraField({testzip::UtBlock(1, kEntryStamp)});
    return e;
}

// A folder entry named without a trailing separator, marked as a folder.
testzip::Entry& AddMarkedFolder(ZipBuilder& zip, const std::string& name) {
    testzip::Entry& e = zip.Add(name, "");
    e.externalAttributes = 0x10;
    return Stamp(e);
}

class Outcomes : public RestoreObserver {
public:
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnEntryDone(std::int32_t index, EntryOutcome outcome) override { done[index] = outcome; }
    std::map<std::int32_t, EntryOutcome> done;
};

EntryOutcome OutcomeOf(PlanKind kind) {
    switch (kind) {
    case PlanKind::kIdentical: return EntryOutcome::kIdentical;
    case PlanKind::kKeep: return EntryOutcome::kKept;
    default: return EntryOutcome::kRestored;
    }
}

// What stands at each row's paths before the run.
enum class Before { kNothing, kNewerLink, kReadOnlyFolder, kHardLinks };

struct AgreementCase {
    const char* fault;
    Before before;
    ExistingPolicy policy;
    bool skipIdentical;
    std::int32_t stopsAt;  // the entry the run stops at; -1: it completes
    EntryFailure reason;
    const char* untouched;  // a path that stood there and must stay the same, or nullptr
};

// The archives the rows restore, by what stands before them.
ZipBuilder ArchiveFor(Before before, const std::string& first) {
    ZipBuilder zip;
    switch (before) {
    case Before::kNothing:
        if (first == "file-then-folder") {
            Stamp(zip.Add("x", "FILE DATA", 8));
            AddMarkedFolder(zip, "./x");
        } else if (first == "two-cases") {
            // Letters beyond ASCII that differ only in case.
            Stamp(zip.Add("\xC3\x84.txt", "UPPER", 8)).flags = 0x800;
            Stamp(zip.Add("\xC3\xA4.txt", "LOWER", 8)).flags = 0x800;
        } else {
            Stamp(zip.Add("x/y.txt", "IN X", 8));
            Stamp(zip.Add("x", "FILE DATA", 8));
        }
        break;
    case Before::kNewerLink: AddMarkedFolder(zip, "l"); break;
    case Before::kReadOnlyFolder: Stamp(zip.AddFolder("ro/")); break;
    case Before::kHardLinks:
        Stamp(zip.Add("a.txt", "SAME DATA", 8));
        Stamp(zip.Add("b.txt", "SAME DATA", 8));
        break;
    }
    Stamp(zip.Add("after.txt", Text(200000, 4), 8));
    return zip;
}

TEST(Plan, AgreesWithTheRunAndTheRunKeepsOnlyWhatStoodThere) {
    using P = ExistingPolicy;
    const EntryFailure kNone = EntryFailure::kNone;
    const struct {
        AgreementCase c;
        const char* shape;  // for kNothing: "file-then-folder" or "folder-then-file"
    } rows[] = {
        {{"the run's own file kept as what stood where a folder entry goes (keep)", Before::kNothing, P::kKeep, false,
          1, EntryFailure::kDuplicateName, nullptr}, "file-then-folder"},
        {{"the run's own file kept as what stood where a folder entry goes (newer)", Before::kNothing, P::kNewer,
          false, 1, EntryFailure::kDuplicateName, nullptr}, "file-then-folder"},
        {{"the run's own file replaced by a folder (replace)", Before::kNothing, P::kReplace, false, 1,
          EntryFailure::kDuplicateName, nullptr}, "file-then-folder"},
        {{"the run's own folder kept in a file's place (newer)", Before::kNothing, P::kNewer, false, 1,
          EntryFailure::kTargetInTheWay, nullptr}, "folder-then-file"},
        {{"a file entry dropped over the run's own folder (keep)", Before::kNothing, P::kKeep, false, 1,
          EntryFailure::kTargetInTheWay, nullptr}, "folder-then-file"},
        {{"two names one file on a folded file system planned as two files", Before::kNothing, P::kReplace, false,
          platform::kNamesIgnoreCase ? 1 : -1, platform::kNamesIgnoreCase ? EntryFailure::kDuplicateName : kNone,
          nullptr}, "two-cases"},
        {{"a folder entry over a newer link planned otherwise than run (newer)", Before::kNewerLink, P::kNewer, false,
          -1, kNone, "l"}, ""},
        {{"a folder entry over a link planned otherwise than run (replace)", Before::kNewerLink, P::kReplace, false, 0,
          EntryFailure::kTargetInTheWay, "l"}, ""},
        {{"a folder reported kept but changed (newer)", Before::kReadOnlyFolder, P::kNewer, false, -1, kNone, "ro"},
         ""},
        {{"a folder reported kept but changed (keep)", Before::kReadOnlyFolder, P::kKeep, false, -1, kNone, "ro"}, ""},
        {{"a second name of a kept file taken for the run's own (keep)", Before::kHardLinks, P::kKeep, false, -1,
          kNone, "a.txt"}, ""},
        {{"a second name of an identical file taken for the run's own (identical)", Before::kHardLinks, P::kReplace,
          true, -1, kNone, "b.txt"}, ""},
    };
    for (const auto& row : rows) {
        const AgreementCase& c = row.c;
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            const fs::path outside = box.MakeDestAndOutside();
            switch (c.before) {
            case Before::kNothing: break;
            case Before::kNewerLink:
                fs::create_directories(outside / "elsewhere");
                RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath("l"), outside / "elsewhere", true));
                break;
            case Before::kReadOnlyFolder:
                fs::create_directories(box.DestPath("ro"));
                ASSERT_TRUE(platform::WriteAttributes(box.DestU16("ro"), platform::kAttributeReadOnly));
                break;
            case Before::kHardLinks: {
                box.Put("a.txt", "SAME DATA");
                platform::File file = platform::File::CreateAlways(box.DestU16("a.txt"), platform::kAttributeNormal);
                ASSERT_TRUE(file.Write("SAME DATA", 9));
                ASSERT_TRUE(file.SetTimes(0, 0, kEntryTime));
                file.Close();
                std::error_code ec;
                fs::create_hard_link(box.DestPath("a.txt"), box.DestPath("b.txt"), ec);
                if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
                break;
            }
            }
            box.WriteArchive(ArchiveFor(c.before, row.shape));
            const std::u16string untouchedPath = c.untouched ? box.DestU16(c.untouched) : std::u16string();
            const platform::PathIdentity before =
                c.untouched ? platform::ReadPathIdentity(untouchedPath) : platform::PathIdentity{};
            const std::uint32_t attributesBefore = c.untouched ? platform::ReadAttributes(untouchedPath) : 0;

            RestoreChoices choices;
            choices.existing = c.policy;
            choices.skipIdentical = c.skipIdentical;
            std::vector<PlannedEntry> planned;
            ASSERT_EQ(PlanRestore(box.Dest(), box.Archive(), choices, planned), RESTORE_OK);
            RunOptions options;
            options.producers = producers;
            options.choices = choices;
            Outcomes outcomes;
            RestoreFailure failure;
            const int code = RestoreArchiveWithOptions(box.Dest(), box.Archive(), &outcomes, &failure, options);

            EXPECT_EQ(code, c.stopsAt < 0 ? RESTORE_OK : RESTORE_ENTRY_FAILED);
            if (c.stopsAt >= 0) {
                EXPECT_EQ(failure.entryIndex, c.stopsAt);
                EXPECT_EQ(failure.reason, c.reason);
            }
            // The plan, entry for entry, is what the run did.
            for (const PlannedEntry& e : planned) {
                SCOPED_TRACE(platform::Utf16ToUtf8(e.name));
                if (c.stopsAt >= 0 && e.index > c.stopsAt) continue;
                if (e.index == c.stopsAt) {
                    EXPECT_EQ(e.kind, PlanKind::kRefused);
                    EXPECT_EQ(e.reason, c.reason);
                    continue;
                }
                ASSERT_NE(e.kind, PlanKind::kRefused) << "the plan refuses what the run restores";
                ASSERT_EQ(outcomes.done.count(e.index), 1u);
                EXPECT_EQ(outcomes.done.at(e.index), OutcomeOf(e.kind));
            }
            if (c.untouched) {
                const platform::PathIdentity after = platform::ReadPathIdentity(untouchedPath);
                EXPECT_TRUE(after.exists && after.identity == before.identity && after.writeTime == before.writeTime)
                    << "what stood there was replaced";
                EXPECT_EQ(platform::ReadAttributes(untouchedPath), attributesBefore) << "what stood there was changed";
            }
            EXPECT_EQ(restoretest::Tree(outside), c.before == Before::kNewerLink ? std::vector<std::string>{"elsewhere/"}
                                                                                 : std::vector<std::string>{});
            if (c.before == Before::kReadOnlyFolder)
                platform::WriteAttributes(box.DestU16("ro"), platform::kAttributeNormal);
        }
    }
}

// Four entries; the record of the third can't be read.
testzip::Bytes FourEntriesThirdUnreadable() {
    ZipBuilder zip;
    zip.Add("docs/a.txt", "A");
    zip.Add("docs/b.txt", "B");
    zip.Add("docs/d.txt", "D");
    zip.Add("other.txt", "O");
    testzip::ZipLayout layout;
    testzip::Bytes bytes = zip.Build(&layout);
    testzip::FlipByte(bytes, layout.localHeader[2]);
    return bytes;
}

TEST(Members, AnUnreadableRecordIsNeverPassedOver) {
    Sandbox box;
    box.WriteArchive(FourEntriesThirdUnreadable());
    const struct {
        const char* fault;
        std::vector<std::u16string> include, exclude;
        std::vector<std::int32_t> chosen;
        std::vector<std::u16string> unmatched;
    } cases[] = {
        {"the choice cut short at the unreadable record", {u"docs"}, {}, {0, 1, 2}, {}},
        {"a member behind the unreadable record chosen as nothing", {u"docs/d.txt"}, {}, {2}, {u"docs/d.txt"}},
        {"the entries after the unreadable record lost", {u"other.txt"}, {}, {2, 3}, {}},
        {"an exclusion taken to leave out an unreadable record", {}, {u"docs"}, {2, 3}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::unique_ptr<ArchiveHandle> archive = OpenArchive(box.Archive());
        ASSERT_TRUE(archive);
        MemberChoice choice;
        choice.include = c.include;
        choice.exclude = c.exclude;
        std::vector<bool> chosen;
        std::vector<std::u16string> unmatched;
        std::int32_t unreadable = -1;
        ASSERT_TRUE(ChooseMembers(archive.get(), choice, chosen, unmatched, &unreadable));
        CloseArchive(archive);
        std::vector<std::int32_t> indexes;
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            if (chosen[i]) indexes.push_back(static_cast<std::int32_t>(i));
        }
        EXPECT_EQ(indexes, c.chosen);
        EXPECT_EQ(unmatched, c.unmatched);
        EXPECT_EQ(unreadable, 1);

        // The check names it damaged, the plan stops at it with the
        // catalogue's own result, and so does the run.
        for (const int readers : {0, 2}) {
            CheckReport report;
            EXPECT_EQ(CheckArchiveWithReaders(box.Archive(), &chosen, nullptr, report, nullptr, readers),
                      RESTORE_ENTRY_FAILED);
            ASSERT_EQ(report.damaged.size(), 1u);
            EXPECT_EQ(report.damaged[0].entryIndex, 2);
            EXPECT_EQ(report.damaged[0].reason, EntryFailure::kFetchFailed);
            EXPECT_NE(report.damaged[0].extractResult, ARCHIVE_OK);
        }
        RestoreChoices choices;
        choices.entries = &chosen;
        std::vector<PlannedEntry> planned;
        ASSERT_EQ(PlanRestore(box.Dest(), box.Archive(), choices, planned), RESTORE_OK);
        const PlannedEntry* stop = nullptr;
        for (const PlannedEntry& e : planned) {
            if (e.kind == PlanKind::kRefused && !stop) stop = &e;
        }
        ASSERT_NE(stop, nullptr) << "the plan foresees no stop";
        EXPECT_EQ(stop->index, 2);
        EXPECT_EQ(stop->reason, EntryFailure::kFetchFailed);
        EXPECT_NE(stop->fetchResult, ARCHIVE_OK);
        RestoreFailure failure;
        RunOptions options;
        options.choices = choices;
        EXPECT_EQ(RestoreArchiveWithOptions(box.Dest(), box.Archive(), nullptr, &failure, options),
                  RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.entryIndex, 2);
    }
}

TEST(Members, PatternsTakeCharactersAndNeverBacktrackWithoutEnd) {
    const struct {
        const char* fault;
        std::u16string pattern, name;
        bool matches;
    } cases[] = {
        {"? taking one UTF-16 unit of a character outside the BMP", u"?.txt", u"\U0001F600.txt", true},
        {"?? taking one character outside the BMP", u"??.txt", u"\U0001F600.txt", false},
        {"a set not taking a character outside the BMP", u"[\U0001F600x].txt", u"\U0001F600.txt", true},
        {"many stars backtracking (no match)", u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*c.txt",
         std::u16string(200, u'a') + u".txt", false},
        {"many stars backtracking (a match)", u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*c.txt",
         std::u16string(200, u'a') + u"c.txt", true},
        {"many ** backtracking across levels", u"**/a*a*a*a*a*a*a*a*a*a*a*a*b/**/z",
         u"q/" + std::u16string(120, u'a') + u"/r/y", false},
        {"a star crossing a level", u"*a*a*c", u"aa/ac", false},
        {"a folder the name lies in not taken", u"*a*", u"xax/" + std::u16string(60, u'b'), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MemberMatches(c.pattern, c.name, false), c.matches) << c.fault;
    }
}

// A file that holds the entry at the moment it is judged.
TEST(Identical, OnlyAFileStillAsJudgedHoldsTheEntry) {
    const std::string data = Text(600000, 9);
    const std::uint32_t crc = testzip::Crc32(testzip::ToBytes(data));
    enum class Change { kNone, kGrown, kRewrittenSameSize, kOtherFileSameData, kStopped };
    const struct {
        const char* fault;
        Change change;
        bool holds;
    } cases[] = {
        {"an unchanged identical file not recognised", Change::kNone, true},
        {"a file grown after it was judged called identical", Change::kGrown, false},
        {"a file written again after it was judged called identical", Change::kRewrittenSameSize, false},
        {"another file put at the path called identical", Change::kOtherFileSameData, false},
        {"a stop not heard while the file is read", Change::kStopped, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        box.Put("f.bin", data);
        const std::u16string path = box.DestU16("f.bin");
        {
            platform::File f = platform::File::CreateAlways(path, platform::kAttributeNormal);
            ASSERT_TRUE(f.Write(data.data(), data.size()));
            ASSERT_TRUE(f.SetTimes(0, 0, kEntryTime));
        }
        const platform::PathIdentity judged = platform::ReadPathIdentity(path);
        StopRequest user;
        FillStop stop{&user, nullptr, 0, nullptr};
        switch (c.change) {
        case Change::kNone: break;
        case Change::kGrown: {
            std::FILE* f = std::fopen(box.DestPath("f.bin").string().c_str(), "ab");
            ASSERT_NE(f, nullptr);
            std::fputs("23 bytes appended here.", f);
            std::fclose(f);
            break;
        }
        case Change::kRewrittenSameSize: {
            platform::File f = platform::File::CreateAlways(path, platform::kAttributeNormal);
            ASSERT_TRUE(f.Write(data.data(), data.size()));
            ASSERT_TRUE(f.SetTimes(0, 0, kEntryTime + kSecond * 3600));
            break;
        }
        case Change::kOtherFileSameData:
            box.Put("g.bin", data);
            fs::rename(box.DestPath("g.bin"), box.DestPath("f.bin"));
            break;
        case Change::kStopped: user.Request(); break;
        }
        EXPECT_EQ(FileHolds(path, judged, crc, &stop), c.holds);
    }
}

// Stops the run as soon as it takes up entry `at`.
class StopAtEntry : public RestoreObserver {
public:
    StopAtEntry(StopRequest& stop, std::int32_t at) : stop_(stop), at_(at) {}
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnEntryStarted(std::int32_t index, const std::u16string&) override {
        if (index == at_) stop_.Request();
    }
    void OnEntryDone(std::int32_t index, EntryOutcome outcome) override { done[index] = outcome; }
    std::map<std::int32_t, EntryOutcome> done;

private:
    StopRequest& stop_;
    std::int32_t at_;
};

TEST(Identical, AStopIsHeardWhileAFileIsRead) {
    const std::string big = Text(8 << 20, 5);
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(producers ? "with workers" : "serial");
        Sandbox box;
        ZipBuilder zip;
        Stamp(zip.Add("small.txt", "SMALL", 8));
        Stamp(zip.Add("big.txt", big, 8));
        box.WriteArchive(zip);
        for (const std::string name : {"small.txt", "big.txt"}) {
            const std::string data = name == "big.txt" ? big : std::string("SMALL");
            box.Put(name, "");
            platform::File f = platform::File::CreateAlways(box.DestU16(name), platform::kAttributeNormal);
            ASSERT_TRUE(f.Write(data.data(), data.size()));
            ASSERT_TRUE(f.SetTimes(0, 0, kEntryTime));
        }
        StopRequest stop;
        StopAtEntry observer(stop, 1);
        RunOptions options;
        options.producers = producers;
        options.stop = &stop;
        options.choices.skipIdentical = true;
        RestoreFailure failure;
        EXPECT_EQ(RestoreArchiveWithOptions(box.Dest(), box.Archive(), &observer, &failure, options),
                  RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.reason, EntryFailure::kInterrupted);
        // With workers the small file's check may be cut short by the stop
        // too; the large one must never be read to its end and reported.
        EXPECT_LE(failure.entryIndex, 1);
        EXPECT_EQ(observer.done.count(1), 0u) << "the file was read to its end after the stop, and reported";
        EXPECT_EQ(box.Read("big.txt"), big) << "what stood there was changed";
    }
}

}  // namespace

namespace {

// The dialog plans on a worker and gives the plan up when the user does:
// the plan must end then, not read every file that may hold its entry.
// "fI.bin", built in steps (GCC 12 warns wrongly about the one-expression
// form of such concatenations).
std::string BinName(int i) {
    std::string name = "f";
    name += std::to_string(i);
    name += ".bin";
    return name;
}

TEST(Plan, EndsWhenAskedToStop) {
    Sandbox box;
    ZipBuilder zip;
    for (int i = 0; i < 4; ++i) Stamp(zip.Add(BinName(i), Text(1 << 20, i), 8));
    box.WriteArchive(zip);
    for (int i = 0; i < 4; ++i) {
        const std::string name = BinName(i), data = Text(1 << 20, i);
        box.Put(name, "");
        platform::File f = platform::File::CreateAlways(box.DestU16(name), platform::kAttributeNormal);
        ASSERT_TRUE(f.Write(data.data(), data.size()));
        ASSERT_TRUE(f.SetTimes(0, 0, kEntryTime));
    }
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "not stopped");
        StopRequest stop;
        if (stopped) stop.Request();
        RestoreChoices choices;
        choices.skipIdentical = true;
        std::vector<PlannedEntry> planned;
        RestoreFailure why;
        const int code = PlanRestore(box.Dest(), box.Archive(), choices, planned, &why, &stop);
        if (stopped) {
            EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
            EXPECT_EQ(why.reason, EntryFailure::kInterrupted);
            for (const PlannedEntry& e : planned) EXPECT_NE(e.kind, PlanKind::kIdentical) << "read after the stop";
        } else {
            ASSERT_EQ(code, RESTORE_OK);
            ASSERT_EQ(planned.size(), 4u);
            for (const PlannedEntry& e : planned) EXPECT_EQ(e.kind, PlanKind::kIdentical);
        }
    }
}

}  // namespace
