// Extraction to disk: what reaches the file, when the result is a failure,
// and that nothing is created outside the folders it may touch.

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <chrono>
#include <functional>

#include "platform/file.h"
#include "platform/fs.h"
#include "tests/zip/zip_test_util.h"

using namespace testzip;
using testsupport::TempFolder;
namespace fs = std::filesystem;

namespace {

std::string Content(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 13) % 26);
    return s;
}

std::string FileText(const fs::path& p) {
    const auto bytes = testsupport::ReadFileBytes(p);
    return std::string(bytes.begin(), bytes.end());
}

// Opens `bytes` with the current folder set to `base` so that base becomes
// the reader's baseFolder.
std::unique_ptr<ArchiveHandle> OpenIn(const TempFolder& folder, const fs::path& base, const Bytes& bytes) {
    std::unique_ptr<ArchiveHandle> handle;
    ziptest::InFolder(base.u16string(), [&] { handle = ziptest::OpenBytes(folder, bytes); });
    return handle;
}

// Every path under `root`, relative, '/'-separated, sorted.
std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        auto rel = fs::relative(e.path(), root).generic_u8string();
        out.emplace_back(rel.begin(), rel.end());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Levels of nine units each: every level is a legal name, the whole is not
// a legal path.
// `levels` folders of 8 units: 4,100 of them are more than any platform's
// path limit (Windows 32,767 units, POSIX 4,096 bytes).
std::string LongPath(int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s.append("abcdefgh").append("/");
    return s;
}

}  // namespace

