// The run with producer threads ahead of it must be observably the serial
// run: the same tree, contents and times, the same code, the same first
// failing entry in catalogue order even when a later entry fails sooner on
// another thread, and nothing of any later entry (no file, folder or
// temporary file) after a failure. The worker count is chosen here, so the
// parallel path runs on a one-core machine too.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "restore/restore_internal.h"
#include "folder_gifts.h"
#include "links.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Corrupt;
using restoretest::Sandbox;
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


// What a case finds before its run: the sandbox, and a volume it may mount.
struct Stage {
    const Sandbox& box;
    restoretest::SmallVolume& volume;
};

struct OrderCase {
    const char* fault;
    std::function<void(ZipBuilder&)> archive;
    std::vector<std::string> putBefore;  // files below the destination before the run ("OLD")
    std::uint64_t fileSizeLimit = 0;     // writes past this many bytes of a file fail, as on a full disk
    // Whatever else stands there before the run; false, with the reason,
    // where this platform can't set it up.
    std::function<bool(const Stage&, std::string& why)> prepare = nullptr;
    // An archive that depends on where the destination lies.
    std::function<void(ZipBuilder&, const Sandbox&)> archiveFor = nullptr;
    bool restores = false;  // the serial run restores every entry
    // Entries whose data a worker thread fails to write (a full disk, a
    // refused write): the run must meet them again as the serial run does.
    std::vector<std::int32_t> workerWriteFails = {};
    bool everyWorkerWriteFails = false;
};

class FailingWorkerWrites : public FillFaults {
public:
    explicit FailingWorkerWrites(const OrderCase& c) : c_(c) {}
    bool WorkerWriteFails(std::int32_t index) const override {
        return c_.everyWorkerWriteFails ||
               std::find(c_.workerWriteFails.begin(), c_.workerWriteFails.end(), index) != c_.workerWriteFails.end();
    }

private:
    const OrderCase& c_;
};

// Folder names below the destination that make the folder, separator
// included, exactly `units` long: temporary names there have room for one
// character only.
std::string FolderOfLength(const Sandbox& box, std::size_t units) {
    std::size_t left = units - box.Dest().size() - 1;
    std::string folder;
    while (left > 0) {
        const std::size_t part = std::min<std::size_t>(left, 200);
        if (!folder.empty()) folder += '/';
        folder += std::string(part, 'F');
        left -= part;
        if (left > 0) --left;  // the separator
    }
    return folder;
}

constexpr std::uint64_t kMiB = 1 << 20;

