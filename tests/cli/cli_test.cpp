// sorvane-cli as a user's shell runs it: exit statuses, the exact result
// messages on stdout, the reason line on stderr, and the listing.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "product_version.h"
#include "run_program.h"
#include "tests/support/base64.h"
#include "tests/support/temp_folder.h"
#include "tests/support/time_zone.h"
#include "tests/support/zip_writer.h"

namespace {

using testzip::ZipBuilder;

const std::string kDone = "バックアップデータの復元が完了しました。\n";
const std::string kFailed = "バックアップデータの復元に失敗しました。\n";

clitest::ProgramResult Cli(const std::vector<std::string>& args, const std::filesystem::path& folder) {
    return clitest::RunProgram(SORVANE_CLI_PATH, args, folder);
}

std::string Utf8(const std::filesystem::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct CliCase {
    const char* fault;
    std::function<void(const testsupport::TempFolder&)> prepare;  // writes archive.zip if wanted
    std::vector<std::string> args;  // "@" stands for the sandbox folder + "/"
    int exitCode;
    const char* out;  // exact, or nullptr to skip
    std::vector<std::string> errParts;  // each must appear on stderr
    bool errEmpty;
};

void WriteZip(const testsupport::TempFolder& box, const ZipBuilder& zip) {
    testsupport::WriteFileBytes(box / "archive.zip", zip.Build());
}

// Runs one case in a fresh folder and checks what it printed; `after` looks
// at the folder afterwards.
void RunCase(const CliCase& c, const std::function<void(const testsupport::TempFolder&)>& after = {}) {
    SCOPED_TRACE(c.fault);
    testsupport::TempFolder box;
    c.prepare(box);
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(a.starts_with("@") ? Utf8(box / a.substr(1)) : a);
    const clitest::ProgramResult r = Cli(args, box.path());
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (c.out) {
        EXPECT_EQ(r.out, c.out);
    }
    for (const auto& part : c.errParts) EXPECT_TRUE(Contains(r.err, part)) << r.err;
    if (c.errEmpty) {
        EXPECT_EQ(r.err, "");
    }
    if (after) after(box);
}

TEST(Cli, ExitStatusesAndMessages) {
    const CliCase cases[] = {
        {"no command accepted", [](auto&) {}, {}, 2, "", {"usage: sorvane-cli restore ARCHIVE FOLDER"}, false},
        {"help not on stdout", [](auto&) {}, {"--help"}, 0, nullptr, {}, true},
        {"wrong version", [](auto&) {}, {"--version"}, 0,
         "sorvane-cli " SORVANE_VERSION_TEXT "\ninflate: " SORVANE_INFLATE_TEXT "\n", {}, true},
        {"unknown command accepted", [](auto&) {}, {"extract"}, 2, "", {"unknown command", "usage:"}, false},
        {"restore without a folder accepted", [](auto&) {}, {"restore", "@archive.zip"}, 2, "", {"usage:"}, false},
        // A second operand is a member: the missing archive is what fails.
        {"list of a missing archive with a member taken as a usage error", [](auto&) {},
         {"list", "@a.zip", "@b.zip"}, 3, "", {"could not be opened"}, false},
        {"success not reported",
         [](auto& box) {
             ZipBuilder zip;
             zip.Add("a.txt", "A");
             zip.Add("dir/b.txt", std::string(2000, 'b'), 8);
             WriteZip(box, zip);
         },
         {"restore", "@archive.zip", "@out"}, 0, kDone.c_str(), {}, true},
        {"missing archive not told apart",
         [](auto&) {}, {"restore", "@missing.zip", "@out"}, 6, kFailed.c_str(),
         {"error -6: the archive does not exist"}, false},
        {"blocked destination not told apart",
         [](auto& box) {
             WriteZip(box, ZipBuilder{});
             testsupport::WriteFileBytes(box / "file", testzip::ToBytes("F"));
         },
         {"restore", "@archive.zip", "@file/sub"}, 6, kFailed.c_str(),
         {"error -6: a level of the destination folder could not be made"}, false},
        {"unreadable archive reported as success",
         [](auto& box) { testsupport::WriteFileBytes(box / "archive.zip", testzip::ToBytes("no zip here")); },
         {"restore", "@archive.zip", "@out"}, 3, kFailed.c_str(), {"error -3: the archive could not be opened"},
         false},
        {"CRC mismatch not named",
         [](auto& box) {
             ZipBuilder zip;
             zip.Add("good.txt", "G");
             auto& e = zip.Add("bad.txt", std::string(3000, 'x'), 8);
             e.localOverride.crc32 = e.centralOverride.crc32 = 1;
             WriteZip(box, zip);
         },
         {"restore", "@archive.zip", "@out"}, 5, kFailed.c_str(), {"error -5: entry 1 \"bad.txt\"", "CRC-32"},
         false},
        {"unsafe name not named",
         [](auto& box) {
             ZipBuilder zip;
             zip.Add("..\\..\\evil.txt", "E");
             WriteZip(box, zip);
         },
         {"restore", "@archive.zip", "@out"}, 5, kFailed.c_str(), {"entry 0 \"..\\..\\evil.txt\"", "unsafe name"},
         false},
        {"list of a missing archive not refused",
         [](auto&) {}, {"list", "@missing.zip"}, 3, "", {"could not be opened", "0x200"}, false},
    };
    for (const auto& c : cases) RunCase(c);
}

// `test` reads as a restore reads and writes nothing: its verdict must
// match what a restore of the same archive would find.
TEST(Cli, TestChecksEveryEntryWithoutWriting) {
    const auto damaged = [](auto mutate) {
        return [mutate](const testsupport::TempFolder& box) {
            ZipBuilder zip;
            zip.Add("good.txt", "G");
            zip.AddFolder("dir/");
            mutate(zip.Add("dir/bad.txt", std::string(3000, 'x'), 8));
            auto& late = zip.Add("late.txt", std::string(5000, 'y'), 8);  // never the one named
            late.localOverride.crc32 = late.centralOverride.crc32 = 7;
            WriteZip(box, zip);
        };
    };
    const CliCase cases[] = {
        {"intact archive not passed",
         [](auto& box) {
             ZipBuilder zip;
             zip.Add("a.txt", "A");
             zip.AddFolder("dir/");
             zip.Add("dir/b.txt", std::string(2000, 'b'), 8);
             WriteZip(box, zip);
         },
         {"test", "@archive.zip"}, 0, "ok: all 3 entries intact (2001 bytes checked)\n", {}, true},
        {"CRC mismatch passed, or a later fault named first",
         damaged([](auto& e) { e.localOverride.crc32 = e.centralOverride.crc32 = 1; }),
         {"test", "@archive.zip"}, 5, "", {"error -5: entry 2 \"dir/bad.txt\"", "CRC-32"}, false},
        {"encrypted entry passed",
         damaged([](auto& e) { e.localOverride.flags = e.centralOverride.flags = 1; }),
         {"test", "@archive.zip"}, 5, "", {"entry 2 \"dir/bad.txt\"", "encrypted"}, false},
        {"truncated archive passed",
         [](auto& box) {
             ZipBuilder zip;
             zip.Add("a.txt", std::string(4000, 'a'), 8);
             testzip::Bytes bytes = zip.Build();
             bytes.resize(bytes.size() / 2);
             testsupport::WriteFileBytes(box / "archive.zip", bytes);
         },
         {"test", "@archive.zip"}, 3, "", {"error -3: the archive could not be opened"}, false},
        {"missing archive not told apart", [](auto&) {}, {"test", "@missing.zip"}, 6, "",
         {"error -6: the archive does not exist"}, false},
        {"test of a missing archive with a member taken as a usage error", [](auto&) {},
         {"test", "@a.zip", "@b.zip"}, 6, "", {"error -6: the archive does not exist"}, false},
    };
    for (const auto& c : cases) {
        RunCase(c, [](const testsupport::TempFolder& box) {
            // Nothing was written: the archive (if any) is all the folder holds.
            std::size_t items = 0;
            for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(box.path())) ++items;
            EXPECT_LE(items, 1u);
        });
    }
}

// A user's Ctrl-C (or the session's end) during a restore: the tool stops,
// says how far it came, and leaves exactly the entries it names, complete,
// nothing cut short under an entry's name. The signal comes while a large
// file is being written at its target.
TEST(Cli, InterruptedRestoreLeavesOnlyCompleteEntries) {
    std::string why;
    if (!clitest::CanInterrupt(why)) GTEST_SKIP() << why;
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 400; ++i)
        entries.emplace_back("m/" + std::to_string(i % 13) + "/f" + std::to_string(i) + ".txt",
                             std::string(200 + i, static_cast<char>('a' + i % 26)));
    std::string big;
    for (unsigned i = 0; big.size() < (6u << 20); ++i) big += "line " + std::to_string(i * 2654435761u) + "\n";
    for (int i = 0; i < 8; ++i) entries.emplace_back("big/b" + std::to_string(i) + ".bin", big);
    ZipBuilder zip;
    for (const auto& [name, data] : entries) zip.Add(name, data, 8);
    const testzip::Bytes archive = zip.Build();

