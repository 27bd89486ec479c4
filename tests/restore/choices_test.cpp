// The user's choices for a run: which members, what happens to what stands
// at an entry's path (replace, keep, newer, a file that is identical), a
// plan that says beforehand what the run then does, and a check that names
// every damaged entry. Serial and with workers where the run is involved.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "links.h"
#include "platform/file.h"
#include "platform/text.h"
#include "restore/members.h"
#include "restore/plan.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Corrupt;
using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

struct MatchCase {
    const char* pattern;
    const char* name;
    bool posix;    // letter case counts
    bool windows;  // letter case ignored
};

TEST(Members, PatternsMatchAsTheUserMeans) {
    const MatchCase cases[] = {
        {"a.txt", "a.txt", true, true},
        {"A.TXT", "a.txt", false, true},
        {"\xC3\x89.txt", "\xC3\xA9.txt", false, true},  // É, é
        {"*.txt", "a.txt", true, true},
        {"*.txt", "d/a.txt", false, false},  // * stays within one level
        {"d/*", "d/e/a.txt", true, true},    // d/e is a folder it names
        {"**/*.txt", "a.txt", true, true},   // **/ also matches no level
        {"**/*.txt", "x/y/a.txt", true, true},
        {"**/*.txt", "x/a.bin", false, false},
        {"d", "d/a.txt", true, true},
        {"d/", "d/e/a.txt", true, true},
        {"d", "dd/a.txt", false, false},
        {"d", "d.txt", false, false},
        {"f?.txt", "f1.txt", true, true},
        {"f?.txt", "f10.txt", false, false},
        {"a?b", "a/b", false, false},  // ? never matches a separator
        {"[ab]*", "b.txt", true, true},
        {"[!ab]*", "b.txt", false, false},
        {"[a-c].txt", "B.txt", false, true},
        {"d\\a.txt", "d/a.txt", true, true},  // either separator
        {"[", "[", true, true},              // an unclosed set is a plain bracket
    };
    for (const auto& c : cases) {
        const std::u16string pattern = platform::Utf8ToUtf16(c.pattern), name = platform::Utf8ToUtf16(c.name);
        EXPECT_EQ(MemberMatches(pattern, name, false), c.posix) << c.pattern << " against " << c.name;
        EXPECT_EQ(MemberMatches(pattern, name, true), c.windows) << c.pattern << " against " << c.name << ", any case";
    }
}

struct ChoiceCase {
    const char* fault;
    std::vector<std::u16string> include, exclude;
    std::vector<std::int32_t> chosen;
    std::vector<std::u16string> unmatched;
};

TEST(Members, AFolderComesWithWhatItHoldsAndItsFolders) {
    ZipBuilder zip;
    zip.AddFolder("a/");               // 0
    zip.AddFolder("a/b/");             // 1
    zip.Add("a/b/c.txt", "C");         // 2
    zip.Add("a/d.txt", "D");           // 3
    zip.Add("e.txt", "E");             // 4
    zip.Add("a/b/x.log", "X");         // 5
    Sandbox box;
    box.WriteArchive(zip);
    const ChoiceCase cases[] = {
        {"a file restored without the folder entries on its way", {u"a/b/c.txt"}, {}, {0, 1, 2}, {}},
        {"an exclude pattern not leaving out what it names", {u"a"}, {u"**/*.log"}, {0, 1, 2, 3}, {}},
        {"a member matching nothing not named", {u"zz", u"e.txt"}, {}, {4}, {u"zz"}},
        {"an exclude alone not choosing the rest", {}, {u"a"}, {4}, {}},
    };
    std::unique_ptr<ArchiveHandle> archive = OpenArchive(box.Archive());
    ASSERT_TRUE(archive);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        MemberChoice choice;
        choice.include = c.include;
        choice.exclude = c.exclude;
        std::vector<bool> chosen;
        std::vector<std::u16string> unmatched;
        ASSERT_TRUE(ChooseMembers(archive.get(), choice, chosen, unmatched));
        std::vector<std::int32_t> indexes;
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            if (chosen[i]) indexes.push_back(static_cast<std::int32_t>(i));
        }
        EXPECT_EQ(indexes, c.chosen);
        EXPECT_EQ(unmatched, c.unmatched);
    }
    CloseArchive(archive);
}