TEST(ExtractEntry, WritesExactlyTheEntryOrFails) {
    const std::string big = Content(700000);  // beyond the copy buffer
    struct Case {
        const char* fault;
        std::function<void(Entry&)> edit;
        std::string content;
        std::uint16_t method;
        ArchiveResult expected;
        ExtractFailure why;
    };
    const Case cases[] = {
        {"stored entry altered", nullptr, "stored bytes", 0, ARCHIVE_OK, ExtractFailure::kNone},
        {"large deflated entry altered", nullptr, big, 8, ARCHIVE_OK, ExtractFailure::kNone},
        {"empty entry not created", nullptr, "", 0, ARCHIVE_OK, ExtractFailure::kNone},
        {"CRC mismatch reported as success",
         [](Entry& e) { e.centralOverride.crc32 = e.localOverride.crc32 = 0xDEADBEEF; }, big, 8,
         ARCHIVE_WRITE_FAILED, ExtractFailure::kCrcMismatch},
        {"short stored data reported as success", [](Entry& e) { e.rawData = ToBytes("half"); }, "half and more",
         0, ARCHIVE_WRITE_FAILED, ExtractFailure::kShortData},
        {"early end of deflate data reported as success",
         [](Entry& e) { e.rawData = Deflate(ToBytes("tiny")); }, "not so tiny", 8, ARCHIVE_WRITE_FAILED,
         ExtractFailure::kShortData},
        {"corrupt deflate data reported as success",
         [](Entry& e) { e.rawData = Bytes{0xFF, 0xFE, 0xFD, 0xFC, 0xFB}; }, "abc", 8, ARCHIVE_WRITE_FAILED,
         ExtractFailure::kCorruptData},
        {"encrypted entry written as if plain", [](Entry& e) { e.flags = 1; }, "cipher", 0, ARCHIVE_WRITE_FAILED,
         ExtractFailure::kEncrypted},
        {"data descriptor entry refused", [](Entry& e) { e.dataDescriptor = true; }, big, 8, ARCHIVE_OK,
         ExtractFailure::kNone},
        {"local header mismatch not reported",
         [](Entry& e) { e.localOverride.method = 0; }, big, 8, ARCHIVE_CORRUPT, ExtractFailure::kOpenFailed},
        {"compressed data cut short reported as success",
         [](Entry& e) {
             auto d = Deflate(ToBytes(Content(700000)));
             e.localOverride.compressedSize = e.centralOverride.compressedSize = static_cast<std::uint32_t>(d.size());
             d.resize(d.size() / 2);
             e.rawData = d;
         },
         big, 8, ARCHIVE_WRITE_FAILED, ExtractFailure::kReadFailed},
    };
    for (const auto& c : cases) {
        ZipBuilder zip;
        auto& e = zip.Add("f.bin", c.content, c.method);
        e.dosDate = DosDate(2013, 5, 1);
        e.dosTime = DosTime(12, 34, 56);
        e.externalAttributes = 0x00800020;
        if (c.edit) c.edit(e);
        TempFolder folder;
        auto handle = OpenIn(folder, folder.path(), zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault;
        const auto target = folder / "out.bin";
        ExtractFailure why = ExtractFailure::kUnsafeName;
        EXPECT_EQ(ExtractEntry(handle.get(), 0, target.u16string(), &why), c.expected) << c.fault;
        EXPECT_EQ(lastReaderResult, c.expected) << c.fault;
        EXPECT_EQ(why, c.why) << c.fault;
        if (why == ExtractFailure::kEncrypted || why == ExtractFailure::kOpenFailed) {
            EXPECT_FALSE(fs::exists(target)) << c.fault << ": a file made for data that can't be had";
        }
        if (c.expected == ARCHIVE_OK) {
            ASSERT_TRUE(fs::exists(target)) << c.fault;
            EXPECT_EQ(FileText(target), c.content) << c.fault;
            EXPECT_EQ(platform::ReadAttributes(target.u16string()) & platform::kAttributeReadOnly, 0u) << c.fault;
        }
        EXPECT_EQ(ziptest::Catalog(*handle).openStream, nullptr) << c.fault << ": stream left open";
        EXPECT_EQ(ziptest::Catalog(*handle).currentIndex, 0) << c.fault;
    }
}

TEST(ExtractEntry, SetsTimesAndAttributes) {
    ZipBuilder zip;
    auto& e = zip.Add("ro.txt", "read only");
    e.dosDate = DosDate(2013, 5, 1);
    e.dosTime = DosTime(12, 34, 56);
    e.externalAttributes = 0x21;  // DOS read-only, archive
    auto& z = zip.Add("nodate.txt", "no date");
    z.dosDate = 0;
    z.dosTime = 0;
    z.externalAttributes = 0x00800000;
    TempFolder folder;
    auto handle = OpenIn(folder, folder.path(), zip.Build());
    ASSERT_NE(handle, nullptr);
    const auto ro = folder / "ro.txt";
    ASSERT_EQ(ExtractEntry(handle.get(), 0, ro.u16string()), ARCHIVE_OK);
    EXPECT_EQ(FileText(ro), "read only") << "data not written through the read-only handle";
    EXPECT_NE(platform::ReadAttributes(ro.u16string()) & platform::kAttributeReadOnly, 0u);
    platform::File f = platform::File::OpenForReading(ro.u16string());
    ASSERT_TRUE(f.IsOpen());
    f.Close();
    // Modification time 2013-05-01 12:34:56 on the local clock (the DOS
    // fields' own).
    const auto secondsSince1970 = [](const fs::path& p) {
        using namespace std::chrono;
        const auto t = fs::last_write_time(p);
        const auto sys = time_point_cast<seconds>(fs::file_time_type::clock::to_sys(t));
        return sys.time_since_epoch().count();
    };
    const auto localSeconds = static_cast<std::int64_t>(ziptest::FileTimeLocal(2013, 5, 1, 12, 34, 56) / 10000000u) -
                              platform::kFileTimeUnixEpochSeconds;
    EXPECT_EQ(secondsSince1970(ro), localSeconds);
    // A DOS stamp that doesn't convert leaves the file's own time alone.
    const auto nodate = folder / "nodate.txt";
    ASSERT_EQ(ExtractEntry(handle.get(), 1, nodate.u16string()), ARCHIVE_OK);
    EXPECT_GT(secondsSince1970(nodate), 1600000000) << "time set from an invalid DOS stamp";
    testsupport::MakeWritable(ro);
}

TEST(ExtractEntry, TargetPathRules) {
    ZipBuilder zip;
    zip.Add("x.txt", "payload");
    struct Case {
        const char* fault;
        std::string target;  // relative to the working folder work/inner
        ArchiveResult expected;
        std::vector<std::string> baseTree;  // what the base folder holds afterwards
        std::vector<std::string> workTree;  // what work/ holds afterwards
    };
    const Case cases[] = {
        {"folder of a relative target not made below the base, or file not put in the working folder",
         "sub/x.txt", ARCHIVE_NO_FILE, {"sub"}, {"inner"}},
        {"target without separator not resolved against the working folder", "x.txt", ARCHIVE_OK, {},
         {"inner", "inner/x.txt"}},
        {"folder made for a target climbing out with ..", "../x.txt", ARCHIVE_OK, {}, {"inner", "x.txt"}},
        {"folder made for a target containing ../", "../escape/x.txt", ARCHIVE_NO_FILE, {}, {"inner"}},
        {"empty target accepted", "", ARCHIVE_NO_FILE, {}, {"inner"}},
        {"target path beyond the platform's path limit accepted", LongPath(4100) + "f", ARCHIVE_NO_FILE, {},
         {"inner"}},
    };
    for (const auto& c : cases) {
        TempFolder root;
        fs::create_directories(root / "base");
        fs::create_directories(root / "work/inner");
        std::unique_ptr<ArchiveHandle> handle = OpenIn(root, root / "base", zip.Build());
        ASSERT_NE(handle, nullptr);
        ArchiveResult result = -1;
        ziptest::InFolder((root / "work/inner").u16string(), [&] {
            result = ExtractEntry(handle.get(), 0, platform::Utf8ToUtf16(c.target));
        });
        EXPECT_EQ(result, c.expected) << c.fault;
        EXPECT_EQ(Tree(root / "base"), c.baseTree) << c.fault;
        EXPECT_EQ(Tree(root / "work"), c.workTree) << c.fault;
    }
}

TEST(ExtractEntry, AbsoluteTargetCreatesNoFolder) {
    ZipBuilder zip;
    zip.Add("x.txt", "payload").externalAttributes = 0x00800020;  // writable
    TempFolder root;
    fs::create_directories(root / "base");
    auto handle = OpenIn(root, root / "base", zip.Build());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ExtractEntry(handle.get(), 0, root.U16("abs/x.txt")), ARCHIVE_NO_FILE)
        << "an absolute target's folder must not be made";
    EXPECT_FALSE(fs::exists(root / "abs"));
    EXPECT_TRUE(Tree(root / "base").empty());
    EXPECT_EQ(ExtractEntry(handle.get(), 0, root.U16("x.txt")), ARCHIVE_OK);
    EXPECT_EQ(FileText(root / "x.txt"), "payload");
    EXPECT_EQ(ExtractEntry(handle.get(), 0, root.U16("x.txt")), ARCHIVE_OK) << "existing file not replaced";
    EXPECT_EQ(ExtractEntry(handle.get(), 1, root.U16("y.txt")), ARCHIVE_BAD_ARGUMENT);
    EXPECT_EQ(ExtractEntry(handle.get(), -1, root.U16("y.txt")), ARCHIVE_BAD_ARGUMENT)
        << "the archive-wide record extracted as an entry";
    EXPECT_FALSE(fs::exists(root / "y.txt"));
}

