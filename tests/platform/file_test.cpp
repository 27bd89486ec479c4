// File and path operations, held to Windows' answers: the same tests run
// against the Win32 calls under Wine and against the POSIX back end.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "platform/cores.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

class Scratch {
public:
    Scratch() {
        std::random_device rd;
        root_ = fs::temp_directory_path() / ("sorvane-platform-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(root_);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(root_, ec)) {
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(root_, ec);
    }
    std::u16string Path(const std::u16string& name) const {
        return root_.u16string() + platform::kPathSeparator + name;
    }
    fs::path Native(const std::u16string& name) const { return fs::path(Path(name)); }

private:
    fs::path root_;
};

void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

TEST(File, ReadsWithPositionsAndReportsEndOfFile) {
    Scratch s;
    WriteBytes(s.Native(u"a.bin"), "0123456789");
    platform::File f = platform::File::OpenForReading(s.Path(u"a.bin"));
    ASSERT_TRUE(f.IsOpen());
    EXPECT_TRUE(f.IsDiskFile());
    std::uint64_t size = 0, pos = 99;
    ASSERT_TRUE(f.GetSize(size));
    EXPECT_EQ(size, 10u);
    ASSERT_TRUE(f.GetPosition(pos));
    EXPECT_EQ(pos, 0u);
    ASSERT_TRUE(f.SetPosition(7));
    char buf[8] = {};
    std::size_t got = 0;
    ASSERT_TRUE(f.Read(buf, 8, got));
    EXPECT_EQ(got, 3u) << "a read past the end must deliver what is there";
    EXPECT_EQ(std::string(buf, got), "789");
    ASSERT_TRUE(f.Read(buf, 8, got));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(f.SetPosition(5000000000ULL)) << "positions beyond 4 GiB must be settable";
    ASSERT_TRUE(f.GetPosition(pos));
    EXPECT_EQ(pos, 5000000000ULL);
}

TEST(File, OpeningFailsForWhatIsNoReadableFile) {
    Scratch s;
    ASSERT_TRUE(platform::MakeFolder(s.Path(u"dir")));
    EXPECT_FALSE(platform::File::OpenForReading(s.Path(u"missing.zip")).IsOpen());
    EXPECT_FALSE(platform::File::OpenForReading(s.Path(u"dir")).IsOpen());
    EXPECT_FALSE(platform::File::OpenForReading(u"").IsOpen());
}

TEST(File, ReadSharingLetsOthersReadButNotWrite) {
    Scratch s;
    WriteBytes(s.Native(u"shared.zip"), "x");
    platform::File first = platform::File::OpenForReading(s.Path(u"shared.zip"));
    ASSERT_TRUE(first.IsOpen());
    platform::File second = platform::File::OpenForReading(s.Path(u"shared.zip"));
    EXPECT_TRUE(second.IsOpen());
}

TEST(File, CreateAlwaysReplacesAndKeepsWritingThroughReadOnly) {
    Scratch s;
    WriteBytes(s.Native(u"out.txt"), "old contents that are longer");
    {
        platform::File f = platform::File::CreateAlways(s.Path(u"out.txt"), platform::kAttributeNormal);
        ASSERT_TRUE(f.IsOpen());
        ASSERT_TRUE(f.Write("new", 3));
        ASSERT_TRUE(f.Close());
    }
    EXPECT_EQ(fs::file_size(s.Native(u"out.txt")), 3u);
    {
        platform::File f = platform::File::CreateAlways(s.Path(u"ro.txt"),
                                                        platform::kAttributeNormal | platform::kAttributeReadOnly);
        ASSERT_TRUE(f.IsOpen());
        EXPECT_TRUE(f.Write("data", 4)) << "the creating handle must still write a read-only file";
    }
    EXPECT_EQ(fs::file_size(s.Native(u"ro.txt")), 4u);
    EXPECT_TRUE(platform::ReadAttributes(s.Path(u"ro.txt")) & platform::kAttributeReadOnly);
    EXPECT_FALSE(platform::RemoveFile(s.Path(u"ro.txt"))) << "a read-only file must not be deleted";
    ASSERT_TRUE(platform::WriteAttributes(s.Path(u"ro.txt"), platform::kAttributeNormal));
    EXPECT_EQ(platform::ReadAttributes(s.Path(u"ro.txt")) & platform::kAttributeReadOnly, 0u);
    EXPECT_TRUE(platform::RemoveFile(s.Path(u"ro.txt")));
}

TEST(File, SetsWriteTimeAndLeavesZeroTimesAlone) {
    Scratch s;
    const std::uint64_t t2013 = (1367411696ULL + 11644473600ULL) * 10000000ULL;
    {
        platform::File f = platform::File::CreateAlways(s.Path(u"t.txt"), platform::kAttributeNormal);
        ASSERT_TRUE(f.IsOpen());
        ASSERT_TRUE(f.SetTimes(t2013, t2013, t2013));
    }
    const auto written = fs::last_write_time(s.Native(u"t.txt"));
    const auto since = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(written).time_since_epoch());
    EXPECT_EQ(since.count(), 1367411696);
    {
        platform::File f = platform::File::OpenForReading(s.Path(u"t.txt"));
        ASSERT_TRUE(f.IsOpen());
    }
    {
        // A zero time means "unknown": the file keeps the time it has.
        platform::File f = platform::File::CreateAlways(s.Path(u"z.txt"), platform::kAttributeNormal);
        ASSERT_TRUE(f.SetTimes(0, 0, 0));
    }
    const auto zero = fs::last_write_time(s.Native(u"z.txt"));
    EXPECT_GT(std::chrono::file_clock::to_sys(zero).time_since_epoch().count(), 0);
}