// One entry "f.txt" holding "ENTRY DATA", written at kEntryTime (an
// extended time stamp: the same instant in any time zone).
constexpr std::int32_t kEntryStamp = 1600000000;
constexpr platform::FileTime kSecond = 10000000;
constexpr platform::FileTime kEntryTime =
    (static_cast<platform::FileTime>(kEntryStamp) + platform::kFileTimeUnixEpochSeconds) * kSecond;
const std::string kEntryData = "ENTRY DATA";

testzip::Entry& AddStamped(ZipBuilder& zip, const std::string& name, const std::string& data) {
    testzip::Entry& e = zip.Add(name, data, 8);
    e.localExtra = e.centralExtra = testzip::ExtraField({testzip::UtBlock(1, kEntryStamp)});
    return e;
}

// A file as another program left it: `data`, last written at `time`.
void PutWithTime(const Sandbox& box, const std::string& name, const std::string& data, platform::FileTime time) {
    box.Put(name, data);
    platform::File file = platform::File::CreateAlways(box.DestU16(name), platform::kAttributeNormal);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Write(data.data(), data.size()));
    ASSERT_TRUE(file.SetTimes(0, 0, time));
}

// Records each confirmed entry's outcome.
class Outcomes : public RestoreObserver {
public:
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnEntryDone(std::int32_t index, EntryOutcome outcome) override { done[index] = outcome; }
    std::map<std::int32_t, EntryOutcome> done;
};

enum class Stands { kNothing, kOlder, kSameTimeOtherData, kNewer, kIdentical, kFolder, kLink };

struct ExistingCase {
    const char* fault;
    ExistingPolicy policy;
    bool skipIdentical;
    Stands stands;
    EntryFailure reason;      // kNone: the run succeeds
    EntryOutcome outcome;
    bool untouched;           // what stood there is still there, the same file
};

