// The start-up sequence with a scripted host: the version files live in a
// folder of the test's own (a copy of this test program stands there as the
// executable), and the host records every question, program start, window
// lookup and dialog run in order.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/vantrel_app.h"
#include "platform/fs.h"
#include "platform/profile.h"
#include "product_version.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

class ScriptedHost : public AppHost {
public:
    explicit ScriptedHost(std::u16string modulePath) : modulePath_(std::move(modulePath)) {}

    bool socketsStart = true;
    bool otherInstance = false;
    bool programsStart = true;
    std::deque<int> answers;
    // What happened, in order: "init", "message <style> <text>",
    // "start <file name>", "activate", "dialog".
    std::vector<std::string> events;
    std::vector<std::u16string> messageTexts;
    std::vector<std::u16string> applications;
    std::vector<std::u16string> commandLines;
    std::u16string activatedTitle;

    bool InitializeFramework() override {
        events.push_back("init");
        return socketsStart;
    }
    int ShowMessage(const std::u16string& text, unsigned style) override {
        events.push_back("message " + std::to_string(style));
        messageTexts.push_back(text);
        if (answers.empty()) return 1;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::u16string LoadText(unsigned id) override { return u"<string " + ToU16(std::to_string(id)) + u">"; }
    bool StartProcess(const std::u16string& applicationPath, const std::u16string& commandLine) override {
        const std::size_t slash = applicationPath.find_last_of(u"\\/");
        events.push_back("start " + Narrow(applicationPath.substr(slash == std::u16string::npos ? 0 : slash + 1)));
        applications.push_back(applicationPath);
        commandLines.push_back(commandLine);
        return programsStart;
    }
    bool ActivateWindowTitled(const std::u16string& title) override {
        events.push_back("activate");
        activatedTitle = title;
        return otherInstance;
    }
    void RunMainDialog() override { events.push_back("dialog"); }
    bool HandArchiveToWindow(const std::u16string& title, const std::u16string& archivePath) override {
        events.push_back("hand over " + Narrow(archivePath));
        handedTo = title;
        return true;
    }
    std::u16string handedTo;
    bool LocateFiles(CVantrelApp& app) override { return app.LocateFilesFor(modulePath_); }

private:
    static std::u16string ToU16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
    std::u16string modulePath_;
};

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        // The version block is read from the executable; on Windows that is
        // this test program's own.
        fs::copy_file(fs::path(platform::ModulePath()), temp / "Sorvane.exe");
        module = temp.U16("Sorvane.exe");
        folder = temp.path().u16string();
        profile = temp.U16("profile.ini");
    }
    std::u16string Beside(const char16_t* name) const { return folder + platform::kPathSeparator + name; }
    void PlacePendingUpdate(const char16_t* downloaded) {
        ASSERT_TRUE(testsupport::WriteFileBytes(temp / "tindrel_set_up.exe", {'M', 'Z'}));
        platform::WriteIniValue(profile, u"Update", u"UpdateSiteURL", u"http://example.invalid/v.ini");
        platform::WriteIniValue(profile, u"Update", u"CurrentVersion", u"1.0.0.0");
        platform::WriteIniValue(profile, u"Update", u"PassedVersion", u"0.0.0.0");
        platform::WriteIniValue(profile, u"Update", u"DownloadedVersion", downloaded);
    }

    testsupport::TempFolder temp;
    std::u16string module, folder, profile;
};

const std::string kQuestion = "message 36";      // MB_YESNO | MB_ICONQUESTION
const std::string kSocketError = "message 48";   // MB_OK | MB_ICONEXCLAMATION

TEST_F(StartUp, EachWayThroughStartsTheRightProgramsInOrder) {
    struct Case {
        const char* fault;
        bool socketsStart;
        const char16_t* downloadedVersion;  // null: no set-up program waits
        std::deque<int> answers;
        bool otherInstance;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"first start: update program, then the dialog", true, nullptr, {}, false,
         {"init", "start Pellmoor.exe", "activate", "dialog"}},
        {"pending update, Yes: only the set-up program", true, u"1.0.1.0", {6}, false,
         {"init", kQuestion, "start tindrel_set_up.exe"}},
        {"pending update, No: update program and dialog", true, u"1.0.1.0", {7}, false,
         {"init", kQuestion, "start Pellmoor.exe", "activate", "dialog"}},
        {"second instance: update program, first one forward, no dialog", true, nullptr, {}, true,
         {"init", "start Pellmoor.exe", "activate"}},
        {"second instance with pending update answered No", true, u"2", {7}, true,
         {"init", kQuestion, "start Pellmoor.exe", "activate"}},
        {"set-up program not newer: no question", true, u"1.0.0.0", {}, false,
         {"init", "start Pellmoor.exe", "activate", "dialog"}},
        {"sockets fail: message 103 and nothing else", false, u"1.0.1.0", {6}, false, {"init", kSocketError}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder own;
        fs::copy_file(fs::path(platform::ModulePath()), own / "Sorvane.exe");
        const std::u16string ownProfile = own.U16("profile.ini");
        if (c.downloadedVersion) {
            ASSERT_TRUE(testsupport::WriteFileBytes(own / "tindrel_set_up.exe", {'M', 'Z'}));
            platform::WriteIniValue(ownProfile, u"Update", u"CurrentVersion", u"1.0.0.0");
            platform::WriteIniValue(ownProfile, u"Update", u"DownloadedVersion", c.downloadedVersion);
        }
        ScriptedHost host(own.U16("Sorvane.exe"));
        host.socketsStart = c.socketsStart;
        host.answers = c.answers;
        host.otherInstance = c.otherInstance;
        CVantrelApp app;
        EXPECT_FALSE(app.StartApplication(host)) << "start-up always ends the application";
        EXPECT_EQ(host.events, c.events);
        if (!host.messageTexts.empty() && c.socketsStart) {
            EXPECT_EQ(host.messageTexts[0], kUpdateQuestion);
        }
        if (!c.socketsStart) {
            EXPECT_EQ(host.messageTexts, std::vector<std::u16string>{u"<string 103>"});
            // Nothing is touched on disk before the sockets are up.
            EXPECT_EQ(platform::ReadIniValue(ownProfile, u"Update", u"CurrentVersion", u"", 31), u"1.0.0.0");
            EXPECT_EQ(platform::ReadIniValue(ownProfile, u"Update", u"PassedVersion", u"(none)", 31), u"(none)");
        }
        if (host.events.back() == "activate" || host.events.back() == "dialog") {
            EXPECT_EQ(host.activatedTitle, u"Sorvane\u3000");
        }
    }
}