const OrderCase kOrderCases[] = {
    {"a later entry's quicker failure reported instead of the first in order",
     [](ZipBuilder& zip) {
         zip.Add("one.txt", "1");
         Corrupt(zip.Add("big.txt", Text(6 << 20, 1), 8));
         for (int i = 0; i < 6; ++i) Corrupt(zip.Add(Numbered("small", i, ".txt"), Text(100, i), 8));
         zip.Add("later/x.txt", "X");
     },
     {"small0.txt", "later/x.txt"}},
    {"a failure at the first entry", [](ZipBuilder& zip) {
         Corrupt(zip.Add("first.txt", Text(5000, 2), 8));
         for (int i = 0; i < 5; ++i) zip.Add(Numbered("d", i, "/f.txt"), Text(3000, i), 8);
     },
     {"d3/f.txt"}},
    {"a failure at the last entry", [](ZipBuilder& zip) {
         zip.AddFolder("docs/");
         for (int i = 0; i < 5; ++i) zip.Add(Numbered("docs/f", i, ".txt"), Text(3000, i), 8);
         Corrupt(zip.Add("last.txt", Text(5000, 3), 8));
     },
     {"last.txt"}},
    {"an unsafe name mid-archive", [](ZipBuilder& zip) {
         for (int i = 0; i < 3; ++i) zip.Add(Numbered("a", i, ".txt"), Text(20000, i), 8);
         zip.Add("../evil.txt", "EVIL");
         for (int i = 0; i < 3; ++i) zip.Add(Numbered("b/", i, ".txt"), Text(20000, i), 8);
     },
     {"b/1.txt"}},
    {"a clean archive of folders and files", [](ZipBuilder& zip) {
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
    {"a write failing after later entries were created", [](ZipBuilder& zip) {
         zip.Add("a.txt", Text(3000, 1), 8);
         zip.Add("big.bin", Text(300000, 2), 8);
         for (int i = 0; i < 40; ++i) zip.Add(Numbered("later", i % 4, "/") + Numbered("f", i, ".txt"), Text(2000, i), 8);
         zip.Add("old/z.txt", "NEW");
     },
     {"old/z.txt"}, 100000},
    {"a file replaced while an earlier write may still fail", [](ZipBuilder& zip) {
         zip.Add("big.bin", Text(300000, 3), 8);
         zip.Add("old/z.txt", "NEW");
         zip.Add("after.txt", "A");
     },
     {"old/z.txt"}, 100000},
    // One-character names are all a temporary file gets in a folder 258
    // units long: the same name space as the entries there.
    {"a temporary file taken for an entry in a folder 258 units long", nullptr, {}, 0, nullptr,
     [](ZipBuilder& zip, const Sandbox& box) {
         const std::string deep = FolderOfLength(box, 258) + "/";
         zip.Add(deep + "_", "first");
         for (int i = 0; i < 300; ++i) zip.Add(Numbered("m/f", i, ".txt"), Text(80, i), 8);
         for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789")) zip.Add(deep + c, Text(80, c), 8);
         for (char c : std::string("-+=@!")) zip.Add(deep + c, Text(kMiB + 5000 * c, c), 8);
     },
     true},
    // Large entries made in an ancestor and moved in keep what that folder
    // gave them instead of what their own folder gives.
    {"a file given what another folder gives its files", nullptr, {}, 0,
     [](const Stage& stage, std::string& why) {
         stage.box.Put("sub/old.txt", "OLD");
         return restoretest::GiveFolderInheritance(stage.box.DestPath("sub"), why);
     },
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("top.bin", Text(2 * kMiB, 1), 8);
         zip.Add("sub/small.txt", Text(500, 2), 8);
         for (int i = 0; i < 4; ++i) zip.Add(Numbered("sub/big", i, ".bin"), Text(2 * kMiB, 3 + i), 8);
         zip.Add("sub/new/deeper.bin", Text(2 * kMiB, 9), 8);
         zip.Add("sub/old.txt", Text(3 * kMiB, 10), 8);
     },
     true},
    {"a worker's failed write of a large entry reported as the entry's", nullptr, {"b/old.txt"}, 0, nullptr,
     [](ZipBuilder& zip, const Sandbox&) {
         zip.Add("a.txt", Text(3000, 1), 8);
         zip.Add("big.bin", Text(2 * kMiB, 2), 8);
         for (int i = 0; i < 30; ++i) zip.Add(Numbered("b/", i, ".txt"), Text(2000, i), 8);
         zip.Add("b/old.txt", "NEW");
         zip.AddFolder("c/");
     },
     true, {1}},
    {"a worker's failed write of a small entry among many reported as the entry's", nullptr, {}, 0, nullptr,
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 200; ++i) zip.Add(Numbered("m/", i % 9, "/") + Numbered("f", i, ".txt"), Text(900, i), 8);
     },
     true, {5, 150}},
    {"every worker write failing ends the run", nullptr, {"x/keep.txt"}, 0, nullptr,
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 50; ++i) zip.Add(Numbered("x/", i, ".bin"), Text(20000 + 97 * i, i), 8);
         zip.Add("x/keep.txt", "NEW");
     },
     true, {}, true},
    {"a failed worker write taken for the first failure before a damaged entry", nullptr, {"z.txt"}, 0, nullptr,
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 20; ++i) zip.Add(Numbered("f", i, ".txt"), Text(5000, i), 8);
         Corrupt(zip.Add("damaged.txt", Text(7000, 3), 8));
         zip.Add("z.txt", "NEW");
     },
     false, {4}},
    // Ten 4 MiB files replaced on a volume with room for one more: the
    // serial run replaces one at a time and fits.
    {"data produced ahead taking the room the serial run needs", nullptr, {}, 0,
     [](const Stage& stage, std::string& why) {
         if (!stage.volume.Mount(stage.box.DestPath(), 46 * kMiB, why)) return false;
         for (int i = 0; i < 10; ++i) stage.box.Put(Numbered("tree/f0", i, ".bin"), std::string(4 * kMiB, 'o'));
         return true;
     },
     [](ZipBuilder& zip, const Sandbox&) {
         for (int i = 0; i < 10; ++i) zip.Add(Numbered("tree/f0", i, ".bin"), Text(4 * kMiB, i), 8);
     },
     true},
};