TEST(Existing, WhatStandsThereIsReplacedKeptOrLeftAsTheUserChose) {
    using P = ExistingPolicy;
    using O = EntryOutcome;
    const ExistingCase cases[] = {
        {"a missing file not restored under keep", P::kKeep, false, Stands::kNothing, EntryFailure::kNone,
         O::kRestored, false},
        {"replace keeping a newer file", P::kReplace, false, Stands::kNewer, EntryFailure::kNone, O::kRestored, false},
        {"replace leaving an identical file without --skip-identical", P::kReplace, false, Stands::kIdentical,
         EntryFailure::kNone, O::kRestored, false},
        {"replace removing a folder in the way", P::kReplace, false, Stands::kFolder, EntryFailure::kTargetInTheWay,
         O::kRestored, true},
        {"keep replacing an older file", P::kKeep, false, Stands::kOlder, EntryFailure::kNone, O::kKept, true},
        {"keep failing on a folder", P::kKeep, false, Stands::kFolder, EntryFailure::kNone, O::kKept, true},
        {"keep replacing a link", P::kKeep, false, Stands::kLink, EntryFailure::kNone, O::kKept, true},
        {"newer keeping an older file", P::kNewer, false, Stands::kOlder, EntryFailure::kNone, O::kRestored, false},
        {"newer replacing a file of the same time", P::kNewer, false, Stands::kSameTimeOtherData, EntryFailure::kNone,
         O::kKept, true},
        {"newer replacing a newer file", P::kNewer, false, Stands::kNewer, EntryFailure::kNone, O::kKept, true},
        {"an identical file rewritten", P::kReplace, true, Stands::kIdentical, EntryFailure::kNone, O::kIdentical,
         true},
        {"a file of the same size and time but other data taken as identical", P::kReplace, true,
         Stands::kSameTimeOtherData, EntryFailure::kNone, O::kRestored, false},
        {"an identical file counted as kept", P::kKeep, true, Stands::kIdentical, EntryFailure::kNone, O::kIdentical,
         true},
        {"a link followed to tell whether it is identical", P::kReplace, true, Stands::kLink, EntryFailure::kNone,
         O::kRestored, false},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            const fs::path outside = box.MakeDestAndOutside();
            ASSERT_TRUE(testsupport::WriteFileBytes(outside / "victim.txt", testzip::ToBytes(kEntryData)));
            switch (c.stands) {
            case Stands::kNothing: break;
            case Stands::kOlder: PutWithTime(box, "f.txt", "OLD DATA..", kEntryTime - 3600 * kSecond); break;
            case Stands::kSameTimeOtherData: PutWithTime(box, "f.txt", "OTHER DATA", kEntryTime); break;
            case Stands::kNewer: PutWithTime(box, "f.txt", "NEWER DATA", kEntryTime + 3600 * kSecond); break;
            case Stands::kIdentical: PutWithTime(box, "f.txt", kEntryData, kEntryTime); break;
            case Stands::kFolder: fs::create_directories(box.DestPath("f.txt")); break;
            case Stands::kLink:
                RESTORETEST_SET_UP(restoretest::MakeLink(box.DestPath("f.txt"), outside / "victim.txt", false));
                break;
            }
            const platform::PathIdentity before = platform::ReadPathIdentity(box.DestU16("f.txt"));
            ZipBuilder zip;
            zip.Add("first.txt", Text(300000, 1), 8);
            AddStamped(zip, "f.txt", kEntryData);
            box.WriteArchive(zip);
            RunOptions options;
            options.producers = producers;
            options.choices.existing = c.policy;
            options.choices.skipIdentical = c.skipIdentical;
            Outcomes outcomes;
            RestoreFailure failure;
            const int code = RestoreArchiveWithOptions(box.Dest(), box.Archive(), &outcomes, &failure, options);
            const platform::PathIdentity after = platform::ReadPathIdentity(box.DestU16("f.txt"));
            EXPECT_EQ(Tree(outside), std::vector<std::string>{"victim.txt"});
            if (c.reason != EntryFailure::kNone) {
                EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
                EXPECT_EQ(failure.reason, c.reason);
            } else {
                ASSERT_EQ(code, RESTORE_OK) << static_cast<int>(failure.reason);
                EXPECT_EQ(outcomes.done.at(1), c.outcome);
            }
            EXPECT_EQ(after.exists && before.exists && after.identity == before.identity &&
                          after.writeTime == before.writeTime,
                      c.untouched);
            if (!c.untouched) {
                EXPECT_TRUE(after.regular) << "a link or folder stands where the entry was restored";
                EXPECT_EQ(box.Read("f.txt"), kEntryData);
            }
        }
    }
}

// "dN/fI.txt", built in steps (GCC 12 warns wrongly about the
// one-expression form of such concatenations).
std::string SpreadName(int i) {
    std::string name = "d";
    name += std::to_string(i % 3);
    name += "/f";
    name += std::to_string(i);
    name += ".txt";
    return name;
}

