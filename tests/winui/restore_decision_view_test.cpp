// The question before a restore where files stand at the entries' paths,
// in the real dialog with the real engine: asked only where a file
// stands, with the counts the plan found; each answer restores what the
// console restores with the same options; Cancel writes nothing; the
// outcome's counts follow the result box; the question's own window, its
// defaults and its list of newer files; its texts whole at each DPI.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "restore/restore.h"
#include "tests/support/start_process_win32.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "tests/winui/scripted_user.h"
#include "ui/restore_decision.h"
#include "ui/vantrel_dlg.h"

namespace {

namespace fs = std::filesystem;
using winuitest::PumpUntil;
using winuitest::ScriptedUser;
using winuitest::WindowText;

// The backup of C:\Data\Photos (its name's Base64 part).
constexpr char16_t kBackupName[] = u"20240315093000_1_QzpcRGF0YVxQaG90b3M=.zip";

std::string Read(const fs::path& p) {
    const auto bytes = testsupport::ReadFileBytes(p);
    return std::string(bytes.begin(), bytes.end());
}

fs::path FromBuild(const char* unixPath) {
    std::string p = std::string("Z:") + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return fs::path(p);
}

// A backup of Photos with four files, restored once into a folder, then
// changed there: one file older and different, one edited after the
// backup, one removed, one left holding its entry.
struct StoodFolder {
    fs::path dest;
    explicit StoodFolder(const fs::path& at, const fs::path& archive) : dest(at) {
        fs::create_directories(dest);
        EXPECT_EQ(RestoreArchive(dest.u16string() + u"\\", archive.u16string()), RESTORE_OK);
        const fs::path photos = dest / "Photos";
        testsupport::WriteFileBytes(photos / "older.txt", testzip::ToBytes("edited long before"));
        fs::last_write_time(photos / "older.txt", fs::last_write_time(photos / "same.txt") - std::chrono::hours(9600));
        testsupport::WriteFileBytes(photos / "newer.txt", testzip::ToBytes("edited yesterday"));
        fs::last_write_time(photos / "newer.txt", fs::file_time_type::clock::now());
        fs::remove(photos / "gone.txt");
    }
};

fs::path WriteArchive(const fs::path& folder) {
    testzip::ZipBuilder zip;
    zip.Add("Photos/", "");
    zip.Add("Photos/older.txt", "backup's older");
    zip.Add("Photos/newer.txt", "backup's newer");
    zip.Add("Photos/same.txt", "same bytes");
    zip.Add("Photos/gone.txt", "made again");
    const fs::path archive = folder / fs::path(std::u16string(kBackupName));
    EXPECT_TRUE(testsupport::WriteFileBytes(archive, zip.Build()));
    return archive;
}

// Each file below `folder` with its bytes and write time, in one text.
std::string Snapshot(const fs::path& folder) {
    std::ostringstream out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        out << fs::relative(e.path(), folder).string() << "=" << Read(e.path()) << "@"
            << e.last_write_time().time_since_epoch().count() << "\n";
    }
    return out.str();
}

