// The run with worker threads must be observably the serial run: the same
// code, the same first failing entry in catalogue order (even when a later
// entry fails sooner on another thread), the same tree, contents and times,
// the same things each file got from the folder it lives in, and nothing of
// any later entry after a failure: not when the archive is damaged, not
// when a worker's write fails where the serial run's would not (a full
// disk, a refused write), not on a volume with only the serial run's room.
// The worker count is chosen here, so the parallel path runs on a one-core
// machine too. One test per row, so that a row this system can't set up is
// reported as skipped by its name.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "folder_gifts.h"
#include "links.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Corrupt;
using restoretest::Sandbox;
using restoretest::SetUp;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

// "before" + i + "after", built in steps (GCC 12 warns wrongly about the
// one-expression form).
std::string Numbered(const char* before, int i, const char* after) {
    std::string s(before);
    s += std::to_string(i);
    s += after;
    return s;
}

constexpr std::uint64_t kMiB = 1 << 20;

// What a row finds before its run: the sandbox, and a volume it may mount.
struct Stage {
    const Sandbox& box;
    restoretest::SmallVolume& volume;
};

struct OrderCase {
    const char* name;   // the test's name
    const char* fault;  // what a failure of this row means
    std::function<void(ZipBuilder&, const Sandbox&)> archive;
    std::vector<std::string> putBefore = {};  // files below the destination before the run ("OLD")
    // Whatever else stands there before the run.
    std::function<SetUp(const Stage&)> prepare = nullptr;
    std::uint64_t fileSizeLimit = 0;  // writes past this many bytes of a file fail, as on a full disk
    // Entries whose data a worker thread fails to write (a full disk, a
    // refused write): the run must meet them again as the serial run does.
    std::vector<std::int32_t> workerWriteFails = {};
    bool everyWorkerWriteFails = false;
    // The serial run's own result: -1 restores every entry, else the entry
    // it fails at and why.
    std::int32_t failsAt = -1;
    EntryFailure reason = EntryFailure::kNone;
};

class FailingWorkerWrites : public FillFaults {
public:
    explicit FailingWorkerWrites(const OrderCase& c) : c_(c) {}
    bool WorkerWriteFails(std::int32_t index) const override {
        return c_.everyWorkerWriteFails ||
               std::find(c_.workerWriteFails.begin(), c_.workerWriteFails.end(), index) != c_.workerWriteFails.end();
    }
    bool WriteBehindEveryLargeFill() const override { return true; }

private:
    const OrderCase& c_;
};

// Folder names below the destination that make the folder, separator
// included, exactly `units` long: temporary names there once had room for
// one character only. Always two levels, each of two units at least, so
// that runs in sandboxes of other lengths compare (see Normalized).
std::string FolderOfLength(const Sandbox& box, std::size_t units) {
    const std::size_t left = units - box.Dest().size() - 1;  // both levels and the separator between
    const std::size_t first = (left - 1) / 2;
    return std::string(first, 'F') + "/" + std::string(left - 1 - first, 'F');
}

