// The restore run: its result codes, what it makes before the archive is
// opened, the two notifications to its owner, and the current folder.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Tree;
using testzip::ZipBuilder;

std::u16string CurrentFolder() {
    std::u16string folder;
    platform::GetCurrentFolder(folder);
    return folder;
}

struct RunCase {
    const char* fault;
    // Prepares the sandbox and gives the destination and archive to use.
    std::function<void(const Sandbox&, std::u16string& dest, std::u16string& archive)> prepare;
    int code;
    std::function<void(const Sandbox&)> check;
};

ZipBuilder FourEntriesThirdBroken() {
    ZipBuilder zip;
    zip.Add("one.txt", "1");
    zip.Add("two/two.txt", "2", 8);
    auto& bad = zip.Add("three.txt", std::string(5000, '3'), 8);
    bad.localOverride.crc32 = bad.centralOverride.crc32 = 0x12345678;
    zip.Add("four.txt", "4");
    return zip;
}

TEST(RestoreRun, ResultCodes) {
    const RunCase cases[] = {
        {"a missing archive creating the destination",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             dest = box.root.U16("new") + platform::kPathSeparator;
             archive = box.root.U16("missing.zip");
         },
         RESTORE_NO_ARCHIVE, [](const Sandbox& box) { EXPECT_TRUE(Tree(box.root.path()).empty()); }},
        {"a missing destination chain not made outermost first",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             ZipBuilder zip;
             zip.Add("x.txt", "X");
             box.WriteArchive(zip);
             dest = box.root.U16("a/b/c") + platform::kPathSeparator;
             archive = box.Archive();
         },
         RESTORE_OK,
         [](const Sandbox& box) {
             EXPECT_EQ(Tree(box.root.path()), std::vector<std::string>({"a/", "a/b/", "a/b/c/", "a/b/c/x.txt",
                                                                         "archive.zip"}));
         }},
        {"a destination level blocked by a file not reported",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             ZipBuilder zip;
             zip.Add("x.txt", "X");
             box.WriteArchive(zip);
             testsupport::WriteFileBytes(box.root / "file", testzip::ToBytes("F"));
             dest = box.root.U16("file/sub") + platform::kPathSeparator;
             archive = box.Archive();
         },
         RESTORE_NO_ARCHIVE,
         [](const Sandbox& box) { EXPECT_EQ(Tree(box.root.path()), std::vector<std::string>({"archive.zip", "file"})); }},
        {"a file that is not an archive",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             box.WriteArchive(testzip::ToBytes(std::string(3000, 'n')));
             dest = box.Dest();
             archive = box.Archive();
         },
         RESTORE_OPEN_FAILED, [](const Sandbox& box) { EXPECT_TRUE(Tree(box.DestPath()).empty()); }},
        {"an archive with no entries",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             box.WriteArchive(ZipBuilder{});
             dest = box.Dest();
             archive = box.Archive();
         },
         RESTORE_OK, [](const Sandbox& box) { EXPECT_TRUE(Tree(box.DestPath()).empty()); }},
        {"a run not stopping at its first failing entry",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             box.WriteArchive(FourEntriesThirdBroken());
             dest = box.Dest();
             archive = box.Archive();
         },
         RESTORE_ENTRY_FAILED,
         [](const Sandbox& box) {
             EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>({"one.txt", "two/", "two/two.txt"}));
         }},
        {"an entry record that can't be fetched restored from the previous record",
         [](const Sandbox& box, std::u16string& dest, std::u16string& archive) {
             ZipBuilder zip;
             zip.Add("one.txt", "1");
             zip.Add("two.txt", "2");
             testzip::ZipLayout layout;
             testzip::Bytes bytes = zip.Build(&layout);
             testzip::FlipByte(bytes, layout.localHeader[1]);  // local signature of entry 1
             box.WriteArchive(bytes);
             dest = box.Dest();
             archive = box.Archive();
         },
         RESTORE_ENTRY_FAILED,
         [](const Sandbox& box) { EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>({"one.txt"})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        std::u16string dest, archive;
        c.prepare(box, dest, archive);
        const std::u16string before = CurrentFolder();
        RestoreFailure failure;
        EXPECT_EQ(RestoreArchive(dest, archive, nullptr, &failure), c.code);
        EXPECT_EQ(CurrentFolder(), before);
        c.check(box);
    }
}

TEST(RestoreRun, NamesTheFailingEntry) {
    Sandbox box;
    RestoreFailure failure;
    ASSERT_EQ(box.Run(FourEntriesThirdBroken(), &failure), RESTORE_ENTRY_FAILED);
    EXPECT_EQ(failure.entryIndex, 2);
    EXPECT_EQ(failure.entryName, u"three.txt");
    EXPECT_EQ(failure.reason, EntryFailure::kExtractFailed);
    EXPECT_EQ(failure.extractFailure, ExtractFailure::kCrcMismatch);

    ZipBuilder zip;
    zip.Add("one.txt", "1");
    zip.Add("two.txt", "2");
    testzip::ZipLayout layout;
    testzip::Bytes bytes = zip.Build(&layout);
    testzip::FlipByte(bytes, layout.localHeader[1]);
    box.WriteArchive(bytes);
    ASSERT_EQ(RestoreArchive(box.Dest(), box.Archive(), nullptr, &failure), RESTORE_ENTRY_FAILED);
    EXPECT_EQ(failure.entryIndex, 1);
    EXPECT_EQ(failure.reason, EntryFailure::kFetchFailed);

    // The name search finds the earlier entry; the failure still names the
    // later one, which is the one that was refused.
    ZipBuilder cases;
    cases.Add("Read.txt", "ONE");
    cases.Add("read.txt", "TWO");
    ASSERT_EQ(box.Run(cases, &failure), RESTORE_ENTRY_FAILED);
    EXPECT_EQ(failure.reason, EntryFailure::kNameMismatch);
    EXPECT_EQ(failure.entryIndex, 1);
    EXPECT_EQ(failure.entryName, u"read.txt");
}