TEST(ExtractEntry, FolderEntriesStayInsideTheBaseFolder) {
    struct Case {
        const char* fault;
        std::string name;
        ArchiveResult expected;
        std::vector<std::string> tree;
    };
    const Case cases[] = {
        {"folder chain not made parents first", "docs/img/", ARCHIVE_OK, {"docs", "docs/img"}},
        {"backslash not taken as a separator", "a\\b\\", ARCHIVE_OK, {"a", "a/b"}},
        {"CP932 0x5C trail byte split", "\x95\x5C/", ARCHIVE_OK, {"表"}},
        {"escape by ../", "../evil/", ARCHIVE_NO_FILE, {}},
        {"escape by ..\\", "..\\evil\\", ARCHIVE_NO_FILE, {}},
        {"escape by a/../../", "a/../../evil/", ARCHIVE_NO_FILE, {}},
        {"escape by trailing ..", "a/..", ARCHIVE_NO_FILE, {}},
        {"drive letter", "C:/evil/", ARCHIVE_NO_FILE, {}},
        {"alternate data stream or drive-relative", "a:b/", ARCHIVE_NO_FILE, {}},
        {"leading slash", "/evil/", ARCHIVE_NO_FILE, {}},
        {"leading backslash", "\\evil\\", ARCHIVE_NO_FILE, {}},
        {"name with dots refused", "a..b/..c/", ARCHIVE_OK, {"a..b", "a..b/..c"}},
        {"name beyond the platform's path limit overruns", LongPath(4100), ARCHIVE_NO_FILE, {}},
    };
    for (const auto& c : cases) {
        TempFolder root;
        fs::create_directories(root / "base/deeper");
        ZipBuilder zip;
        zip.AddFolder(c.name);
        auto handle = OpenIn(root, root / "base/deeper", zip.Build());
        ASSERT_NE(handle, nullptr) << c.fault;
        ExtractFailure why = ExtractFailure::kNone;
        EXPECT_EQ(ExtractEntry(handle.get(), 0, root.U16("ignored"), &why), c.expected) << c.fault;
        if (c.expected != ARCHIVE_OK) {
            EXPECT_NE(why, ExtractFailure::kNone) << c.fault;
        }
        handle.reset();
        EXPECT_EQ(Tree(root / "base/deeper"), c.tree) << c.fault;
        std::vector<std::string> outside = Tree(root.path());
        std::vector<std::string> expectedOutside{"base", "base/deeper", "test.zip"};
        for (auto& t : c.tree) expectedOutside.push_back("base/deeper/" + t);
        std::sort(expectedOutside.begin(), expectedOutside.end());
        EXPECT_EQ(outside, expectedOutside) << c.fault << ": written outside the base folder";
    }
}

