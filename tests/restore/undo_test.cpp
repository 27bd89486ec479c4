// What a run takes back when it ends early is exactly what it made: files
// and folders it created, known by identity, and nothing another program
// put at one of their names meanwhile. A failed entry leaves nothing of
// itself whatever the file's mode; a refusal by the user's rights is told
// from a busy file and reported at once; and whatever a run killed outright
// left behind, restoring the same archive again repairs.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "folder_gifts.h"
#include "links.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Corrupt;
using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;
namespace fs = std::filesystem;

// Another program's file at `path`, as a sync client or an editor saves
// one: written beside it and moved into place, so that it is another file
// than whatever stood there, never the same one rewritten.
void SaveAsAnotherProgram(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    const fs::path saved = path.parent_path() / "saved-by-another-program";
    ASSERT_TRUE(testsupport::WriteFileBytes(saved, testzip::ToBytes(content)));
    fs::rename(saved, path);
}

struct UndoCase {
    const char* fault;
    bool stopDuringFirst;  // the user stops the run while the first entry is written
    bool firstFails;       // the first entry's data is damaged
    bool laterFillFails;   // the later entry's own fill fails (its filler removes its file)
    EntryFailure reason;
};

// The stop, the failing fill, and the other program's file just before the
// undo.
class Seams : public FillFaults {
public:
    Seams(const UndoCase& c, StopRequest& stop, fs::path later) : c_(c), stop_(stop), later_(std::move(later)) {}
    bool WorkerWriteFails(std::int32_t index) const override {
        if (index == 0 && c_.stopDuringFirst) stop_.Request();
        return index == 1 && c_.laterFillFails;
    }
    void BeforeUndo() const override {
        if (saved_) return;
        saved_ = true;
        SaveAsAnotherProgram(later_, "OTHER");
    }

private:
    const UndoCase& c_;
    StopRequest& stop_;
    fs::path later_;
    mutable bool saved_ = false;
};

TEST(Undo, RemovesOnlyWhatTheRunMade) {
    const UndoCase cases[] = {
        {"a file saved by another program deleted by the undo after a stop", true, false, false,
         EntryFailure::kInterrupted},
        {"a file saved by another program deleted by the undo after a failure", false, true, false,
         EntryFailure::kExtractFailed},
        {"a failed fill's name removed again by the undo", false, true, true, EntryFailure::kExtractFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        ZipBuilder zip;
        testzip::Entry& first = zip.Add("big.bin", Text(20 << 20, 7), 8);
        if (c.firstFails) Corrupt(first);
        zip.Add("docs/small.txt", "SMALL", 8);
        box.WriteArchive(zip);
        StopRequest stop;
        const Seams seams(c, stop, box.DestPath("docs/small.txt"));
        RunOptions options;
        options.producers = 2;
        options.stop = &stop;
        options.faults = &seams;
        RestoreFailure failure;
        const int code = RestoreArchiveWithOptions(box.Dest(), box.Archive(), nullptr, &failure, options);
        EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.entryIndex, 0);
        EXPECT_EQ(failure.reason, c.reason);
        EXPECT_EQ(Tree(box.DestPath()), (std::vector<std::string>{"docs/", "docs/small.txt"}));
        EXPECT_EQ(box.Read("docs/small.txt"), "OTHER");
    }
}

struct ModeCase {
    const char* fault;
    bool replacing;  // an old file stands at the failing entry's path
};

TEST(FailedEntry, LeavesNothingWhateverTheUmask) {
    const ModeCase cases[] = {
        {"a failed new file left behind, read-only", false},
        {"a failed replacement's temporary file left behind, read-only", true},
    };
    unsigned previous = 0;
    RESTORETEST_SET_UP(restoretest::SetUmask(0222, previous));
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            if (c.replacing) box.Put("bad.bin", "OLD");
            ZipBuilder zip;
            zip.Add("good.txt", "GOOD");
            Corrupt(zip.Add("bad.bin", Text(3 << 20, 3), 8));
            box.WriteArchive(zip);
            RestoreFailure failure;
            const int code = RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers);
            EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
            EXPECT_EQ(failure.extractFailure, ExtractFailure::kCrcMismatch);
            const std::vector<std::string> expected =
                c.replacing ? std::vector<std::string>{"bad.bin", "good.txt"} : std::vector<std::string>{"good.txt"};
            EXPECT_EQ(Tree(box.DestPath()), expected);
            if (c.replacing) {
                EXPECT_EQ(box.Read("bad.bin"), "OLD");
            }
        }
    }
    restoretest::SetUmask(previous, previous);
}