TEST(Paths, AnswerLikeTheWindowsCalls) {
    Scratch s;
    ASSERT_TRUE(platform::MakeFolder(s.Path(u"d")));
    EXPECT_FALSE(platform::MakeFolder(s.Path(u"d"))) << "an existing folder must report failure";
    EXPECT_FALSE(platform::MakeFolder(s.Path(u"missing/child"))) << "no parent, no folder";
    WriteBytes(s.Native(u"f.txt"), "x");
    struct Case {
        const char* fault;
        std::u16string name;
        bool exists, folder, findable;
        std::uint32_t attributes;
    };
    const std::u16string sep(1, platform::kPathSeparator);
    const Case cases[] = {
        {"folder misread", u"d", true, true, true, platform::kAttributeDirectory},
        {"plain file misread", u"f.txt", true, false, true, platform::kAttributeNormal},
        {"missing path found", u"nothing", false, false, false, platform::kInvalidAttributes},
        {"trailing separator found by find-first", u"d" + sep, true, true, false, platform::kAttributeDirectory},
        {"Japanese name lost", u"ファイル.txt", false, false, false, platform::kInvalidAttributes},
    };
    for (const auto& c : cases) {
        const std::u16string p = s.Path(c.name);
        EXPECT_EQ(platform::PathExists(p), c.exists) << c.fault;
        EXPECT_EQ(platform::IsFolder(p), c.folder) << c.fault;
        EXPECT_EQ(platform::FindAny(p), c.findable) << c.fault;
        // A new Windows file also carries the archive bit, which POSIX lacks.
        const std::uint32_t attributes = platform::ReadAttributes(p);
        if (c.attributes == platform::kInvalidAttributes) {
            EXPECT_EQ(attributes, platform::kInvalidAttributes) << c.fault;
        } else {
            EXPECT_EQ(attributes & (platform::kAttributeDirectory | platform::kAttributeReadOnly), c.attributes & 0x11u)
                << c.fault;
        }
    }
    EXPECT_FALSE(platform::RemoveFile(s.Path(u"d"))) << "a folder must not be deleted as a file";
    EXPECT_TRUE(platform::IsFolder(s.Path(u"d")));
    EXPECT_TRUE(platform::CanRead(s.Path(u"f.txt")));
    EXPECT_FALSE(platform::CanRead(s.Path(u"nothing")));
}

TEST(Paths, MoveReplacesAFileButNeverAFolder) {
    Scratch s;
    WriteBytes(s.Native(u"new.tmp"), "new");
    WriteBytes(s.Native(u"target.txt"), "old");
    ASSERT_TRUE(platform::MoveReplacing(s.Path(u"new.tmp"), s.Path(u"target.txt")));
    EXPECT_FALSE(platform::PathExists(s.Path(u"new.tmp")));
    std::ifstream in(s.Native(u"target.txt"), std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "new");
    ASSERT_TRUE(platform::MakeFolder(s.Path(u"folder")));
    WriteBytes(s.Native(u"other.tmp"), "x");
    EXPECT_FALSE(platform::MoveReplacing(s.Path(u"other.tmp"), s.Path(u"folder")));
    EXPECT_TRUE(platform::IsFolder(s.Path(u"folder")));
}