struct Outcome {
    bool ran = true;  // false where the case can't be set up here; `skipped` says why
    std::string skipped;
    int code = 0;
    RestoreFailure failure;
    std::vector<std::string> tree;                     // the whole sandbox
    std::map<std::string, std::string> contents;       // files below the destination
    std::map<std::string, fs::file_time_type> times;   // their last-write times, if restored
    std::map<std::string, std::string> inherited;      // what files and folders got from their folder
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

Outcome RunWith(const OrderCase& c, int producers) {
    Sandbox box;
    restoretest::SmallVolume volume;  // unmounted before the sandbox goes
    Outcome o;
    if (c.prepare && !c.prepare(Stage{box, volume}, o.skipped)) {
        o.ran = false;
        return o;
    }
    for (const auto& path : c.putBefore) box.Put(path, "OLD");
    ZipBuilder zip;
    if (c.archive) c.archive(zip);
    if (c.archiveFor) c.archiveFor(zip, box);
    box.WriteArchive(zip);
    if (c.fileSizeLimit != 0 && !restoretest::LimitFileSize(c.fileSizeLimit)) {
        o.ran = false;
        o.skipped = "no file size limit can be set here";
        return o;
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
    return o;
}

TEST(ParallelRun, IsObservablyTheSerialRun) {
    for (const auto& c : kOrderCases) {
        const Outcome serial = RunWith(c, 0);
        if (!serial.ran) {
            std::cout << "[  SKIPPED ] " << c.fault << ": " << serial.skipped << "\n";
            continue;
        }
        if (c.restores) {
            EXPECT_EQ(serial.code, RESTORE_OK) << c.fault;
        }
        for (const std::string& name : serial.tree) {
            EXPECT_EQ(name.find('~'), std::string::npos) << c.fault << ": a temporary file was left: " << name;
        }
        for (const int producers : {1, 2, 3}) {
            SCOPED_TRACE(Numbered((std::string(c.fault) + ", ").c_str(), producers, " producers"));
            const Outcome parallel = RunWith(c, producers);
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
}

// The serial reference itself: the first failure in order is reported and
// the files at later entries' paths keep their old content.
TEST(ParallelRun, StopsAtTheFirstFailureInCatalogueOrder) {
    const struct {
        std::size_t caseIndex;
        std::int32_t entryIndex;
        EntryFailure reason;
    } expected[] = {{0, 1, EntryFailure::kExtractFailed},
                    {1, 0, EntryFailure::kExtractFailed},
                    {2, 6, EntryFailure::kExtractFailed},
                    {3, 3, EntryFailure::kUnsafeName},
                    {5, 1, EntryFailure::kExtractFailed},
                    {6, 0, EntryFailure::kExtractFailed},
                    {12, 20, EntryFailure::kExtractFailed}};
    for (const auto& e : expected) {
        const OrderCase& c = kOrderCases[e.caseIndex];
        SCOPED_TRACE(c.fault);
        const Outcome o = RunWith(c, 2);
        if (!o.ran) continue;
        EXPECT_EQ(o.code, RESTORE_ENTRY_FAILED);
        EXPECT_EQ(o.failure.entryIndex, e.entryIndex);
        EXPECT_EQ(o.failure.reason, e.reason);
        for (const auto& path : c.putBefore) EXPECT_EQ(o.contents.at(path), "OLD") << path;
    }
}

}  // namespace