    using clitest::InterruptKind;
    const struct {
        const char* fault;
        InterruptKind kind;
        bool oneCore;
    } cases[] = {
        {"Ctrl-C leaving a file cut short", InterruptKind::kCtrlC, false},
        {"Ctrl-C on one core leaving a file cut short", InterruptKind::kCtrlC, true},
        {"SIGTERM ending the tool at once", InterruptKind::kTerminate, false},
        {"SIGHUP (a closed terminal) ending the tool at once", InterruptKind::kHangUp, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder box;
        testsupport::WriteFileBytes(box / "archive.zip", archive);
        const std::filesystem::path firstBig = box / "out/big/b1.bin";
        clitest::Interruption interruption{[&] { return std::filesystem::exists(firstBig); }, c.kind, c.oneCore};
        const auto r = clitest::RunProgram(SORVANE_CLI_PATH, {"restore", "archive.zip", "out"}, box.path(),
                                           &interruption);
        ASSERT_EQ(r.exitCode, 130) << r.err;
        const std::string prefix = "interrupted after ";
        ASSERT_TRUE(r.err.starts_with(prefix)) << r.err;
        const std::size_t done = std::stoul(r.err.substr(prefix.size()));
        EXPECT_TRUE(Contains(r.err, " of " + std::to_string(entries.size()) + " entries")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        ASSERT_LT(done, entries.size());
        std::size_t files = 0;
        for (const auto& item : std::filesystem::recursive_directory_iterator(box / "out")) {
            if (!item.is_regular_file()) continue;
            ++files;
            const std::string name = Utf8(item.path().lexically_relative(box / "out").generic_u8string());
            const auto at = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == name; });
            ASSERT_NE(at, entries.end()) << "not an entry: " << name;
            EXPECT_LT(static_cast<std::size_t>(at - entries.begin()), done) << "an entry after the last one named: " << name;
            const auto bytes = testsupport::ReadFileBytes(item.path());
            EXPECT_EQ(bytes.size(), at->second.size()) << name;
            EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == at->second) << name;
        }
        EXPECT_EQ(files, done);
    }
}