TEST(EnsureFolderChain, RefusesNamesThatLeaveTheRoot) {
    struct Case {
        const char* fault;
        std::u16string name;
        bool safe;
    };
    const Case cases[] = {
        {"plain nested path refused", u"dir/ファイル.txt", true},
        {"dots inside names refused", u"a..b/c..", true},
        {"single dot refused", u"./a", true},
        {"escapes by ..", u"../evil.txt", false},
        {"escapes by ..\\", u"a\\..\\..\\x", false},
        {"escapes by a/../../x", u"a/../../x", false},
        {"bare ..", u"..", false},
        {"trailing ..", u"a/..", false},
        {"mixed separators", u"a/..\\x", false},
        {"drive", u"C:\\x", false},
        {"stream", u"file.txt:stream", false},
        {"leading slash", u"/etc/x", false},
        {"leading backslash", u"\\x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.fault;
        TempFolder root;
        fs::create_directories(root / "r");
        EnsureFolderChain((root / "r").u16string() + platform::kPathSeparator, c.name);
        const auto inside = Tree(root / "r");
        const auto all = Tree(root.path());
        EXPECT_EQ(all.size(), inside.size() + 1) << c.fault << ": something made outside the root";
        if (!c.safe) {
            EXPECT_TRUE(inside.empty()) << c.fault;
        }
    }
    TempFolder root;
    EnsureFolderChain(root.WithSeparator(), u"a/b/c");
    EXPECT_TRUE(fs::is_directory(root / "a/b/c"));
    EnsureFolderChain(root.WithSeparator(), platform::Utf8ToUtf16(LongPath(4100)));
    EXPECT_EQ(Tree(root.path()).size(), 3u) << "a path beyond the platform's limit was made";
}

TEST(FindEntryByName, FillsEntryAndIndex) {
    ZipBuilder zip;
    zip.Add("Docs/Readme.TXT", "r");
    zip.Add("\x83\x5C\x83\x74\x83\x67.txt", "s");  // ソフト.txt
    TempFolder folder;
    auto handle = ziptest::OpenBytes(folder, zip.Build());
    ASSERT_NE(handle, nullptr);
    ArchiveEntry e;
    std::int32_t index = -5;
    ASSERT_EQ(FindEntryByName(handle.get(), u"docs/readme.txt", &index, e), ARCHIVE_OK);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(e.name, u"Docs/Readme.TXT");
    ASSERT_EQ(FindEntryByName(handle.get(), u"ソフト.TXT", nullptr, e), ARCHIVE_OK);
    EXPECT_EQ(e.index, 1);
    EXPECT_EQ(e.name, u"ソフト.txt");
    EXPECT_EQ(e.uncompressedSize, 1u);
    ArchiveEntry untouched;
    untouched.name = u"keep";
    EXPECT_EQ(FindEntryByName(handle.get(), std::u16string(256, u'a'), &index, untouched), ARCHIVE_NOT_FOUND);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(untouched.name, u"keep");
    EXPECT_EQ(lastReaderResult, ARCHIVE_NOT_FOUND);
}