// A run stopped (or killed) part way, then the same archive restored again
// with skipIdentical: what was complete stays untouched, what was cut short
// or missing is restored, and the tree is the full restore's.
TEST(Existing, RestoringAgainFinishesOnlyWhatIsMissing) {
    ZipBuilder zip;
    for (int i = 0; i < 24; ++i) {
        AddStamped(zip, SpreadName(i), Text(i == 12 ? (3 << 20) : 2000 + 300 * i, i));
    }
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(producers ? "with workers" : "serial");
        Sandbox box;
        box.WriteArchive(zip);
        std::vector<bool> first(24, false);
        for (int i = 0; i < 12; ++i) first[i] = true;
        RunOptions options;
        options.producers = producers;
        options.choices.entries = &first;
        ASSERT_EQ(RestoreArchiveWithOptions(box.Dest(), box.Archive(), nullptr, nullptr, options), RESTORE_OK);
        // The entry a killed run was writing, cut short under its name.
        box.Put("d0/f12.txt", Text(3 << 20, 12).substr(0, 100000));
        std::map<std::string, platform::PathIdentity> complete;
        for (const std::string& name : Tree(box.DestPath())) {
            if (name.back() != '/' && name != "d0/f12.txt") complete[name] = platform::ReadPathIdentity(box.DestU16(name));
        }
        ASSERT_EQ(complete.size(), 12u);
        options.choices = RestoreChoices{};
        options.choices.skipIdentical = true;
        Outcomes outcomes;
        ASSERT_EQ(RestoreArchiveWithOptions(box.Dest(), box.Archive(), &outcomes, nullptr, options), RESTORE_OK);
        for (const auto& [name, was] : complete) {
            const platform::PathIdentity now = platform::ReadPathIdentity(box.DestU16(name));
            EXPECT_TRUE(now.identity == was.identity && now.writeTime == was.writeTime) << name << " was rewritten";
        }
        for (int i = 0; i < 24; ++i) {
            const std::string name = SpreadName(i);
            EXPECT_EQ(box.Read(name), Text(i == 12 ? (3 << 20) : 2000 + 300 * i, i)) << name;
            EXPECT_EQ(outcomes.done.at(i), i < 12 ? EntryOutcome::kIdentical : EntryOutcome::kRestored) << name;
        }
    }
}

// The plan of a run, then the run: each planned kind is the outcome the run
// reports, and the run stops at the first entry the plan refuses.
TEST(Plan, SaysWhatTheRestoreThenDoes) {
    const struct {
        const char* fault;
        ExistingPolicy policy;
        bool skipIdentical;
        int alike;  // more files of the entry's size and time, every 7th of other data
    } cases[] = {
        {"replace planned otherwise than run", ExistingPolicy::kReplace, false, 0},
        {"keep planned otherwise than run", ExistingPolicy::kKeep, false, 0},
        {"newer and identical files planned otherwise than run", ExistingPolicy::kNewer, true, 0},
        {"files read in batches lost or misjudged", ExistingPolicy::kReplace, true, 300},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            PutWithTime(box, "old.txt", "OLD", kEntryTime - 3600 * kSecond);
            PutWithTime(box, "newer.txt", "NEWER", kEntryTime + 3600 * kSecond);
            PutWithTime(box, "same.txt", kEntryData, kEntryTime);
            fs::create_directories(box.DestPath("kept/"));
            fs::create_directories(box.DestPath("in-the-way.txt"));
            ZipBuilder zip;
            AddStamped(zip, "new.txt", kEntryData);
            AddStamped(zip, "old.txt", kEntryData);
            AddStamped(zip, "newer.txt", kEntryData);
            AddStamped(zip, "same.txt", kEntryData);
            // Before the entry refused below: the run stops there.
            for (int i = 0; i < c.alike; ++i) {
                const std::string name = "alike/" + std::to_string(i) + ".txt";
                PutWithTime(box, name, i % 7 == 3 ? "OTHER DATA" : kEntryData, kEntryTime);
                AddStamped(zip, name, kEntryData);
            }
            zip.AddFolder("kept/");
            AddStamped(zip, "kept/in.txt", Text(2 << 20, 3));
            AddStamped(zip, "in-the-way.txt", kEntryData);
            AddStamped(zip, "after.txt", kEntryData);
            box.WriteArchive(zip);
            RestoreChoices choices;
            choices.existing = c.policy;
            choices.skipIdentical = c.skipIdentical;
            std::vector<PlannedEntry> planned;
            ASSERT_EQ(PlanRestore(box.Dest(), box.Archive(), choices, planned), RESTORE_OK);
            ASSERT_EQ(planned.size(), 8u + static_cast<std::size_t>(c.alike));
            const std::vector<std::string> treeBefore = Tree(box.DestPath());
            RunOptions options;
            options.producers = producers;
            options.choices = choices;
            Outcomes outcomes;
            RestoreFailure failure;
            const int code = RestoreArchiveWithOptions(box.Dest(), box.Archive(), &outcomes, &failure, options);
            std::int32_t refusedAt = -1;
            for (const PlannedEntry& e : planned) {
                SCOPED_TRACE(platform::Utf16ToUtf8(e.name));
                if (refusedAt >= 0) {
                    EXPECT_EQ(outcomes.done.count(e.index), 0u) << "restored after the run stopped";
                    continue;
                }
                if (e.kind == PlanKind::kRefused) {
                    refusedAt = e.index;
                    EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
                    EXPECT_EQ(failure.entryIndex, e.index);
                    EXPECT_EQ(failure.reason, e.reason);
                    continue;
                }
                const EntryOutcome expected = e.kind == PlanKind::kIdentical ? EntryOutcome::kIdentical
                                              : e.kind == PlanKind::kKeep    ? EntryOutcome::kKept
                                                                             : EntryOutcome::kRestored;
                ASSERT_EQ(outcomes.done.count(e.index), 1u);
                EXPECT_EQ(outcomes.done.at(e.index), expected);
            }
            if (refusedAt < 0) {
                EXPECT_EQ(code, RESTORE_OK);
            }
        }
    }
}