TEST(Cli, HelpListsEveryCommand) {
    testsupport::TempFolder box;
    const auto r = Cli({"--help"}, box.path());
    for (const char* command : {"restore ARCHIVE FOLDER", "test ARCHIVE", "list ARCHIVE", "info", "--version"})
        EXPECT_TRUE(Contains(r.out, command)) << command;
}

TEST(Cli, RestoresIntoARelativeFolderBelowTheCurrentOne) {
    testsupport::TempFolder box;
    ZipBuilder zip;
    zip.Add("sub/a.txt", "A");
    WriteZip(box, zip);
    const auto r = Cli({"restore", "archive.zip", "out/deeper"}, box.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, kDone);
    const auto bytes = testsupport::ReadFileBytes(box / "out/deeper/sub/a.txt");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "A");
}

TEST(Cli, ListsEntriesInCatalogueOrder) {
    // The DOS times below are the UTC clock's; Windows programs take the
    // zone Wine started in.
    testsupport::UseTimeZone("UTC");
    testsupport::TempFolder box;
    ZipBuilder zip;
    auto& a = zip.Add("b.txt", "hello");
    a.localExtra = testzip::ExtraField({testzip::UtBlock(7, 1600000000, 1600000061, 946684800)});
    a.externalAttributes = 0x81A40000;  // Unix rw-r--r--
    auto& f = zip.AddFolder("\x95\x5c/");  // 表/ in CP932
    f.dosDate = testzip::DosDate(2024, 2, 29);
    f.dosTime = testzip::DosTime(23, 59, 58);
    zip.Add("a.bin", std::string(1000, 'z'), 8).externalAttributes = 0x23;
    zip.Add("line\nbreak\t.txt", "");  // must not break the row or add a column
    WriteZip(box, zip);
    const auto r = Cli({"list", Utf8(box / "archive.zip")}, box.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string compressed = std::to_string(testzip::Deflate(testzip::ToBytes(std::string(1000, 'z'))).size());
    EXPECT_EQ(r.out,
              "0\t0x80\t5\t5\t2020-09-13 12:26:40\t2020-09-13 12:27:41\t2000-01-01 00:00:00\tb.txt\n"
              "1\t0x91\t0\t0\t2024-02-29 23:59:58\t2024-02-29 23:59:58\t2024-02-29 23:59:58\t表/\n"
              "2\t0xA3\t" + compressed + "\t1000\t2013-01-01 12:00:00\t2013-01-01 12:00:00\t2013-01-01 12:00:00\ta.bin\n"
              "3\t0xA1\t0\t0\t2013-01-01 12:00:00\t2013-01-01 12:00:00\t2013-01-01 12:00:00\tline\\x0Abreak\\x09.txt\n");
    testsupport::RestoreTimeZone();
}

TEST(Cli, ListShowsTheTimesARestoreSets) {
    testsupport::TempFolder box;
    ZipBuilder zip;
    auto& dos = zip.Add("dos.txt", "d");
    dos.dosDate = testzip::DosDate(2024, 5, 10);
    dos.dosTime = testzip::DosTime(10, 0, 0);
    // 2021-03-04 05:06:07.1234567, 2021-03-05 00:00:00.0000001, 2019-01-01 00:00:00 UTC
    zip.Add("ntfs.txt", "n").centralExtra = testzip::ExtraField(
        {testzip::NtfsBlock(132593079671234567ull, 132593760000000001ull, 131907744000000000ull)});
    WriteZip(box, zip);
    struct Zone {
        const char* zone;
        const char* dosShown;  // 10:00 on the zone's clock, in UTC
    };
    const Zone zones[] = {{"UTC", "2024-05-10 10:00:00"}, {"Asia/Tokyo", "2024-05-10 01:00:00"},
                          {"America/New_York", "2024-05-10 14:00:00"}};
    int ran = 0;
    for (const auto& z : zones) {
        // A Windows program takes the zone Wine started in: only that
        // zone's row runs there.
        if (!testsupport::UseTimeZone(z.zone)) continue;
        ++ran;
        const auto r = Cli({"list", Utf8(box / "archive.zip")}, box.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string d = z.dosShown;
        EXPECT_EQ(r.out, "0\t0xA1\t1\t1\t" + d + "\t" + d + "\t" + d +
                             "\tdos.txt\n"
                             "1\t0xA1\t1\t1\t2021-03-04 05:06:07.1234567\t2021-03-05 00:00:00.0000001\t"
                             "2019-01-01 00:00:00\tntfs.txt\n")
            << z.zone;
    }
    testsupport::RestoreTimeZone();
    if (ran == 0) {
        // Whatever the zone, the NTFS times are UTC already.
        const auto r = Cli({"list", Utf8(box / "archive.zip")}, box.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "\t2021-03-04 05:06:07.1234567\t2021-03-05 00:00:00.0000001\t"
                                    "2019-01-01 00:00:00\tntfs.txt\n"))
            << r.out;
    }
}

// The archive the member tests restore from: two folders of files, and an
// entry whose name starts with a dash.
void WriteMembersZip(const testsupport::TempFolder& box) {
    ZipBuilder zip;
    zip.AddFolder("docs/");
    zip.Add("docs/a.txt", "A");
    zip.Add("docs/b.log", "B");
    zip.Add("pics/c.jpg", "C");
    zip.Add("-dash.txt", "D");
    WriteZip(box, zip);
}

// What stands below `folder`, as sorted '/'-separated names.
std::vector<std::string> Restored(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    if (!std::filesystem::exists(folder)) return names;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(Utf8(item.path().lexically_relative(folder).generic_u8string()));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Cli, MembersAndOptionsStandAnywhere) {
    const struct {
        const char* fault;
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> restored;
        const char* errPart;
    } cases[] = {
        {"a folder member not taking what it holds", {"restore", "@archive.zip", "@out", "docs"}, 0,
         {"docs", "docs/a.txt", "docs/b.log"}, nullptr},
        {"an option before the archive not taken", {"restore", "-x", "docs/*.log", "@archive.zip", "@out", "docs"}, 0,
         {"docs", "docs/a.txt"}, nullptr},
        {"an option after the members not taken", {"restore", "@archive.zip", "@out", "**/*.txt", "-x", "docs"}, 0,
         {"-dash.txt"}, nullptr},
        {"-- not ending the options", {"restore", "@archive.zip", "@out", "--", "-dash.txt"}, 0, {"-dash.txt"},
         nullptr},
        {"a member matching nothing not refused before writing", {"restore", "@archive.zip", "@out", "docs", "zz"}, 2,
         {}, "no entry matches \"zz\""},
        {"an unknown option taken", {"restore", "@archive.zip", "@out", "--overwrite"}, 2, {}, "unknown option"},
        {"a policy not of the three taken", {"restore", "--existing=always", "@archive.zip", "@out"}, 2, {},
         "--existing takes replace, keep or newer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder box;
        WriteMembersZip(box);
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(a.starts_with("@") ? Utf8(box / a.substr(1)) : a);
        const clitest::ProgramResult r = Cli(args, box.path());
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(Restored(box / "out"), c.restored);
        if (c.errPart) {
            EXPECT_TRUE(Contains(r.err, c.errPart)) << r.err;
        }
        if (c.exitCode == 0) {
            EXPECT_TRUE(Contains(r.out, "restored " + std::to_string(c.restored.size()) + ", kept 0, identical 0"))
                << r.out;
        }
    }
}

// Plan, then restore with the same arguments: the plan's lines, its summary
// and the restore's counts agree, and the plan wrote nothing.
TEST(Cli, PlanSaysWhatTheRestoreDoes) {
    testsupport::TempFolder box;
    WriteMembersZip(box);
    ASSERT_TRUE(std::filesystem::create_directories(box / "out/docs"));
    testsupport::WriteFileBytes(box / "out/docs/a.txt", testzip::ToBytes("OLD"));
    testsupport::WriteFileBytes(box / "out/pics", testzip::ToBytes("a file where a folder goes"));
    const std::string archive = Utf8(box / "archive.zip"), out = Utf8(box / "out");
    const auto plan = Cli({"plan", archive, out, "--existing=keep"}, box.path());
    EXPECT_EQ(plan.exitCode, 0) << plan.err;
    EXPECT_EQ(plan.out,
              "keep\tdocs/\n"
              "keep\tdocs/a.txt\n"
              "new\tdocs/b.log\n"
              "refused: a folder on its path could not be made (a file or a link is in the way?)\tpics/c.jpg\n"
              "new\t-dash.txt\n"
              "summary: 5 entries (4 bytes): 2 new (2 bytes), 0 replace (0 bytes), 0 identical (0 bytes), "
              "2 keep (1 bytes), 1 refused (1 bytes)\n"
              "a restore would stop at entry 3 \"pics/c.jpg\": a folder on its path could not be made (a file or a "
              "link is in the way?)\n");
    EXPECT_EQ(Restored(box / "out"), (std::vector<std::string>{"docs", "docs/a.txt", "pics"}));
    const auto restore = Cli({"restore", archive, out, "--existing=keep"}, box.path());
    EXPECT_EQ(restore.exitCode, 5);
    EXPECT_TRUE(Contains(restore.out, "restored 1, kept 2, identical 0 of 5 entries")) << restore.out;
    EXPECT_TRUE(Contains(restore.err, "entry 3 \"pics/c.jpg\"")) << restore.err;
    const auto missing = Cli({"plan", Utf8(box / "missing.zip"), out}, box.path());
    EXPECT_EQ(missing.exitCode, 6);
}

TEST(Cli, TestNamesEveryDamagedEntry) {
    testsupport::TempFolder box;
    ZipBuilder zip;
    for (int i = 0; i < 8; ++i) {
        std::string name = "f";
        name += std::to_string(i);
        name += ".txt";
        auto& e = zip.Add(name, std::string(3000 + i, 'x'), 8);
        if (i == 1 || i == 4 || i == 6) e.localOverride.crc32 = e.centralOverride.crc32 = 7;
    }
    WriteZip(box, zip);
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "--quiet" : "plain");
        std::vector<std::string> args = {"test", Utf8(box / "archive.zip")};
        if (quiet) args.push_back("--quiet");
        const auto r = Cli(args, box.path());
        EXPECT_EQ(r.exitCode, 5);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  "error -5: entry 1 \"f1.txt\": CRC-32 mismatch: the data differs from what was stored (result 0x400)\n"
                  "error -5: entry 4 \"f4.txt\": CRC-32 mismatch: the data differs from what was stored (result 0x400)\n"
                  "error -5: entry 6 \"f6.txt\": CRC-32 mismatch: the data differs from what was stored (result 0x400)\n"
                  "3 of 8 entries damaged\n");
    }
    const auto some = Cli({"test", Utf8(box / "archive.zip"), "f[0-3].txt", "-x", "f1.txt"}, box.path());
    EXPECT_EQ(some.exitCode, 0) << some.err;
    EXPECT_EQ(some.out, "ok: all 3 entries intact (9005 bytes checked)\n");
}

}  // namespace