struct DeniedCase {
    const char* fault;
    bool folderEntry;  // the entry is a folder of the file's name
};

TEST(AccessDenied, IsReportedAtOnceAndChangesNothing) {
    const DeniedCase cases[] = {
        {"a file the user may not replace waited for as if in use, or misnamed", false},
        {"a file the user may not remove waited for as if in use, or misnamed", true},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            box.Put("x.txt", "OLD");
            RESTORETEST_SET_UP(restoretest::MakeUnchangeable(box.DestPath("x.txt")));
            ZipBuilder zip;
            zip.Add("first.txt", "1");
            if (c.folderEntry) {
                zip.AddFolder("x.txt");
            } else {
                zip.Add("x.txt", Text(300000, 4), 8);
            }
            box.WriteArchive(zip);
            const auto start = std::chrono::steady_clock::now();
            RestoreFailure failure;
            const int code = RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers);
            const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            restoretest::MakeChangeable(box.DestPath("x.txt"));
            EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
            EXPECT_EQ(failure.entryIndex, 1);
            EXPECT_EQ(failure.reason, EntryFailure::kAccessDenied);
            EXPECT_LT(seconds, platform::kBusyWaitMs / 1000.0) << "the refusal was waited for";
            EXPECT_EQ(Tree(box.DestPath()), (std::vector<std::string>{"first.txt", "x.txt"}));
            EXPECT_EQ(box.Read("x.txt"), "OLD");
        }
    }
}

TEST(FullDisk, IsNamedAndLeavesNothing) {
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(producers ? "a full disk named a failed write, with workers" : "a full disk named a failed write, serial");
        Sandbox box;
        restoretest::SmallVolume volume;  // unmounted before the sandbox goes
        RESTORETEST_SET_UP(volume.Mount(box.DestPath(), 2 << 20));
        ZipBuilder zip;
        zip.Add("a.txt", "A");
        zip.Add("big.bin", Text(4 << 20, 8), 8);
        box.WriteArchive(zip);
        RestoreFailure failure;
        EXPECT_EQ(RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers),
                  RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.entryIndex, 1);
        EXPECT_EQ(failure.reason, EntryFailure::kExtractFailed);
        EXPECT_EQ(failure.extractFailure, ExtractFailure::kDiskFull);
        EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>{"a.txt"});
    }
}

// A run killed outright (no stop, no undo) can leave the file it was writing
// cut short under its entry's name, and the entries after it missing.
TEST(KilledRun, RestoringAgainRepairsIt) {
    ZipBuilder zip;
    zip.Add("a.txt", "A");
    zip.Add("d/b.txt", Text(200000, 5), 8);
    zip.AddFolder("d/e/");
    zip.Add("d/c.txt", Text(3 << 20, 6), 8);
    for (const int producers : {0, 2}) {
        SCOPED_TRACE(producers ? "with workers" : "serial");
        Sandbox box;
        box.Put("a.txt", "A");
        box.Put("d/b.txt", Text(200000, 5).substr(0, 70000));
        box.WriteArchive(zip);
        RestoreFailure failure;
        ASSERT_EQ(RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers), RESTORE_OK);
        EXPECT_EQ(Tree(box.DestPath()), (std::vector<std::string>{"a.txt", "d/", "d/b.txt", "d/c.txt", "d/e/"}));
        EXPECT_EQ(box.Read("d/b.txt"), Text(200000, 5));
        EXPECT_EQ(box.Read("d/c.txt"), Text(3 << 20, 6));
    }
}

}  // namespace