// Stops the check once `after` entries have been read intact.
class StopAfterIntact : public RestoreObserver {
public:
    StopAfterIntact(StopRequest& stop, std::int32_t after) : stop_(stop), after_(after) {}
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnRestoreProgress(const RestoreProgress& p) override {
        if (after_ >= 0 && p.entriesDone >= after_) stop_.Request();
    }

private:
    StopRequest& stop_;
    std::int32_t after_;
};

TEST(CheckArchive, NamesEveryDamagedEntry) {
    ZipBuilder zip;
    for (int i = 0; i < 10; ++i) {
        std::string name = "f";
        name += std::to_string(i);
        name += ".txt";
        testzip::Entry& e = zip.Add(name, Text(20000 + i, i), 8);
        if (i == 2) Corrupt(e);
        if (i == 5) e.rawData = testzip::Bytes(40, 0xFF);  // not deflate data
        if (i == 8) e.localOverride.flags = e.centralOverride.flags = 1;  // encrypted
    }
    Sandbox box;
    box.WriteArchive(zip);
    const struct {
        const char* fault;
        int readers;
        std::int32_t stopAfter;  // intact entries read before the user stops; -1: never
        std::vector<std::int32_t> damaged;
        std::vector<ExtractFailure> why;
    } cases[] = {
        {"damage after the first not named", 0, -1, {2, 5, 8},
         {ExtractFailure::kCrcMismatch, ExtractFailure::kCorruptData, ExtractFailure::kEncrypted}},
        {"damage found by readers named out of order, or lost", 2, -1, {2, 5, 8},
         {ExtractFailure::kCrcMismatch, ExtractFailure::kCorruptData, ExtractFailure::kEncrypted}},
        {"damage found before a stop not named", 0, 3, {2}, {ExtractFailure::kCrcMismatch}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        StopRequest stop;
        StopAfterIntact observer(stop, c.stopAfter);
        CheckReport report;
        const int code = CheckArchiveWithReaders(box.Archive(), nullptr, &observer, report, nullptr, c.readers, &stop);
        EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
        ASSERT_EQ(report.damaged.size(), c.damaged.size());
        for (std::size_t i = 0; i < c.damaged.size(); ++i) {
            EXPECT_EQ(report.damaged[i].entryIndex, c.damaged[i]);
            EXPECT_EQ(report.damaged[i].extractFailure, c.why[i]);
        }
        EXPECT_EQ(report.interrupted, c.stopAfter >= 0);
        if (c.stopAfter >= 0) {
            EXPECT_LT(report.checked, 10);
        } else {
            EXPECT_EQ(report.checked, 10);
        }
    }
}

}  // namespace