const OrderCase kOrderCases[] = {
    {"QuickerLaterFailure", "a later entry's quicker failure reported instead of the first in order",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("one.txt", "1");
         Corrupt(zip.Add("big.txt", Text(6 << 20, 1), 8));
         for (int i = 0; i < 6; ++i) Corrupt(zip.Add(Numbered("small", i, ".txt"), Text(100, i), 8));
         zip.Add("later/x.txt", "X");
     },
     {"small0.txt", "later/x.txt"}, nullptr, 0, {}, false, 1, EntryFailure::kExtractFailed},
    {"FailureAtTheFirstEntry", "a failure at the first entry",
     [](ZipBuilder& zip, const Sandbox&) {
         Corrupt(zip.Add("first.txt", Text(5000, 2), 8));
         for (int i = 0; i < 5; ++i) zip.Add(Numbered("d", i, "/f.txt"), Text(3000, i), 8);
     },
     {"d3/f.txt"}, nullptr, 0, {}, false, 0, EntryFailure::kExtractFailed},
    {"FailureAtTheLastEntry", "a failure at the last entry",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.AddFolder("docs/");
         for (int i = 0; i < 5; ++i) zip.Add(Numbered("docs/f", i, ".txt"), Text(3000, i), 8);
         Corrupt(zip.Add("last.txt", Text(5000, 3), 8));
     },
     {"last.txt"}, nullptr, 0, {}, false, 6, EntryFailure::kExtractFailed},
    {"UnsafeNameMidArchive", "an unsafe name mid-archive",
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 3; ++i) zip.Add(Numbered("a", i, ".txt"), Text(20000, i), 8);
         zip.Add("../evil.txt", "EVIL");
         for (int i = 0; i < 3; ++i) zip.Add(Numbered("b/", i, ".txt"), Text(20000, i), 8);
     },
     {"b/1.txt"}, nullptr, 0, {}, false, 3, EntryFailure::kUnsafeName},
    {"CleanArchive", "a clean archive of folders and files",
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 80; ++i) {
             auto& e = zip.Add(Numbered("t", i % 7, "/") + Numbered("f", i, ".txt"), Text(i * 97, i), 8);
             e.dosTime = static_cast<std::uint16_t>(0x6000 + (i % 30) * 0x21);
         }
         zip.AddFolder("t3/");
         zip.Add("empty.txt", "");
     },
     {"t2/f2.txt"}},
    // The write of big.bin fails on another thread while the run goes on
    // creating the files and folders of the entries after it.
    {"WriteFailingAfterLaterEntries", "a write failing after later entries were created",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("a.txt", Text(3000, 1), 8);
         zip.Add("big.bin", Text(300000, 2), 8);
         for (int i = 0; i < 40; ++i) zip.Add(Numbered("later", i % 4, "/") + Numbered("f", i, ".txt"), Text(2000, i), 8);
         zip.Add("old/z.txt", "NEW");
     },
     {"old/z.txt"}, nullptr, 100000, {}, false, 1, EntryFailure::kExtractFailed},
    // The same for an entry large enough to be written by a thread of its
    // own while a worker inflates it: that thread's last write fails, after
    // the entry's data has all been read and checked.
    {"WriteBehindFailing", "a failed write on a large file's writer thread lost or reported as success",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("a.txt", Text(3000, 1), 8);
         zip.Add("huge.bin", Text(20 * kMiB, 2), 8);
         for (int i = 0; i < 10; ++i) zip.Add(Numbered("later/f", i, ".txt"), Text(2000, i), 8);
     },
     {"later/f3.txt"}, nullptr, 20 * kMiB - 4096, {}, false, 1, EntryFailure::kExtractFailed},
    // Its writer thread takes the CRC-32 of what it writes.
    {"WriteBehindWrongCrc", "a wrong CRC-32 missed where a large file's writer thread takes it",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("a.txt", Text(3000, 1), 8);
         auto& huge = zip.Add("huge.bin", Text(20 * kMiB, 4), 8);
         huge.localOverride.crc32 = huge.centralOverride.crc32 = 0x0BADC0DE;
         for (int i = 0; i < 10; ++i) zip.Add(Numbered("later/f", i, ".txt"), Text(2000, i), 8);
     },
     {"later/f3.txt"}, nullptr, 0, {}, false, 1, EntryFailure::kExtractFailed},
    {"ReplacedWhileAWriteMayFail", "a file replaced while an earlier write may still fail",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("big.bin", Text(300000, 3), 8);
         zip.Add("old/z.txt", "NEW");
         zip.Add("after.txt", "A");
     },
     {"old/z.txt"}, nullptr, 100000, {}, false, 0, EntryFailure::kExtractFailed},
    {"OneCharacterNamesInADeepFolder", "a temporary file taken for an entry in a folder 258 units long",
     [](ZipBuilder& zip, const Sandbox& box) {
         const std::string deep = FolderOfLength(box, 258) + "/";
         zip.Add(deep + "_", "first");
         for (int i = 0; i < 300; ++i) zip.Add(Numbered("m/f", i, ".txt"), Text(80, i), 8);
         for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789")) zip.Add(deep + c, Text(80, c), 8);
         for (char c : std::string("-+=@!")) zip.Add(deep + c, Text(kMiB + 5000 * c, c), 8);
     }},
    // A file made elsewhere and moved in keeps what that folder gave it.
    {"WhatTheFolderGives", "a file given what another folder gives its files",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("top.bin", Text(2 * kMiB, 1), 8);
         zip.Add("sub/small.txt", Text(500, 2), 8);
         for (int i = 0; i < 4; ++i) zip.Add(Numbered("sub/big", i, ".bin"), Text(2 * kMiB, 3 + i), 8);
         zip.Add("sub/new/deeper.bin", Text(2 * kMiB, 9), 8);
         zip.Add("sub/old.txt", Text(3 * kMiB, 10), 8);
     },
     {},
     [](const Stage& stage) {
         stage.box.Put("sub/old.txt", "OLD");
         return restoretest::GiveFolderInheritance(stage.box.DestPath("sub"));
     }},
    {"WorkerWriteOfALargeEntryFails", "a worker's failed write of a large entry reported as the entry's",
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("a.txt", Text(3000, 1), 8);
         zip.Add("big.bin", Text(20 * kMiB, 2), 8);
         for (int i = 0; i < 30; ++i) zip.Add(Numbered("b/", i, ".txt"), Text(2000, i), 8);
         zip.Add("b/old.txt", "NEW");
         zip.AddFolder("c/");
     },
     {"b/old.txt"}, nullptr, 0, {1}},
    {"WorkerWritesOfSmallEntriesFail", "a worker's failed write of a small entry among many reported as the entry's",
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 200; ++i) zip.Add(Numbered("m/", i % 9, "/") + Numbered("f", i, ".txt"), Text(900, i), 8);
     },
     {}, nullptr, 0, {5, 150}},
    {"EveryWorkerWriteFails", "every worker write failing ends the run",
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 50; ++i) zip.Add(Numbered("x/", i, ".bin"), Text(20000 + 97 * i, i), 8);
         zip.Add("x/keep.txt", "NEW");
     },
     {"x/keep.txt"}, nullptr, 0, {}, true},
    {"WorkerWriteFailsBeforeADamagedEntry", "a failed worker write taken for the first failure before a damaged entry",
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 20; ++i) zip.Add(Numbered("f", i, ".txt"), Text(5000, i), 8);
         Corrupt(zip.Add("damaged.txt", Text(7000, 3), 8));
         zip.Add("z.txt", "NEW");
     },
     {"z.txt"}, nullptr, 0, {4}, false, 20, EntryFailure::kExtractFailed},
    // Ten 4 MiB files replaced on a volume with room for one more: the
    // serial run replaces one at a time and fits.
    {"OnlyTheSerialRunsRoom", "data produced ahead taking the room the serial run needs",
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 10; ++i) zip.Add(Numbered("tree/f0", i, ".bin"), Text(4 * kMiB, i), 8);
     },
     {},
     [](const Stage& stage) {
         const SetUp mounted = stage.volume.Mount(stage.box.DestPath(), 46 * kMiB);
         if (!mounted) return mounted;
         for (int i = 0; i < 10; ++i) stage.box.Put(Numbered("tree/f0", i, ".bin"), std::string(4 * kMiB, 'o'));
         return SetUp{};
     }},
};