TEST_F(StartUp, ArchiveArgumentGoesToTheRunningDialogOnlyWhenThereIsOne) {
    struct Case {
        const char* fault;
        const char16_t* archive;
        bool otherInstance;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"first instance keeps the order and shows its own dialog", u"C:\\b\\x.zip", false,
         {"init", "start Pellmoor.exe", "activate", "dialog"}},
        {"second instance hands the archive over after bringing the first forward", u"C:\\b\\x.zip", true,
         {"init", "start Pellmoor.exe", "activate", "hand over C:\\b\\x.zip"}},
        {"second instance without an archive hands nothing over", u"", true,
         {"init", "start Pellmoor.exe", "activate"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder own;
        fs::copy_file(fs::path(platform::ModulePath()), own / "Sorvane.exe");
        ScriptedHost host(own.U16("Sorvane.exe"));
        host.otherInstance = c.otherInstance;
        CVantrelApp app;
        app.m_strArchiveArgument = c.archive;
        EXPECT_FALSE(app.StartApplication(host));
        EXPECT_EQ(host.events, c.events);
        if (c.otherInstance && *c.archive) {
            EXPECT_EQ(host.handedTo, u"Sorvane\u3000");
        }
    }
}

TEST_F(StartUp, FirstStartWritesProfileBeforeStartingUpdateProgram) {
    ScriptedHost host(module);
    CVantrelApp app;
    app.StartApplication(host);
    EXPECT_EQ(platform::ReadIniValue(profile, u"Update", u"CurrentVersion", u"", 31), SORVANE_VERSION_U16TEXT);
    EXPECT_EQ(platform::ReadIniValue(profile, u"Update", u"DownloadedVersion", u"", 31), u"0.0.0.0");
    ASSERT_EQ(host.applications.size(), 1u);
    EXPECT_EQ(host.applications[0], Beside(u"Pellmoor.exe"));
    EXPECT_EQ(app.m_strUpdateProgramPath, Beside(u"Pellmoor.exe"));
}

TEST_F(StartUp, ProgramsStartByFullPathWithQuotedCommandLine) {
    PlacePendingUpdate(u"1.0.1.0");
    ScriptedHost yes(module);
    yes.answers = {6};
    CVantrelApp app;
    app.StartApplication(yes);
    ASSERT_EQ(yes.applications.size(), 1u);
    EXPECT_EQ(yes.applications[0], Beside(u"tindrel_set_up.exe"));
    // Built by appending: GCC 12 warns falsely on "literal + temporary".
    std::u16string quoted(1, u'"');
    quoted += Beside(u"tindrel_set_up.exe");
    quoted += u'"';
    EXPECT_EQ(yes.commandLines[0], quoted);
    EXPECT_TRUE(fs::exists(temp / "tindrel_set_up.exe")) << "the set-up program is handed over, not deleted";
}

TEST_F(StartUp, MissingUpdateProgramStillShowsDialog) {
    ScriptedHost host(module);
    host.programsStart = false;
    CVantrelApp app;
    app.StartApplication(host);
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events.back(), "dialog");
}

TEST(LaunchProgram, QuotesThePathAndRefusesWhatCannotBeStartedSafely) {
    struct Case {
        const char* fault;
        std::u16string path;
        bool started;
    };
    const Case cases[] = {
        {"folder with spaces", u"C:\\Program Files\\My Tools\\Pellmoor.exe", true},
        {"longest path that fits", u"C:\\" + std::u16string(252, u'a') + u".exe", true},
        {"path of 260 units", u"C:\\" + std::u16string(253, u'a') + u".exe", false},
        {"empty path", u"", false},
        {"quote would end the quoted command line", u"C:\\a\" b\\x.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ScriptedHost host(u"");
        CVantrelApp app;
        EXPECT_EQ(app.LaunchProgram(host, c.path), c.started);
        ASSERT_EQ(host.applications.size(), c.started ? 1u : 0u);
        if (c.started) {
            EXPECT_EQ(host.applications[0], c.path);
            EXPECT_EQ(host.commandLines[0], u"\"" + c.path + u"\"");
        }
    }
}

}  // namespace