// Records what the worker tells its owner, and on which thread.
class Recorder : public RestoreObserver {
public:
    void OnRestoreStarted() override { Note("started"); }
    void OnRestoreFinished(int code) override { Note("finished " + std::to_string(code)); }
    void OnRestoreProgress(const RestoreProgress& p) override {
        Note("progress");
        last = p;
    }
    bool WantsByteTotal() const override { return true; }

    std::vector<std::string> events;
    std::vector<std::thread::id> threads;
    RestoreProgress last;

private:
    void Note(std::string event) {
        events.push_back(std::move(event));
        threads.push_back(std::this_thread::get_id());
    }
};

TEST(RestoreRun, TellsItsOwnerOnceWhenItStartsAndOnceWhenItEnds) {
    struct Case {
        const char* fault;
        std::function<void(const Sandbox&)> archive;
        int code;
    };
    const Case cases[] = {
        {"success", [](const Sandbox& box) {
             ZipBuilder zip;
             zip.Add("a.txt", "AAAA");
             zip.Add("b/c.txt", std::string(3000, 'c'), 8);
             box.WriteArchive(zip);
         }, RESTORE_OK},
        {"a missing archive", [](const Sandbox&) {}, RESTORE_NO_ARCHIVE},
        {"an unreadable archive", [](const Sandbox& box) { box.WriteArchive(testzip::ToBytes("not a zip")); },
         RESTORE_OPEN_FAILED},
        {"a failing entry", [](const Sandbox& box) { box.WriteArchive(FourEntriesThirdBroken()); },
         RESTORE_ENTRY_FAILED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        c.archive(box);
        Recorder recorder;
        RestoreJob job;
        job.destinationFolder = box.Dest();
        job.archivePath = box.Archive();
        job.observer = &recorder;
        unsigned returned = 99;
        std::thread::id workerId;
        std::thread worker([&] {
            workerId = std::this_thread::get_id();
            returned = RestoreThreadProc(&job);
        });
        worker.join();

        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(job.resultCode, c.code);
        ASSERT_GE(recorder.events.size(), 2u);
        EXPECT_EQ(recorder.events.front(), "started");
        EXPECT_EQ(recorder.events.back(), "finished " + std::to_string(c.code));
        for (std::size_t i = 1; i + 1 < recorder.events.size(); ++i) EXPECT_EQ(recorder.events[i], "progress");
        for (const auto& id : recorder.threads) EXPECT_EQ(id, workerId);
        if (c.code == RESTORE_OK) {
            EXPECT_EQ(recorder.last.entriesDone, 2);
            EXPECT_EQ(recorder.last.entriesTotal, 2);
            EXPECT_EQ(recorder.last.bytesDone, 3004u);
            EXPECT_EQ(recorder.last.bytesTotal, 3004u);
        }
    }
}

// Written with '\\', run with the platform's separator.
std::u16string Native(std::u16string path) {
    for (char16_t& c : path) {
        if (c == u'\\') c = platform::kPathSeparator;
    }
    return path;
}

TEST(RestoreRun, MakesTheDestinationBelowItsRootOnly) {
    const struct {
        const char* fault;
        std::u16string destination;
        std::vector<std::u16string> made;
    } cases[] = {
        {"levels made inner first, or the drive root tried", u"D:\\a\\b\\c\\",
         {u"D:\\a\\", u"D:\\a\\b\\", u"D:\\a\\b\\c\\"}},
        {"a server or its share taken for a folder to make", u"\\\\server\\share\\dir\\",
         {u"\\\\server\\share\\dir\\"}},
        {"a share's own root made", u"\\\\server\\share\\", {}},
        {"the long share form's prefix taken for folders", u"\\\\?\\UNC\\server\\share\\d\\復元\\",
         {u"\\\\?\\UNC\\server\\share\\d\\", u"\\\\?\\UNC\\server\\share\\d\\復元\\"}},
        {"the long drive form's prefix taken for folders", u"\\\\?\\C:\\x\\", {u"\\\\?\\C:\\x\\"}},
        {"text after the last separator made a folder", u"D:\\a\\b", {u"D:\\a\\"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::vector<std::u16string> made;
        for (const auto& level : c.made) made.push_back(Native(level));
        EXPECT_EQ(DestinationChain(Native(c.destination)), made);
    }
}

TEST(RestoreRun, FolderEntriesLandInTheDestinationWhateverTheCurrentFolder) {
    Sandbox box;
    std::filesystem::create_directories(box.root / "elsewhere");
    const std::u16string before = CurrentFolder();
    ASSERT_TRUE(platform::SetCurrentFolder(box.root.U16("elsewhere")));
    ZipBuilder zip;
    zip.AddFolder("docs/img/");
    zip.Add("docs/readme.txt", "R");
    const int code = box.Run(zip);
    const std::u16string during = CurrentFolder();
    platform::SetCurrentFolder(before);
    EXPECT_EQ(code, RESTORE_OK);
    EXPECT_EQ(during, box.root.U16("elsewhere"));
    EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>({"docs/", "docs/img/", "docs/readme.txt"}));
    EXPECT_TRUE(Tree(box.root / "elsewhere").empty());
}

}  // namespace