// Sandboxes differ in the length of their path, and so does the folder
// name that makes a folder exactly so long: its long runs of F are written
// as "F*" so that two runs compare (no other name has two F in a row).
std::string Normalized(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t run = 0;
        while (i + run < name.size() && name[i + run] == 'F') ++run;
        if (run > 1) {
            out += "F*";
            i += run;
        } else {
            out += name[i++];
        }
    }
    return out;
}

// Short contents as they are, long ones by size and CRC (a failure then
// prints a line, not megabytes).
std::string Digest(const std::string& content) {
    if (content.size() <= 64) return content;
    return std::to_string(content.size()) + " bytes, crc " + std::to_string(testzip::Crc32(testzip::ToBytes(content)));
}

struct Outcome {
    int code = 0;
    RestoreFailure failure;
    std::vector<std::string> tree;                     // the whole sandbox
    std::map<std::string, std::string> contents;       // files below the destination
    std::map<std::string, fs::file_time_type> times;   // their last-write times, if restored
    std::map<std::string, std::string> inherited;      // what files and folders got from their folder
};

class SameAsSerial : public ::testing::TestWithParam<OrderCase> {
protected:
    // One run of the row with `producers` workers, or what its set-up could
    // not do.
    restoretest::SetUp RunWith(int producers, Outcome& o) {
        const OrderCase& c = GetParam();
        Sandbox box;
        restoretest::SmallVolume volume;  // unmounted before the sandbox goes
        if (c.prepare) {
            const restoretest::SetUp prepared = c.prepare(Stage{box, volume});
            if (!prepared) return prepared;
        }
        for (const auto& path : c.putBefore) box.Put(path, "OLD");
        ZipBuilder zip;
        c.archive(zip, box);
        box.WriteArchive(zip);
        if (c.fileSizeLimit != 0) {
            const restoretest::SetUp limited = restoretest::LimitFileSize(c.fileSizeLimit);
            if (!limited) return limited;
        }
        const FailingWorkerWrites faults(c);
        RunOptions options;
        options.producers = producers;
        options.faults = &faults;
        o.code = RestoreArchiveWithOptions(box.Dest(), box.Archive(), nullptr, &o.failure, options);
        if (c.fileSizeLimit != 0) restoretest::LimitFileSize(0);
        for (const auto& name : Tree(box.root.path())) o.tree.push_back(Normalized(name));
        for (const auto& name : Tree(box.DestPath())) {
            const std::string key = Normalized(name);
            o.inherited[key] = restoretest::InheritedBy(box.DestPath(name));
            if (name.back() == '/') continue;
            o.contents[key] = Digest(box.Read(name));
            // The files put there beforehand carry the moment they were made.
            if (std::find(c.putBefore.begin(), c.putBefore.end(), name) == c.putBefore.end())
                o.times[key] = fs::last_write_time(box.DestPath(name));
        }
        return {};
    }
};

