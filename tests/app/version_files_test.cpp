// The version files and the update decision, run against real files in a
// folder of their own. The "executable" there is a copy of this test
// program: on Windows it carries the product's version block, so the real
// version-resource query and the real profile functions run under Wine.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "app/vantrel_app.h"
#include "platform/fs.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "product_version.h"
#include "tests/support/temp_folder.h"

namespace {

using testsupport::TempFolder;
namespace fs = std::filesystem;

std::string Utf8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }
std::vector<std::uint8_t> Bytes(std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// A folder holding a copy of this program as "sorvane.exe", and optionally
// profile.ini, url.ini and the set-up program.
class InstallFolder {
public:
    InstallFolder() {
        std::error_code ec;
        fs::copy_file(fs::path(platform::ModulePath()), folder.path() / "sorvane.exe", ec);
        EXPECT_FALSE(ec) << ec.message();
    }
    std::u16string Exe() const { return folder.U16("sorvane.exe"); }
    std::u16string Profile() const { return folder.U16("profile.ini"); }
    void Put(const char* name, std::string_view bytes) const {
        ASSERT_TRUE(testsupport::WriteFileBytes(folder / name, Bytes(bytes)));
    }
    std::string ProfileValue(const char16_t* key) const {
        return Utf8(platform::ReadIniValue(Profile(), u"Update", key, u"<absent>", 1023));
    }
    bool Has(const char* name) const { return platform::PathExists(folder.U16(name)); }

    TempFolder folder;
};

// Start-up's order: locate, create or refresh, decide.
bool RunStartup(CVantrelApp& app, const InstallFolder& install) {
    if (app.LocateFilesFor(install.Exe()))
        app.RefreshProfile();
    else
        app.CreateProfile();
    return app.IsUpdatePending();
}

const std::string kDefaultUrl = Utf8(kDefaultUpdateSiteUrl);

TEST(VersionFiles, ProductVersionComesFromTheBuild) {
    InstallFolder install;
    CVantrelApp app;
    app.LocateFilesFor(install.Exe());
    ASSERT_TRUE(app.ReadProductVersion());
    EXPECT_EQ(Utf8(app.m_strProductVersion), "1.0.0.0");
    EXPECT_EQ(Utf8(app.m_strProductVersion), SORVANE_VERSION_TEXT);
}

TEST(VersionFiles, LocatesFilesBesideTheExecutable) {
    InstallFolder install;
    CVantrelApp app;
    EXPECT_FALSE(app.LocateFilesFor(install.Exe()));
    EXPECT_EQ(fs::path(app.m_strModuleFolder), install.folder.path());
    EXPECT_EQ(fs::path(app.m_strProfilePath), install.folder.path() / "profile.ini");
    install.Put("profile.ini", "[Update]\r\n");
    EXPECT_TRUE(app.LocateFilesFor(install.Exe()));
    // The running program's own folder when no path is given.
    CVantrelApp running;
    running.LocateFiles();
    EXPECT_EQ(Utf8(running.m_strModulePath), Utf8(platform::ModulePath()));
    EXPECT_FALSE(running.m_strModuleFolder.empty());
}

TEST(VersionFiles, UpdateSiteUrlIsPlainHttpOnAReservedHost) {
    const std::string url = kDefaultUrl;
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    const std::string host = url.substr(7, url.find('/', 7) - 7);
    EXPECT_TRUE(host.size() > 8 && host.compare(host.size() - 8, 8, ".example") == 0) << host;
    EXPECT_EQ(url.substr(7 + host.size()), "/installer/quenlot/restore/latestversion.ini");
}

struct StartupCase {
    const char* fault;
    const char* profile;  // nullptr: no profile.ini
    const char* urlIni;   // nullptr: no url.ini
    bool setup;           // set-up program present
    bool pending;
    bool setupAfter;
    // Expected profile.ini values afterwards ("<absent>" when not there).
    const char* url;
    const char* current;
    const char* passed;
    const char* downloaded;
};

const char kOldProfile[] =
    "[Update]\r\nUpdateSiteURL=http://kept.example/u.ini\r\nCurrentVersion=0.9.0.0\r\n"
    "PassedVersion=0.5.0.0\r\nDownloadedVersion=1.0.1.0\r\n";

const StartupCase kStartups[] = {
    {"first start without any file", nullptr, nullptr, false, false, false, nullptr, "1.0.0.0", "0.0.0.0", "0.0.0.0"},
    {"first start takes the URL from url.ini", nullptr, "[URL]\r\nUpdateSiteURL=http://mine.example/v.ini\r\n",
     false, false, false, "http://mine.example/v.ini", "1.0.0.0", "0.0.0.0", "0.0.0.0"},
    {"url.ini without the key gives the built-in URL", nullptr, "[URL]\r\nOther=1\r\n", false, false, false,
     nullptr, "1.0.0.0", "0.0.0.0", "0.0.0.0"},
    {"empty URL in url.ini: no profile is created", nullptr, "[URL]\r\nUpdateSiteURL=\r\n", false, false, false,
     "<absent>", "<absent>", "<absent>", "<absent>"},
    {"empty URL in url.ini and an old set-up program: deleted", nullptr, "[URL]\r\nUpdateSiteURL=\r\n", true, false,
     false, "<absent>", "<absent>", "<absent>", "<absent>"},
    {"existing URL wins over url.ini; old version replaced; pending", kOldProfile,
     "[URL]\r\nUpdateSiteURL=http://other.example/\r\n", true, true, true, "http://kept.example/u.ini", "1.0.0.0",
     "0.5.0.0", "1.0.1.0"},
    {"empty URL in profile.ini is filled from url.ini",
     "[Update]\r\nUpdateSiteURL=\r\nCurrentVersion=1.0.0.0\r\nPassedVersion=0.0.0.0\r\nDownloadedVersion=0.0.0.0\r\n",
     "[URL]\r\nUpdateSiteURL=http://mine.example/v.ini\r\n", false, false, false, "http://mine.example/v.ini",
     "1.0.0.0", "0.0.0.0", "0.0.0.0"},
    {"empty URL everywhere is written empty and versions still refreshed", "[Update]\r\nUpdateSiteURL=\r\n",
     "[URL]\r\nUpdateSiteURL=\r\n", false, false, false, "", "1.0.0.0", "0.0.0.0", "0.0.0.0"},
    {"refresh seeds empty versions and fills the URL", "[Update]\r\nPassedVersion=\r\n", nullptr, false, false, false,
     nullptr, "1.0.0.0", "0.0.0.0", "0.0.0.0"},
    {"same version downloaded: not pending, set-up deleted",
     "[Update]\r\nUpdateSiteURL=u\r\nCurrentVersion=1.0.0.0\r\nDownloadedVersion=1.0.0.0\r\n", nullptr, true, false,
     false, "u", "1.0.0.0", "0.0.0.0", "1.0.0.0"},
    {"older minor version: not pending, set-up deleted",
     "[Update]\r\nUpdateSiteURL=u\r\nDownloadedVersion=0.9.9.9\r\n", nullptr, true, false, false, "u", "1.0.0.0",
     "0.0.0.0", "0.9.9.9"},
    {"short version 2 is newer than 1.0.0.0", "[Update]\r\nUpdateSiteURL=u\r\nDownloadedVersion=2\r\n", nullptr, true,
     true, true, "u", "1.0.0.0", "0.0.0.0", "2"},
    {"newer download but no set-up program: not pending",
     "[Update]\r\nUpdateSiteURL=u\r\nDownloadedVersion=9.0.0.0\r\n", nullptr, false, false, false, "u", "1.0.0.0",
     "0.0.0.0", "9.0.0.0"},
    {"fresh profile and a stray set-up program: deleted", nullptr, nullptr, true, false, false, nullptr, "1.0.0.0",
     "0.0.0.0", "0.0.0.0"},
};

TEST(VersionFiles, StartupKeepsTheProfileAndDecidesTheUpdate) {
    for (const auto& c : kStartups) {
        SCOPED_TRACE(c.fault);
        InstallFolder install;
        if (c.profile) install.Put("profile.ini", c.profile);
        if (c.urlIni) install.Put("url.ini", c.urlIni);
        if (c.setup) install.Put("tindrel_set_up.exe", "MZ");
        CVantrelApp app;
        EXPECT_EQ(RunStartup(app, install), c.pending);
        EXPECT_EQ(install.Has("tindrel_set_up.exe"), c.setupAfter);
        EXPECT_EQ(install.Has("profile.ini"), std::string(c.current) != "<absent>");
        EXPECT_EQ(install.ProfileValue(u"UpdateSiteURL"), c.url ? std::string(c.url) : kDefaultUrl);
        EXPECT_EQ(install.ProfileValue(u"CurrentVersion"), c.current);
        EXPECT_EQ(install.ProfileValue(u"PassedVersion"), c.passed);
        EXPECT_EQ(install.ProfileValue(u"DownloadedVersion"), c.downloaded);
        EXPECT_EQ(Utf8(app.m_strSetupPath), Utf8(install.folder.U16("tindrel_set_up.exe")));
        if (install.Has("profile.ini")) {
            EXPECT_EQ(Utf8(app.m_strCurrentVersion), "1.0.0.0");
            EXPECT_EQ(Utf8(app.m_strDownloadedVersion), c.downloaded);
        }
    }
}

TEST(VersionFiles, WithoutAProductVersionNoVersionKeyIsWritten) {
    InstallFolder install;
    CVantrelApp app;
    // A module path with no module behind it has no version information.
    const std::u16string missing = install.folder.U16("missing.exe");
    EXPECT_FALSE(app.LocateFilesFor(missing));
    EXPECT_FALSE(app.CreateProfile());
    EXPECT_FALSE(install.Has("profile.ini"));

    install.Put("profile.ini", "[Update]\r\nCurrentVersion=0.9.0.0\r\n");
    EXPECT_TRUE(app.LocateFilesFor(missing));
    EXPECT_FALSE(app.RefreshProfile());
    // The URL step has run; the versions are left alone.
    EXPECT_EQ(install.ProfileValue(u"UpdateSiteURL"), kDefaultUrl);
    EXPECT_EQ(install.ProfileValue(u"CurrentVersion"), "0.9.0.0");
    EXPECT_EQ(install.ProfileValue(u"PassedVersion"), "<absent>");
}

// An unknown module path must not turn "profile.ini" into a file at the
// root of the drive, nor delete a set-up program there.
TEST(VersionFiles, WithoutAModuleFolderNoFileIsTouched) {
    for (const std::u16string& modulePath : {std::u16string(), std::u16string(u"sorvane.exe")}) {
        SCOPED_TRACE(Utf8(modulePath));
        CVantrelApp app;
        EXPECT_FALSE(app.LocateFilesFor(modulePath));
        EXPECT_EQ(Utf8(app.m_strProfilePath), "");
        EXPECT_FALSE(app.CreateProfile());
        EXPECT_FALSE(app.RefreshProfile());
        EXPECT_FALSE(app.IsUpdatePending());
        EXPECT_EQ(Utf8(app.m_strUrlIniPath), "");
        EXPECT_EQ(Utf8(app.m_strSetupPath), "");
    }
}

TEST(VersionFiles, UrlIniValueIsCutToItsCapacity) {
    const std::string longUrl = "http://x.example/" + std::string(1100, 'a');
    struct Case {
        const char* fault;
        const char* profile;
        std::size_t kept;
    };
    const Case cases[] = {
        {"creating reads up to 1023 characters", nullptr, 1023},
        {"refreshing reads up to 259 characters", "[Update]\r\nUpdateSiteURL=\r\n", 259},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        InstallFolder install;
        if (c.profile) install.Put("profile.ini", c.profile);
        install.Put("url.ini", "[URL]\r\nUpdateSiteURL=" + longUrl + "\r\n");
        CVantrelApp app;
        RunStartup(app, install);
        EXPECT_EQ(install.ProfileValue(u"UpdateSiteURL"), longUrl.substr(0, c.kept));
    }
}

TEST(Version, ParsesFourComponentsLikeWcstol) {
    struct Case {
        const char* fault;
        std::u16string text;
        VersionNumbers expected;
    };
    const Case cases[] = {
        {"four components", u"1.2.3.4", {1, 2, 3, 4}},
        {"missing components are 0", u"2.1", {2, 1, 0, 0}},
        {"empty text", u"", {0, 0, 0, 0}},
        {"repeated dots count as one", u"1..2.3.4", {1, 2, 3, 4}},
        {"leading dot skipped", u".1.2", {1, 2, 0, 0}},
        {"components after the fourth ignored", u"1.2.3.4.5", {1, 2, 3, 4}},
        {"non-numeric component is 0", u"1.x.3", {1, 0, 3, 0}},
        {"digits before garbage count", u"1.2b.3", {1, 2, 3, 0}},
        {"blanks and signs", u" 1. -2.+3", {1, -2, 3, 0}},
        {"clamped to 32 bits", u"3000000000.-3000000000", {INT32_MAX, INT32_MIN, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(ParseVersion(c.text), c.expected);
    }
}

TEST(Version, NewerIsDecidedByTheFirstDifferingComponent) {
    struct Case {
        const char* fault;
        std::u16string a, b;
        bool newer;
    };
    const Case cases[] = {
        {"patch newer", u"1.0.1.0", u"1.0.0.0", true},
        {"equal is not newer", u"1.0.0.0", u"1.0.0.0", false},
        {"later component does not outweigh an earlier one", u"1.0.5.0", u"1.1.0.0", false},
        {"short text padded with zeros", u"2", u"1.9.9.9", true},
        {"older is not newer", u"0.9.9.9", u"1.0.0.0", false},
        {"last component decides when the rest are equal", u"1.0.0.1", u"1.0.0.0", true},
        {"signed comparison", u"-1.0.0.0", u"0.0.0.0", false},
        {"empty against empty", u"", u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(IsNewerVersion(ParseVersion(c.a), ParseVersion(c.b)), c.newer);
    }
}

}  // namespace
