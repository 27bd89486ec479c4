// The two packages the "installer" target makes, as files: their names and
// version blocks carry the programs' one version, the portable zip holds
// exactly the programs, the read-me and the licence notices (read back
// through this project's own reader), and the set-up program's manifest
// keeps it safe to start from a downloads folder.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/wide.h"
#include "tests/cli/run_program.h"
#include "zip/archive.h"

namespace {

namespace fs = std::filesystem;

fs::path FromBuild(const char* unixPath) {
    std::string p = std::string("Z:") + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return fs::path(p);
}

std::string Narrow(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::string FileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// A string of a module's version block, in the block its translation
// table names first; empty when there is none.
std::wstring VersionString(const fs::path& module, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(module.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<std::uint8_t> block(size);
    if (!::GetFileVersionInfoW(module.c_str(), 0, size, block.data())) return {};
    WORD* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                          &length) ||
        length < 4)
        return {};
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
    wchar_t* value = nullptr;
    if (!::VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length) || !value) return {};
    return value;
}

std::wstring FixedProductVersion(const fs::path& module) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(module.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !::GetFileVersionInfoW(module.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return {};
    return std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwProductVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwProductVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwProductVersionLS));
}

// The version Sorvane.exe's own resource gives: the one every package
// name and block must repeat.
std::wstring ProgramVersion() {
    return VersionString(FromBuild(SORVANE_PROGRAM), L"ProductVersion");
}

fs::path SetupPackage() { return FromBuild(SORVANE_PACKAGE_DIR) / (L"Sorvane-" + ProgramVersion() + L"-setup.exe"); }
fs::path PortablePackage() { return FromBuild(SORVANE_PACKAGE_DIR) / (L"Sorvane-" + ProgramVersion() + L"-win64.zip"); }

TEST(Packages, CarryTheProgramsOneVersion) {
    const std::wstring version = ProgramVersion();
    ASSERT_FALSE(version.empty()) << "Sorvane.exe has no ProductVersion";
    const clitest::ProgramResult cli = clitest::RunProgram(FromBuild(SORVANE_CLI_PROGRAM), {"--version"}, fs::current_path());
    ASSERT_EQ(cli.exitCode, 0);

    const struct {
        const char* fault;
        std::string found;
        std::string expected;
    } cases[] = {
        // Its first line; the second names the inflater.
        {"sorvane-cli --version", cli.out.substr(0, cli.out.find('\n') + 1), "sorvane-cli " + Narrow(version) + "\n"},
        {"the set-up program's file name", fs::exists(SetupPackage()) ? "present" : "missing", "present"},
        {"the portable zip's file name", fs::exists(PortablePackage()) ? "present" : "missing", "present"},
        {"the set-up program's ProductVersion", Narrow(VersionString(SetupPackage(), L"ProductVersion")), Narrow(version)},
        {"the set-up program's FileVersion", Narrow(VersionString(SetupPackage(), L"FileVersion")), Narrow(version)},
        {"the set-up program's fixed version", Narrow(FixedProductVersion(SetupPackage())), Narrow(version)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.found, c.expected) << c.fault;
}

class MemorySink final : public EntrySink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::string bytes;
};

TEST(Packages, PortableZipHoldsExactlyTheProgramsReadMeAndNotices) {
    // What each entry must hold; the notices are every file of res/notices,
    // with Windows line ends.
    std::map<std::u16string, std::string> expected = {
        {u"Sorvane.exe", FileText(FromBuild(SORVANE_PROGRAM))},
        {u"sorvane-cli.exe", FileText(FromBuild(SORVANE_CLI_PROGRAM))},
        {u"readme.txt", ""},
    };
    for (const auto& e : fs::directory_iterator(FromBuild(SORVANE_SOURCE_DIR "/res/notices")))
        if (e.path().extension() == L".txt")
            expected[u"notices/" + e.path().filename().u16string()] = FileText(e.path());
    ASSERT_GT(expected.size(), 3u) << "no licence notice in res/notices";

    std::unique_ptr<ArchiveHandle> archive = OpenArchive(PortablePackage().u16string());
    ASSERT_NE(archive, nullptr) << "the portable zip does not open: " << lastReaderResult;
    ArchiveEntry all;
    ASSERT_EQ(GetArchiveEntry(archive.get(), -1, all), ARCHIVE_OK);
    std::set<std::u16string> names;
    for (std::int32_t i = 0; i < all.index; ++i) {
        ArchiveEntry entry;
        ASSERT_EQ(GetArchiveEntry(archive.get(), i, entry), ARCHIVE_OK);
        names.insert(entry.name);
        const auto wanted = expected.find(entry.name);
        if (wanted == expected.end()) continue;
        MemorySink sink;
        ASSERT_EQ(ExtractEntryToSink(archive.get(), i, sink), ARCHIVE_OK) << Narrow(std::wstring(entry.name.begin(), entry.name.end()));
        if (entry.name == u"readme.txt") {
            EXPECT_NE(sink.bytes.find(Narrow(ProgramVersion())), std::string::npos) << "the read-me names no version";
            EXPECT_EQ(sink.bytes.find('@'), std::string::npos) << "a placeholder was left in the read-me";
        } else if (entry.name.rfind(u"notices/", 0) == 0) {
            EXPECT_EQ(WithoutCarriageReturns(sink.bytes), WithoutCarriageReturns(wanted->second));
            EXPECT_NE(sink.bytes.find("\r\n"), std::string::npos) << "a notice without Windows line ends";
        } else {
            EXPECT_TRUE(sink.bytes == wanted->second) << "a program differs from the build's";
        }
    }
    CloseArchive(archive);
    std::set<std::u16string> expectedNames;
    for (const auto& [name, bytes] : expected) expectedNames.insert(name);
    EXPECT_EQ(names, expectedNames);
}