TEST_P(SameAsSerial, ObservablyTheSerialRun) {
    const OrderCase& c = GetParam();
    SCOPED_TRACE(c.fault);
    Outcome serial;
    RESTORETEST_SET_UP(RunWith(0, serial));
    // The serial reference itself: restored whole, or stopped at the first
    // failure in order with the old files at later entries' paths intact.
    if (c.failsAt < 0) {
        EXPECT_EQ(serial.code, RESTORE_OK);
    } else {
        EXPECT_EQ(serial.code, RESTORE_ENTRY_FAILED);
        EXPECT_EQ(serial.failure.entryIndex, c.failsAt);
        EXPECT_EQ(serial.failure.reason, c.reason);
        for (const auto& path : c.putBefore) EXPECT_EQ(serial.contents.at(path), "OLD") << path;
    }
    for (const std::string& name : serial.tree)
        EXPECT_EQ(name.find('~'), std::string::npos) << "a temporary file was left: " << name;
    for (const int producers : {1, 2, 3}) {
        SCOPED_TRACE(Numbered("", producers, " producers"));
        Outcome parallel;
        RESTORETEST_SET_UP(RunWith(producers, parallel));
        EXPECT_EQ(parallel.code, serial.code);
        EXPECT_EQ(parallel.failure.entryIndex, serial.failure.entryIndex);
        EXPECT_EQ(parallel.failure.reason, serial.failure.reason);
        EXPECT_EQ(parallel.failure.extractFailure, serial.failure.extractFailure);
        EXPECT_EQ(parallel.tree, serial.tree);
        EXPECT_EQ(parallel.contents, serial.contents);
        EXPECT_EQ(parallel.times, serial.times);
        EXPECT_EQ(parallel.inherited, serial.inherited);
    }
}

INSTANTIATE_TEST_SUITE_P(ParallelRun, SameAsSerial, ::testing::ValuesIn(kOrderCases),
                         [](const ::testing::TestParamInfo<OrderCase>& row) { return std::string(row.param.name); });

}  // namespace