TEST(Paths, CurrentFolderRoundTrips) {
    Scratch s;
    std::u16string before;
    ASSERT_TRUE(platform::GetCurrentFolder(before));
    ASSERT_TRUE(platform::MakeFolder(s.Path(u"cwd")));
    ASSERT_TRUE(platform::SetCurrentFolder(s.Path(u"cwd")));
    std::u16string now;
    ASSERT_TRUE(platform::GetCurrentFolder(now));
    EXPECT_EQ(fs::equivalent(fs::path(now), s.Native(u"cwd")), true);
    EXPECT_FALSE(platform::SetCurrentFolder(s.Path(u"no-such-folder")));
    ASSERT_TRUE(platform::SetCurrentFolder(before));
}

TEST(Paths, ModulePathNamesThisTestProgram) {
    const std::u16string path = platform::ModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find(u"platform_tests"), std::u16string::npos);
    EXPECT_TRUE(platform::PathExists(path));
}

}  // namespace

namespace {

// Exclusive creation and the no-replace move: neither may touch anything
// that stands at the path, and a file keeps its identity through the move.
TEST(Paths, CreateNewAndMoveNoReplaceNeverTouchWhatStandsThere) {
    Scratch s;
    WriteBytes(s.Native(u"old.txt"), "old");
    ASSERT_TRUE(platform::MakeFolder(s.Path(u"folder")));
    for (const char16_t* taken : {u"old.txt", u"folder"}) {
        bool existed = false;
        EXPECT_FALSE(platform::File::CreateNew(s.Path(taken), &existed).IsOpen());
        EXPECT_TRUE(existed);
    }
    bool existed = true;
    platform::File f = platform::File::CreateNew(s.Path(u"new.tmp"), &existed);
    ASSERT_TRUE(f.IsOpen());
    EXPECT_FALSE(existed);
    ASSERT_TRUE(f.Write("new", 3));
    platform::FileIdentity made;
    ASSERT_TRUE(f.GetIdentity(made));
    ASSERT_TRUE(f.Close());

    EXPECT_EQ(platform::MoveNoReplace(s.Path(u"new.tmp"), s.Path(u"old.txt")), platform::MoveResult::kExists);
    EXPECT_EQ(platform::MoveNoReplace(s.Path(u"new.tmp"), s.Path(u"folder")), platform::MoveResult::kExists);
    std::ifstream old(s.Native(u"old.txt"), std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>()), "old");
    EXPECT_NE(platform::ReadPathIdentity(s.Path(u"old.txt")).identity, made);

    ASSERT_EQ(platform::MoveNoReplace(s.Path(u"new.tmp"), s.Path(u"placed.txt")), platform::MoveResult::kMoved);
    EXPECT_FALSE(platform::PathExists(s.Path(u"new.tmp")));
    const platform::PathIdentity placed = platform::ReadPathIdentity(s.Path(u"placed.txt"));
    EXPECT_TRUE(placed.exists && !placed.folder);
    EXPECT_EQ(placed.identity, made);
    EXPECT_TRUE(platform::ReadPathIdentity(s.Path(u"folder")).folder);
    EXPECT_FALSE(platform::ReadPathIdentity(s.Path(u"nothing")).exists);
}

}  // namespace

namespace {

// The count a run sizes its worker threads by: never zero on a machine that
// runs this test, never more than the processors the system has.
TEST(Cores, UsableCoresCountsTheProcessorsThisProcessMayUse) {
    const int cores = platform::UsableCores();
    EXPECT_GE(cores, 1);
    const unsigned machine = std::thread::hardware_concurrency();
    if (machine != 0) {
        EXPECT_LE(cores, static_cast<int>(machine));
    }
}

}  // namespace

namespace {

// Which volumes identify a file by its id and which by its name: a file
// system whose ids change on a rename (FAT, exFAT) or that is unknown must
// never be trusted with ids, or a good restore fails as a duplicate.
TEST(Identity, IdsAreTrustedOnlyWhereTheyLast) {
    const struct {
        std::u16string fileSystem;
        bool keepsIds;
    } cases[] = {{u"NTFS", true}, {u"ReFS", true},   {u"ntfs", true},  {u"FAT", false}, {u"FAT32", false},
                 {u"exFAT", false}, {u"UDF", false}, {u"", false}, {u"NTFS2", false}};
    for (const auto& c : cases) EXPECT_EQ(platform::FileSystemKeepsFileIds(c.fileSystem), c.keepsIds);
}

}  // namespace