// A zip's time of day and date, as an entry stores them (two-second steps).
std::uint32_t DosTimeOf(std::time_t seconds) {
    std::tm utc{};
    gmtime_s(&utc, &seconds);
    const std::uint32_t time = (utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2);
    const std::uint32_t date = ((utc.tm_year - 80) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday;
    return date << 16 | time;
}

// What the portable zip stores of each file besides its name and bytes
// must be the same on every build machine: the build's one time (as a DOS
// time in UTC, whatever the machine's time zone), the same permissions
// whatever the umask, and no extra field, where the build machine's user
// and group and the files' other times would go. A second build on the
// same machine, as the rebuild test makes, has the same user and group:
// only this sees them.
TEST(Packages, PortableZipStoresNothingOfTheBuildMachine) {
    const std::string zip = FileText(PortablePackage());
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return at + 2 <= zip.size() ? std::uint8_t(zip[at]) | std::uint8_t(zip[at + 1]) << 8 : 0xFFFFFFFFu;
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return at + 4 <= zip.size() ? u16(at) | u16(at + 2) << 16 : 0xFFFFFFFFu;
    };
    const std::size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos) << "no end of central directory";
    const std::uint32_t count = u16(end + 10);
    ASSERT_GT(count, 3u);
    // The staged files have the build's time; an odd second goes up to the
    // next even one.
    const std::uint32_t buildTimes[] = {DosTimeOf(SORVANE_BUILD_EPOCH), DosTimeOf(SORVANE_BUILD_EPOCH + 1)};
    std::size_t at = u32(end + 16);
    for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(u32(at), 0x02014B50u) << "central directory entry " << i;
        const std::string name = zip.substr(at + 46, u16(at + 28));
        const std::size_t local = u32(at + 42);
        ASSERT_EQ(u32(local), 0x04034B50u) << name;
        const std::uint32_t stored = u32(at + 12);
        const struct {
            const char* fault;
            std::uint32_t found;
            std::uint32_t expected;
        } cases[] = {
            {"an extra field in the central directory", u16(at + 30), 0},
            {"an extra field in the local header", u16(local + 28), 0},
            {"the local header's time differs from the directory's", u32(local + 10), stored},
            {"a time other than the build's", stored == buildTimes[1] ? buildTimes[0] : stored, buildTimes[0]},
            {"permissions other than rw-r--r--", u32(at + 38) >> 16, 0100644},
        };
        for (const auto& c : cases) EXPECT_EQ(c.found, c.expected) << name << ": " << c.fault;
        at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
    }
}

TEST(Packages, SetupManifestAsksForAnAdministratorAndTheSystemsCommonControls) {
    HMODULE setup = ::LoadLibraryExW(SetupPackage().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(setup, nullptr) << "the set-up program does not load as a module";
    HRSRC found = ::FindResourceW(setup, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr) << "no manifest";
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(setup, found)));
    const std::string manifest(data, ::SizeofResource(setup, found));
    ::FreeLibrary(setup);
    const struct {
        const char* fault;
        const char* fragment;
    } cases[] = {
        // COMCTL32 is imported by name; without this dependency Windows
        // would take the first COMCTL32.DLL it finds, beside the program.
        {"the common controls bound to the system's copy", "name=\"Microsoft.Windows.Common-Controls\""},
        {"version 6 of them", "version=\"6.0.0.0\""},
        {"a per-machine install asks for elevation", "level=\"requireAdministrator\""},
    };
    for (const auto& c : cases) EXPECT_NE(manifest.find(c.fragment), std::string::npos) << c.fault;
}

}  // namespace
