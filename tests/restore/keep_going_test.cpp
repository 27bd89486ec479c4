// A run that goes on past the entries that fail: every intact entry is
// restored as a whole run would restore it, what stood at a failed entry's
// path stays exactly as it was, and the run names every failed entry, in
// catalogue order, with its reason. Serial and with workers alike.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

enum class Breaks { kCrc, kCorruptData, kEncrypted, kUnsafeName, kLevelInTheWay, kFolderInTheWay };

struct Broken {
    int position;
    Breaks how;
    bool standing;  // an older file stands at its path before the run
};

class Failures : public RestoreObserver {
public:
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnEntryDone(std::int32_t index, EntryOutcome) override { done.push_back(index); }
    void OnEntryFailed(const RestoreFailure& failure) override { failed.push_back(failure); }
    std::vector<std::int32_t> done;
    std::vector<RestoreFailure> failed;
};

std::string EntryName(int i) {
    std::string name = "d";
    name += std::to_string(i % 2);
    name += "/e";
    name += std::to_string(i);
    name += ".txt";
    return name;
}

// Entry i's data: some large enough to be filled beside the run thread.
std::string EntryData(int i) { return Text(i % 3 == 1 ? (3 << 20) / 2 : 4000 + 100 * i, i); }

TEST(KeepGoing, EveryIntactEntryIsRestoredAndEveryFailedPathStaysAsItStood) {
    constexpr int kEntries = 7;
    const struct {
        const char* fault;
        std::vector<Broken> broken;
    } cases[] = {
        {"a CRC-32 mismatch at the first entry stopping the run", {{0, Breaks::kCrc, false}}},
        {"damaged data in the middle replacing what stood there", {{3, Breaks::kCorruptData, true}}},
        {"an encrypted last entry reported as restored", {{6, Breaks::kEncrypted, true}}},
        {"an unsafe name stopping the run", {{2, Breaks::kUnsafeName, false}}},
        {"a file where a level goes stopping the run", {{4, Breaks::kLevelInTheWay, false}}},
        {"a folder in a file's way stopping the run", {{1, Breaks::kFolderInTheWay, false}}},
        {"failures named out of order, or the first one only",
         {{0, Breaks::kEncrypted, true}, {3, Breaks::kCrc, false}, {6, Breaks::kCorruptData, true}}},
        {"a large entry's damage found by a worker lost", {{1, Breaks::kCrc, true}, {4, Breaks::kCrc, false}}},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            const fs::path outside = box.MakeDestAndOutside();
            ZipBuilder zip;
            std::map<std::string, std::string> expected;  // the tree afterwards, files and their data
            std::map<int, const Broken*> broken;
            for (const Broken& b : c.broken) broken[b.position] = &b;
            for (int i = 0; i < kEntries; ++i) {
                std::string name = EntryName(i);
                const std::string data = EntryData(i);
                const auto it = broken.find(i);
                if (it == broken.end()) {
                    zip.Add(name, data, 8);
                    expected[name] = data;
                    continue;
                }
                const Broken& b = *it->second;
                switch (b.how) {
                case Breaks::kUnsafeName: name = "../escaped.txt"; break;
                case Breaks::kLevelInTheWay:
                    name = "blocked/e.txt";
                    box.Put("blocked", "a file where a folder goes");
                    expected["blocked"] = "a file where a folder goes";
                    break;
                case Breaks::kFolderInTheWay:
                    fs::create_directories(box.DestPath(name));
                    expected[name + "/"] = "";
                    break;
                default: break;
                }
                if (b.standing) {
                    box.Put(name, "WHAT STOOD THERE");
                    expected[name] = "WHAT STOOD THERE";
                }
                testzip::Entry& e = zip.Add(name, data, 8);
                switch (b.how) {
                case Breaks::kCrc: restoretest::Corrupt(e); break;
                case Breaks::kCorruptData: e.rawData = testzip::Bytes(40, 0xFF); break;
                case Breaks::kEncrypted: e.localOverride.flags = e.centralOverride.flags = 1; break;
                default: break;
                }
            }
            box.WriteArchive(zip);
            RunOptions options;
            options.producers = producers;
            options.choices.keepGoing = true;
            Failures observer;
            RestoreFailure first;
            const int code = RestoreArchiveWithOptions(box.Dest(), box.Archive(), &observer, &first, options);
            EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
            ASSERT_EQ(observer.failed.size(), c.broken.size());
            for (std::size_t k = 0; k < c.broken.size(); ++k) {
                const RestoreFailure& f = observer.failed[k];
                EXPECT_EQ(f.entryIndex, c.broken[k].position);
                switch (c.broken[k].how) {
                case Breaks::kCrc: EXPECT_EQ(f.extractFailure, ExtractFailure::kCrcMismatch); break;
                case Breaks::kCorruptData: EXPECT_EQ(f.extractFailure, ExtractFailure::kCorruptData); break;
                case Breaks::kEncrypted: EXPECT_EQ(f.extractFailure, ExtractFailure::kEncrypted); break;
                case Breaks::kUnsafeName: EXPECT_EQ(f.reason, EntryFailure::kUnsafeName); break;
                case Breaks::kLevelInTheWay: EXPECT_EQ(f.reason, EntryFailure::kFolderFailed); break;
                case Breaks::kFolderInTheWay: EXPECT_EQ(f.reason, EntryFailure::kTargetInTheWay); break;
                }
            }
            EXPECT_EQ(first.entryIndex, c.broken.front().position) << "the run's failure is not the first";
            EXPECT_EQ(observer.done.size(), static_cast<std::size_t>(kEntries) - c.broken.size());

            // The tree: every intact entry, and every failed path as it stood.
            std::vector<std::string> tree;
            for (const std::string& name : restoretest::Tree(box.DestPath())) {
                if (name.back() == '/' && expected.count(name) == 0) {
                    bool holdsSomething = false;
                    for (const auto& [path, data] : expected) holdsSomething |= path.rfind(name, 0) == 0;
                    EXPECT_TRUE(holdsSomething) << name << ": a folder made for a failed entry stayed";
                    continue;
                }
                tree.push_back(name);
            }
            std::vector<std::string> names;
            for (const auto& [path, data] : expected) names.push_back(path);
            EXPECT_EQ(tree, names);
            for (const auto& [path, data] : expected) {
                if (path.back() != '/') {
                    EXPECT_EQ(box.Read(path), data) << path;
                }
            }
            EXPECT_EQ(restoretest::Tree(outside), std::vector<std::string>{});
            EXPECT_FALSE(fs::exists(box.root / "escaped.txt"));
        }
    }
}

// Without the choice, the run stops at the first failure as it always did.
TEST(KeepGoing, IsOffUnlessChosen) {
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(producers ? "with workers" : "serial");
        Sandbox box;
        ZipBuilder zip;
        for (int i = 0; i < 5; ++i) {
            testzip::Entry& e = zip.Add(EntryName(i), EntryData(i), 8);
            if (i == 1 || i == 3) restoretest::Corrupt(e);
        }
        box.WriteArchive(zip);
        RunOptions options;
        options.producers = producers;
        Failures observer;
        RestoreFailure failure;
        EXPECT_EQ(RestoreArchiveWithOptions(box.Dest(), box.Archive(), &observer, &failure, options),
                  RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.entryIndex, 1);
        EXPECT_TRUE(observer.failed.empty());
        EXPECT_EQ(observer.done, std::vector<std::int32_t>{0});
        EXPECT_FALSE(fs::exists(box.DestPath(EntryName(2))));
    }
}

}  // namespace