namespace {

// An unreadable record of the archive's directory is damage, named by test
// and foreseen by plan whatever members are given; never "ok".
TEST(Cli, AnUnreadableRecordIsDamageWhateverTheMembers) {
    testsupport::TempFolder box;
    ZipBuilder zip;
    zip.Add("docs/a.txt", "A");
    zip.Add("docs/b.txt", "B");
    zip.Add("docs/d.txt", "D");
    zip.Add("other.txt", "O");
    testzip::ZipLayout layout;
    testzip::Bytes bytes = zip.Build(&layout);
    testzip::FlipByte(bytes, layout.localHeader[2]);
    testsupport::WriteFileBytes(box / "archive.zip", bytes);
    const std::string archive = Utf8(box / "archive.zip"), out = Utf8(box / "out");
    const struct {
        const char* fault;
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> outParts, errParts;
    } cases[] = {
        {"a member choice passing over the unreadable record", {"test", archive, "docs"}, 5, {},
         {"error -5: entry 2: its record could not be read", "1 of 3 entries damaged"}},
        {"a member behind the unreadable record checked as nothing", {"test", archive, "docs/d.txt"}, 5, {},
         {"no readable entry matches \"docs/d.txt\" (1 record of the archive's directory can't be read)",
          "1 of 1 entries damaged"}},
        {"every entry checked past the unreadable record", {"test", archive}, 5, {}, {"1 of 4 entries damaged"}},
        {"a plan of members foreseeing no stop", {"plan", archive, out, "docs"}, 0,
         {"a restore would stop at entry 2 \"\": its record could not be read from the archive's directory (result "},
         {}},
        {"the restore of members passing over the unreadable record", {"restore", archive, out, "docs"}, 5, {},
         {"entry 2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const auto r = Cli(c.args, box.path());
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_FALSE(Contains(r.out, "ok:")) << r.out;
        EXPECT_FALSE(Contains(r.out, "(result 0)")) << r.out;
        for (const auto& part : c.outParts) EXPECT_TRUE(Contains(r.out, part)) << r.out;
        for (const auto& part : c.errParts) EXPECT_TRUE(Contains(r.err, part)) << r.err;
    }
}

}  // namespace

namespace {

// --keep-going restores every intact entry and names each one it went past.
TEST(Cli, KeepGoingRestoresTheRestAndNamesWhatItLeft) {
    testsupport::TempFolder box;
    ZipBuilder zip;
    for (int i = 0; i < 8; ++i) {
        std::string name = "f";
        name += std::to_string(i);
        name += ".txt";
        if (i == 3) name = "../escape.txt";
        auto& e = zip.Add(name, std::string(3000 + i, 'x'), 8);
        if (i == 1 || i == 4 || i == 6) e.localOverride.crc32 = e.centralOverride.crc32 = 7;
    }
    WriteZip(box, zip);
    ASSERT_TRUE(std::filesystem::create_directories(box / "out"));
    ASSERT_TRUE(testsupport::WriteFileBytes(box / "out/f4.txt", testzip::ToBytes("WHAT STOOD THERE")));
    const std::string archive = Utf8(box / "archive.zip"), out = Utf8(box / "out");
    const std::string crc = "CRC-32 mismatch: the data differs from what was stored (result 0x400)\n";
    const auto plan = Cli({"plan", archive, out, "--keep-going"}, box.path());
    EXPECT_EQ(plan.exitCode, 0) << plan.err;
    EXPECT_TRUE(Contains(plan.out, "a restore going on past failures would restore 7 entries and leave 1 as they "
                                   "stand, the first at entry 3 \"../escape.txt\": unsafe name"))
        << plan.out;
    const auto r = Cli({"restore", archive, out, "--keep-going"}, box.path());
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.out, kFailed + "restored 4, kept 0, identical 0, failed 4 of 8 entries\n");
    EXPECT_EQ(r.err, "error -5: entry 1 \"f1.txt\": " + crc +
                         "error -5: entry 3 \"../escape.txt\": unsafe name: it would leave the destination folder\n"
                         "error -5: entry 4 \"f4.txt\": " + crc +
                         "error -5: entry 6 \"f6.txt\": " + crc);
    EXPECT_EQ(Restored(box / "out"), (std::vector<std::string>{"f0.txt", "f2.txt", "f4.txt", "f5.txt", "f7.txt"}));
    const auto stood = testsupport::ReadFileBytes(box / "out/f4.txt");
    EXPECT_EQ(std::string(stood.begin(), stood.end()), "WHAT STOOD THERE");
    EXPECT_FALSE(std::filesystem::exists(box / "escape.txt"));
    // Without it, the run stops at the first failure, as it always did.
    const auto stops = Cli({"restore", archive, Utf8(box / "out2")}, box.path());
    EXPECT_EQ(stops.exitCode, 5);
    EXPECT_EQ(Restored(box / "out2"), std::vector<std::string>{"f0.txt"});
}

}  // namespace

namespace {

}  // namespace

TEST(Cli, BackupsListsAFolderByItemAndTime) {
    testsupport::TempFolder box;
    const auto name = [](const char* stamp, const std::string& path) {
        return std::string(stamp) + "_1_" + testsupport::Base64(path) + ".zip";
    };
    const std::string photosOld = name("20240301090000", "D:\\Data\\Photos");
    const std::string photosNew = name("20240315093000", "D:\\Data\\Photos");
    const std::string mail = name("20240320080000", "C:\\Mail");
    const std::string work = name("20240310120000", "E:\\Work\\Report.docx");
    const std::string withTab = name("20230101100000", "C:\\a\tb");
    for (const std::string& n : {photosOld, photosNew, mail, work, withTab, std::string("holiday.zip")})
        ASSERT_TRUE(testsupport::WriteFileBytes(box / n, testzip::ToBytes("x")));
    std::filesystem::create_directory(box / "empty");

    const auto r = Cli({"backups", Utf8(box.path())}, box.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2024/03/20 08:00:00\tC:\\Mail\t" + mail + "\n" +
                         "2024/03/15 09:30:00\tD:\\Data\\Photos\t" + photosNew + "\n" +
                         "2024/03/01 09:00:00\tD:\\Data\\Photos\t" + photosOld + "\n" +
                         "2024/03/10 12:00:00\tE:\\Work\\Report.docx\t" + work + "\n" +
                         "2023/01/01 10:00:00\tC:\\a\\x09b\t" + withTab + "\n")
        << "grouped by item, the newest item first; a tab in a path must not make a fourth column";
    EXPECT_TRUE(Contains(r.err, "1 .zip file(s)")) << r.err;

    const auto relative = Cli({"backups", "."}, box.path());
    EXPECT_EQ(relative.out, r.out) << "a relative folder is the current one's";

    const auto empty = Cli({"backups", Utf8(box / "empty")}, box.path());
    EXPECT_EQ(empty.exitCode, 0) << "no backups is no error";
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "");

    for (const std::string& unreadable : {Utf8(box / "missing"), Utf8(box / "holiday.zip")}) {
        const auto bad = Cli({"backups", unreadable}, box.path());
        EXPECT_EQ(bad.exitCode, 1) << unreadable;
        EXPECT_EQ(bad.out, "");
        EXPECT_TRUE(Contains(bad.err, "could not be read")) << bad.err;
    }
    EXPECT_EQ(Cli({"backups"}, box.path()).exitCode, 2);
    EXPECT_EQ(Cli({"backups", "a", "b"}, box.path()).exitCode, 2);
}