// sorvane-cli restore ARCHIVE FOLDER OPTIONS..., its standard output.
std::string Console(const fs::path& archive, const fs::path& folder, const std::wstring& options, DWORD& exitCode) {
    const fs::path cli = FromBuild(SORVANE_CLI_PROGRAM);
    const fs::path out = folder.parent_path() / (folder.filename().wstring() + L".out");
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = ::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = file;
    startup.hStdInput = nullptr;
    std::wstring line = L"\"" + cli.wstring() + L"\" restore \"" + archive.wstring() + L"\" \"" + folder.wstring() +
                        L"\" " + options;
    PROCESS_INFORMATION info{};
    exitCode = 999;
    if (testsupport::StartProcess(cli.c_str(), line, TRUE, CREATE_NO_WINDOW, nullptr, startup, info)) {
        ::WaitForSingleObject(info.hProcess, 60000);
        ::GetExitCodeProcess(info.hProcess, &exitCode);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    ::CloseHandle(file);
    return Read(out);
}

// A user who answers the question from the script (nullopt: Cancel) and
// notes what it was shown; with `realDialog` the program's own window asks.
class DecidingUser : public ScriptedUser {
public:
    std::optional<RestoreDecision> answer = RestoreDecision{};
    bool realDialog = false;
    int decisions = 0;
    DecisionTexts shown;
    RestoreDecision proposed;

    bool DecideAboutExisting(HWND owner, const DecisionTexts& texts, RestoreDecision& decision) override {
        ++decisions;
        shown = texts;
        proposed = decision;
        if (realDialog) return UserPrompts::DecideAboutExisting(owner, texts, decision);
        if (!answer) return false;
        decision = *answer;
        return true;
    }
};

class DecisionInDialog : public ::testing::Test {
protected:
    void SetUp() override { archive = WriteArchive(box.path()); }
    void TearDown() override {
        if (dialog && dialog->IsRestoreRunning()) PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); });
        dialog.reset();
    }
    // Chooses the backup, confirms, chooses `folder`, agrees to overwrite
    // (when asked) and waits for the run's end, if there is one.
    void Restore(const fs::path& folder) {
        dialog = std::make_unique<CVantrelDlg>(user);
        ASSERT_TRUE(dialog->Create());
        user.dialog = dialog->m_hWnd;
        user.files.push_back(archive.u16string());
        ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_SELECT), BM_CLICK, 0, 0);
        user.asked.clear();
        user.messageAnswers = {IDYES, IDYES, IDOK};
        user.folders.push_back(folder.u16string());
        ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_RESTORE), BM_CLICK, 0, 0);
        ASSERT_TRUE(PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); }, 30000));
    }
    std::vector<std::u16string> MessageTexts() const {
        std::vector<std::u16string> texts;
        for (const auto& a : user.Messages()) texts.push_back(a.text);
        return texts;
    }
    std::u16string EntryLine() const { return WindowText(::GetDlgItem(dialog->m_hWnd, IDC_RUN_ENTRY)); }

    testsupport::TempFolder box;
    fs::path archive;
    DecidingUser user;
    std::unique_ptr<CVantrelDlg> dialog;
};

TEST_F(DecisionInDialog, NoQuestionWhereNoFileStands) {
    struct Case {
        const char* fault;
        bool folderStands;
        std::vector<std::u16string> messages;
    };
    const Case cases[] = {
        {"an empty destination: the text's flow only", false, {dlgtext::kConfirmRestore, dlgtext::kRestoreSucceeded}},
        {"only the item's folder stands: the text's overwrite question only", true,
         {dlgtext::kConfirmRestore, dlgtext::kConfirmOverwrite, dlgtext::kRestoreSucceeded}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder dest;
        if (c.folderStands) fs::create_directory(dest / "Photos");
        user.decisions = 0;
        Restore(dest.path());
        EXPECT_EQ(user.decisions, 0);
        EXPECT_EQ(MessageTexts(), c.messages);
        EXPECT_EQ(Read(dest / "Photos/gone.txt"), "made again");
        EXPECT_EQ(EntryLine(), u"") << "no counts after a run that asked nothing";
        dialog.reset();
    }
}

TEST_F(DecisionInDialog, EachAnswerRestoresWhatTheConsoleRestoresWithItsOptions) {
    struct Case {
        const char* fault;
        RestoreDecision answer;
        const wchar_t* options;  // the console's for the same answer
        const char* newer;       // what Photos\newer.txt holds afterwards
    };
    const Case cases[] = {
        {"replace", {ExistingAnswer::kReplace, true}, L"--existing=replace --skip-identical", "backup's newer"},
        {"keep newer", {ExistingAnswer::kKeepNewer, true}, L"--existing=newer --skip-identical", "edited yesterday"},
        {"keep all", {ExistingAnswer::kKeepAll, true}, L"--existing=keep --skip-identical", "edited yesterday"},
        {"identical files written again", {ExistingAnswer::kReplace, false}, L"--existing=replace", "backup's newer"},
        {"keep newer, identical written again", {ExistingAnswer::kKeepNewer, false}, L"--existing=newer",
         "edited yesterday"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder work;
        StoodFolder byDialog(work / "dialog", archive), byConsole(work / "console", archive);
        user.decisions = 0;
        user.answer = c.answer;
        Restore(byDialog.dest);
        ASSERT_EQ(user.decisions, 1);
        EXPECT_EQ(MessageTexts(), (std::vector<std::u16string>{dlgtext::kConfirmRestore, dlgtext::kConfirmOverwrite,
                                                               dlgtext::kRestoreSucceeded}))
            << "the question comes after the text's questions and before the run";
        EXPECT_EQ(user.shown.made, u"新しく復元する項目：1");
        EXPECT_EQ(user.shown.replaced, u"置き換わるファイル：2");
        EXPECT_EQ(user.shown.newer, u"うちバックアップより新しいもの：1");
        EXPECT_EQ(user.shown.identical, u"内容が同じファイル：1");
        EXPECT_EQ(user.shown.newerPaths, std::vector<std::u16string>{u"Photos\\newer.txt"});
        EXPECT_EQ(user.proposed.answer, ExistingAnswer::kReplace) << "replace is proposed, as the text always did";
        EXPECT_TRUE(user.proposed.skipIdentical) << "identical files are left by default";

        DWORD exitCode = 0;
        const std::string console = Console(archive, byConsole.dest, c.options, exitCode);
        EXPECT_EQ(exitCode, 0u) << console;
        EXPECT_EQ(Read(byDialog.dest / "Photos/newer.txt"), c.newer);
        EXPECT_EQ(Snapshot(byDialog.dest), Snapshot(byConsole.dest)) << "the dialog and the console differ";
        // "restored R, kept K, identical I of M entries" said in the dialog's words.
        int restored = -1, kept = -1, identical = -1;
        const std::size_t at = console.find("restored ");
        ASSERT_NE(at, std::string::npos) << console;
        ASSERT_EQ(std::sscanf(console.c_str() + at, "restored %d, kept %d, identical %d", &restored, &kept, &identical), 3);
        EXPECT_EQ(EntryLine(), OutcomeCountsText(restored, kept, identical, NumberText()))
            << "the counts follow the result box";
        dialog.reset();
    }
}

TEST_F(DecisionInDialog, CancelWritesNothing) {
    testsupport::TempFolder work;
    StoodFolder stood(work / "dest", archive);
    const std::string before = Snapshot(stood.dest);
    user.answer.reset();
    Restore(stood.dest);
    EXPECT_EQ(user.decisions, 1);
    EXPECT_EQ(MessageTexts(), (std::vector<std::u16string>{dlgtext::kConfirmRestore, dlgtext::kConfirmOverwrite}))
        << "no result box: nothing ran";
    EXPECT_EQ(dialog->m_pRestoreThread, nullptr);
    EXPECT_EQ(Snapshot(stood.dest), before);
    EXPECT_FALSE(fs::exists(stood.dest / "Photos/gone.txt"));
}

// The question's own window, found by a timer of this thread while it
// runs its modal loop: its texts and defaults are read, the newer files'
// list opened and read, then "keep newer" chosen and confirmed.
struct QuestionSeen {
    static inline int step = 0, ticks = 0;
    static inline std::vector<std::u16string> texts, newerListed;
    static inline bool replaceChecked = false, skipChecked = false;

    static HWND Find(const char16_t* caption) {
        struct Search {
            const char16_t* caption;
            HWND found;
        } search{caption, nullptr};
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND w, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                if (WindowText(w) != s->caption || !::IsWindowVisible(w)) return TRUE;
                s->found = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
        if (++ticks > 500) ::KillTimer(nullptr, id);
        if (step == 0) {
            HWND q = Find(dlgtext::kDecisionTitle);
            if (!q) return;
            for (int c : {IDC_DECISION_MADE, IDC_DECISION_REPLACED, IDC_DECISION_NEWER, IDC_DECISION_IDENTICAL})
                texts.push_back(WindowText(::GetDlgItem(q, c)));
            replaceChecked = ::IsDlgButtonChecked(q, IDC_ANSWER_REPLACE) == BST_CHECKED;
            skipChecked = ::IsDlgButtonChecked(q, IDC_SKIP_IDENTICAL) == BST_CHECKED;
            step = 1;
            ::PostMessageW(::GetDlgItem(q, IDC_DECISION_SHOW_NEWER), BM_CLICK, 0, 0);
        } else if (step == 1) {
            HWND list = Find(dlgtext::kNewerListTitle);
            if (!list) return;
            HWND box = ::GetDlgItem(list, IDC_NEWER_LIST);
            const int n = static_cast<int>(::SendMessageW(box, LB_GETCOUNT, 0, 0));
            for (int i = 0; i < n; ++i) {
                wchar_t text[512] = {};
                ::SendMessageW(box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
                newerListed.push_back(U16(text));
            }
            step = 2;
            ::PostMessageW(::GetDlgItem(list, IDOK), BM_CLICK, 0, 0);
        } else if (step == 2) {
            if (Find(dlgtext::kNewerListTitle)) return;
            HWND q = Find(dlgtext::kDecisionTitle);
            if (!q) return;
            ::SendMessageW(::GetDlgItem(q, IDC_ANSWER_KEEP_NEWER), BM_CLICK, 0, 0);
            step = 3;
            ::PostMessageW(::GetDlgItem(q, IDOK), BM_CLICK, 0, 0);
            ::KillTimer(nullptr, id);
        }
    }
};

TEST_F(DecisionInDialog, TheQuestionsWindowProposesReplaceAndListsTheNewerFiles) {
    testsupport::TempFolder work;
    StoodFolder stood(work / "dest", archive);
    user.realDialog = true;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 30, &QuestionSeen::Tick);
    Restore(stood.dest);
    ::KillTimer(nullptr, timer);
    ASSERT_EQ(QuestionSeen::step, 3) << "the question's window was not found and answered";
    EXPECT_EQ(QuestionSeen::texts, (std::vector<std::u16string>{u"新しく復元する項目：1", u"置き換わるファイル：2",
                                                                u"うちバックアップより新しいもの：1",
                                                                u"内容が同じファイル：1"}));
    EXPECT_TRUE(QuestionSeen::replaceChecked);
    EXPECT_TRUE(QuestionSeen::skipChecked);
    EXPECT_EQ(QuestionSeen::newerListed, std::vector<std::u16string>{u"Photos\\newer.txt"});
    EXPECT_EQ(Read(stood.dest / "Photos/newer.txt"), "edited yesterday") << "keep newer was chosen";
    EXPECT_EQ(Read(stood.dest / "Photos/older.txt"), "backup's older");
    EXPECT_EQ(EntryLine(), u"復元した項目：2　残した項目：2　内容が同じ項目：1");
}

// A plan that takes its time, as one of a large archive does.
struct SlowPlan {
    static inline std::atomic<int> plans{0};
    static int Plan(const std::u16string& folder, const std::u16string& archive, const RestoreChoices& choices,
                    std::vector<PlannedEntry>& entries, RestoreFailure* failure, const StopRequest* stop) {
        ++plans;
        ::Sleep(1500);
        return PlanRestore(folder, archive, choices, entries, failure, stop);
    }
};

// What the dialog shows while the plan reads, seen from a timer of this
// thread (the restore button's handler waits in a message loop of its
// own); with `stop`, 中止 clicked once the status line says it is looking.
struct PlanWatch {
    static inline HWND dialog = nullptr;
    static inline bool stop = false, stopped = false;
    static inline std::vector<std::u16string> statuses;
    static inline bool stopEnabled = false, barMoving = false;
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (!dialog || stopped) return;
        const std::u16string status = WindowText(::GetDlgItem(dialog, IDC_RUN_STATUS));
        if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
        if (status != dlgtext::kPlanning) return;
        stopEnabled = ::IsWindowEnabled(::GetDlgItem(dialog, IDC_RUN_STOP)) != FALSE;
        barMoving = (::GetWindowLongPtrW(::GetDlgItem(dialog, IDC_RUN_PROGRESS), GWL_STYLE) & PBS_MARQUEE) != 0;
        if (stop) {
            stopped = true;
            ::SendMessageW(::GetDlgItem(dialog, IDC_RUN_STOP), BM_CLICK, 0, 0);
        }
    }
};

TEST_F(DecisionInDialog, ASlowPlanIsShownAndStopGivesItUp) {
    struct Case {
        const char* fault;
        bool stop;
        bool restored;
    };
    const Case cases[] = {
        {"a plan of 1.5 s says so, and the question follows", false, true},
        {"中止 while it reads: nothing asked, nothing written", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder work;
        StoodFolder stood(work / "dest", archive);
        const std::string before = Snapshot(stood.dest);
        user.decisions = 0;
        PlanWatch::statuses.clear();
        PlanWatch::stop = c.stop;
        PlanWatch::stopped = PlanWatch::stopEnabled = PlanWatch::barMoving = false;
        dialog = std::make_unique<CVantrelDlg>(user);
        dialog->SetPlanFunction(&SlowPlan::Plan);
        ASSERT_TRUE(dialog->Create());
        user.dialog = PlanWatch::dialog = dialog->m_hWnd;
        user.files.push_back(archive.u16string());
        ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_SELECT), BM_CLICK, 0, 0);
        user.asked.clear();
        user.messageAnswers = {IDYES, IDYES, IDOK};
        user.folders.push_back(stood.dest.u16string());
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &PlanWatch::Tick);
        const ULONGLONG start = ::GetTickCount64();
        ::SendMessageW(::GetDlgItem(dialog->m_hWnd, IDC_RESTORE), BM_CLICK, 0, 0);
        const ULONGLONG waited = ::GetTickCount64() - start;
        ::KillTimer(nullptr, timer);
        PlanWatch::dialog = nullptr;
        ASSERT_TRUE(PumpUntil(dialog->m_hWnd, [&] { return !dialog->IsRestoreRunning(); }, 30000));
        EXPECT_NE(std::find(PlanWatch::statuses.begin(), PlanWatch::statuses.end(), dlgtext::kPlanning),
                  PlanWatch::statuses.end())
            << "the wait was not shown";
        EXPECT_TRUE(PlanWatch::stopEnabled) << "中止 not offered while the plan reads";
        EXPECT_TRUE(PlanWatch::barMoving) << "the bar does not show the wait";
        EXPECT_FALSE(::GetWindowLongPtrW(::GetDlgItem(dialog->m_hWnd, IDC_RUN_PROGRESS), GWL_STYLE) & PBS_MARQUEE)
            << "the bar is given back to the run";
        EXPECT_EQ(user.decisions, c.restored ? 1 : 0);
        if (c.restored) {
            EXPECT_EQ(Read(stood.dest / "Photos/gone.txt"), "made again");
        } else {
            EXPECT_LT(waited, 1500u) << "中止 waited for the plan";
            EXPECT_EQ(Snapshot(stood.dest), before);
            EXPECT_EQ(dialog->m_pRestoreThread, nullptr);
            EXPECT_EQ(MessageTexts(),
                      (std::vector<std::u16string>{dlgtext::kConfirmRestore, dlgtext::kConfirmOverwrite}));
        }
        EXPECT_EQ(WindowText(::GetDlgItem(dialog->m_hWnd, IDC_RUN_STATUS)) == dlgtext::kPlanning, false)
            << "the status line is given back";
        dialog.reset();
    }
}

}  // namespace
