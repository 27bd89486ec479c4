// The restore dialog driven through its own controls, as a user would: a
// scripted user answers every question and the test reads back what was
// asked and what the controls show.

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "app/vantrel_app.h"
#include "platform/text.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "tests/winui/scripted_user.h"
#include "ui/framework.h"
#include "ui/run_figures.h"
#include "ui/run_text.h"
#include "ui/taskbar_progress.h"
#include "ui/vantrel_dlg.h"

namespace {

using winuitest::Asked;
using winuitest::PumpPending;
using winuitest::PumpUntil;
using winuitest::ScriptedUser;
using winuitest::WindowText;

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = std::uint8_t(bytes[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// A backup file name for `originalPath`, encoded as the system's ANSI code
// page bytes (932 under the Japanese locale the tests run in).
std::u16string BackupName(const std::u16string& originalPath, const std::u16string& stamp = u"20131008081717") {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, W(originalPath), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, W(originalPath), -1, ansi.data(), size, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    const std::string encoded = Base64(ansi);
    return stamp + u"_1_" + std::u16string(encoded.begin(), encoded.end()) + u".zip";
}

std::u16string DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, path);
    return U16(path);
}

// A worker that the test holds between its two messages: it reports
// "started", waits until released, notes what its job held at that moment
// and reports the scripted result.
struct HeldRun {
    static inline HANDLE release = nullptr;
    static inline std::atomic<int> resultCode{0};
    static inline std::atomic<int> runs{0};
    static inline std::u16string destinationAtEnd;
    static inline std::u16string archiveAtEnd;

    static unsigned Proc(void* param) {
        auto* job = static_cast<RestoreJob*>(param);
        ++runs;
        job->observer->OnRestoreStarted();
        ::WaitForSingleObject(release, 20000);
        destinationAtEnd = job->destinationFolder;
        archiveAtEnd = job->archivePath;
        job->observer->OnRestoreFinished(resultCode);
        return 0;
    }
};

class RestoreDialog : public ::testing::Test {
protected:
    void SetUp() override {
        HeldRun::release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HeldRun::resultCode = 0;
        HeldRun::runs = 0;
    }
    void TearDown() override {
        ::SetEvent(HeldRun::release);
        if (dialog && dialog->IsRestoreRunning())
            PumpUntil(hwnd(), [&] { return !dialog->IsRestoreRunning(); });
        dialog.reset();
        ::CloseHandle(HeldRun::release);
    }

    void Open(WorkerProc proc = &HeldRun::Proc) {
        dialog = std::make_unique<CVantrelDlg>(user, proc);
        ASSERT_TRUE(dialog->Create()) << "template 102 did not load";
        user.dialog = dialog->m_hWnd;
    }
    HWND hwnd() const { return dialog ? dialog->m_hWnd : nullptr; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd(), id); }
    std::u16string Text(int id) const { return WindowText(Item(id)); }
    void Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }

    // Chooses `path` in the file-open dialog.
    void Select(const std::u16string& path) {
        user.files.push_back(path);
        Click(IDC_SELECT);
    }
    // Select, confirm, choose `folder` and (if asked) agree to overwrite.
    void StartRun(const std::u16string& folder) {
        user.messageAnswers = {IDYES, IDYES};
        user.folders.push_back(folder);
        Click(IDC_RESTORE);
    }
    // A real restore of `zip`, as the backup of C:\Data\Photos, into
    // `dest`: chosen, confirmed and started as the user does it (`proc`:
    // the engine, or the engine slowed down).
    void StartRealRestore(const testzip::ZipBuilder& zip, const testsupport::TempFolder& dest,
                          WorkerProc proc = &RestoreThreadProc) {
        const std::u16string name = BackupName(u"C:\\Data\\Photos");
        ASSERT_TRUE(testsupport::WriteFileBytes(temp.path() / std::filesystem::path(name), zip.Build()));
        Open(proc);
        Select(temp.path().u16string() + u"\\" + name);
        user.asked.clear();
        StartRun(dest.path().u16string());
    }
    bool WaitForRunEnd(DWORD ms = 20000) {
        return PumpUntil(hwnd(), [&] { return !dialog->IsRestoreRunning(); }, ms);
    }

    ScriptedUser user;
    std::unique_ptr<CVantrelDlg> dialog;
    testsupport::TempFolder temp;
};

// ---------------------------------------------------------------- template

struct ControlRow {
    const char* fault;
    int id;
    const wchar_t* kind;  // window class
    const char16_t* text;
    bool visible;
    RECT units;  // x, y, width, height in dialog units
};

const ControlRow kTemplate102[] = {
    {"hidden OK button", IDOK, L"Button", u"OK", false, {214, 183, 50, 16}},
    {"hidden Cancel button", IDCANCEL, L"Button", u"キャンセル", false, {262, 185, 50, 16}},
    {"archive path edit", IDC_ARCHIVE_PATH, L"Edit", u"", true, {31, 30, 195, 15}},
    {"select button", IDC_SELECT, L"Button", u"選択...", true, {232, 29, 35, 16}},
    {"backup time edit", IDC_BACKUP_TIME, L"Edit", u"", true, {89, 89, 128, 15}},
    {"hidden kind edit", IDC_BACKUP_KIND, L"Edit", u"", false, {135, 189, 128, 14}},
    {"hidden original path edit", IDC_ORIGINAL_PATH, L"Edit", u"", false, {115, 187, 183, 14}},
    {"restore button", IDC_RESTORE, L"Button", u"復元", true, {118, 146, 82, 31}},
    // Widened to hold their texts on one line (the label-fit test measures them).
    {"time label (full-width colon)", -1, L"Static", u"バックアップ時間：", true, {13, 91, 74, 12}},
    {"hidden kind label", -1, L"Static", u"形式：", false, {66, 185, 19, 11}},
    {"path label", -1, L"Static", u"パス：", true, {64, 120, 25, 10}},
    {"heading", -1, L"Static", u"バックアップファイルの選択", true, {123, 15, 106, 12}},
    {"restore folder edit", IDC_RESTORE_FOLDER, L"Edit", u"", true, {89, 120, 172, 13}},
    {"item name edit", IDC_BACKUP_NAME, L"Edit", u"", true, {89, 60, 175, 12}},
    {"name label", -1, L"Static", u"名前：", true, {60, 61, 31, 8}},
    {"clear button", IDC_CLEAR, L"Button", u"クリア", true, {271, 29, 33, 16}},
    // The view of a run, below the restore button.
    {"run's bar", IDC_RUN_PROGRESS, L"msctls_progress32", u"", true, {13, 186, 250, 10}},
    {"stop button", IDC_RUN_STOP, L"Button", u"中止", true, {271, 184, 33, 14}},
    {"run's status line", IDC_RUN_STATUS, L"Static", u"", true, {13, 200, 291, 10}},
    {"run's entry line", IDC_RUN_ENTRY, L"Static", u"", true, {13, 212, 291, 10}},
};

TEST_F(RestoreDialog, LiveWindowMatchesTemplate102) {
    Open();
    EXPECT_EQ(WindowText(hwnd()), kRestoreDialogTitle) << "caption garbled or without its ideographic space";
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd(), GWL_STYLE);
    const LONG_PTR wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_TRUE(::GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & WS_EX_APPWINDOW);

    RECT size{0, 0, 319, 232};  // x, y, width, height; grown for the run's view
    ::MapDialogRect(hwnd(), &size);
    RECT client;
    ::GetClientRect(hwnd(), &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0)), sizeof(font), &font);
    EXPECT_STREQ(font.lfFaceName, L"MS UI Gothic");

    // Children in creation order are the tab order.
    std::vector<HWND> children;
    for (HWND c = ::GetWindow(hwnd(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    ASSERT_EQ(children.size(), std::size(kTemplate102));
    for (std::size_t i = 0; i < children.size(); ++i) {
        const ControlRow& row = kTemplate102[i];
        HWND c = children[i];
        SCOPED_TRACE(row.fault);
        EXPECT_EQ(static_cast<int>(static_cast<short>(::GetDlgCtrlID(c))), row.id);
        wchar_t cls[64] = {};
        ::GetClassNameW(c, cls, 64);
        EXPECT_EQ(::lstrcmpiW(cls, row.kind), 0) << "class " << U16(cls).size();
        EXPECT_EQ(WindowText(c), row.text);
        const LONG_PTR s = ::GetWindowLongPtrW(c, GWL_STYLE);
        EXPECT_EQ((s & WS_VISIBLE) != 0, row.visible);
        if (row.kind == std::wstring(L"Edit")) {
            const LONG_PTR edit = ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;
            EXPECT_EQ(s & edit, edit) << "edits are read-only, scrolled, tab stops";
            // The edit turns a template's WS_BORDER into a sunken client edge.
            EXPECT_TRUE((s & WS_BORDER) || (::GetWindowLongPtrW(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) << "bordered";
        }
        if (row.id == IDOK) {
            EXPECT_EQ(s & 0x0F, BS_DEFPUSHBUTTON);
        }
        // The dialog manager converts position and size separately.
        RECT expected = row.units;
        ::MapDialogRect(hwnd(), &expected);
        RECT actual;
        ::GetWindowRect(c, &actual);
        ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right) << "width";
        EXPECT_EQ(actual.bottom - actual.top, expected.bottom) << "height";
    }
}

TEST_F(RestoreDialog, SystemMenuCarriesAboutItemAndIcon) {
    Open();
    HMENU menu = ::GetSystemMenu(hwnd(), FALSE);
    ASSERT_NE(menu, nullptr);
    wchar_t text[128] = {};
    ASSERT_GT(::GetMenuStringW(menu, IDM_ABOUTBOX, text, 128, MF_BYCOMMAND), 0);
    EXPECT_EQ(U16(text), u"バージョン情報 Sorvane(&A)...");
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_NE(::SendMessageW(hwnd(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(::SendMessageW(hwnd(), WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(dialog->m_hIcon));
}

// The About box runs its own modal loop; a timer of this thread finds it
// there, reads it and closes it.
struct AboutSeen {
    static inline HWND owner = nullptr;
    static inline bool found = false;
    static inline std::u16string caption;
    static inline std::vector<std::u16string> texts;
    static inline bool iconShown = false;
    static inline int ticks = 0;

    static BOOL CALLBACK Find(HWND window, LPARAM) {
        if (WindowText(window) != u"バージョン情報 Sorvane") return TRUE;
        found = true;
        caption = WindowText(window);
        owner = ::GetWindow(window, GW_OWNER);
        for (HWND c = ::GetWindow(window, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
            // The icon control's window text is the resource reference.
            if ((::GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                iconShown = ::SendMessageW(c, STM_GETICON, 0, 0) != 0;
                continue;
            }
            texts.push_back(WindowText(c));
        }
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
        ++ticks;
        if (!found) ::EnumThreadWindows(::GetCurrentThreadId(), &Find, 0);
        if (found || ticks > 250) ::KillTimer(nullptr, id);
    }
};

TEST_F(RestoreDialog, AboutBoxOpensFromSystemMenu) {
    Open();
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &AboutSeen::Tick);
    ::SendMessageW(hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ::KillTimer(nullptr, timer);
    ASSERT_TRUE(AboutSeen::found) << "no About box appeared";
    EXPECT_EQ(AboutSeen::owner, hwnd());
    EXPECT_TRUE(AboutSeen::iconShown);
    const std::vector<std::u16string> expected = {u"Sorvane Version 1.0.0.0", u"バックアップ復元ツール", u"OK"};
    EXPECT_EQ(AboutSeen::texts, expected);
    EXPECT_TRUE(::IsWindow(hwnd())) << "the restore dialog stays";
}

// ---------------------------------------------------------------- select

TEST_F(RestoreDialog, SelectShowsWhatTheNameTells) {
    struct Case {
        const char* fault;
        std::u16string originalPath;
        std::u16string folder;
        std::u16string name;
    };
    const Case cases[] = {
        {"plain folder", u"C:\\Users\\u\\Documents\\Work", u"C:\\Users\\u\\Documents\\", u"Work"},
        {"trailing backslash kept out of the name", u"C:\\Users\\u\\Documents\\Work\\", u"C:\\Users\\u\\Documents\\",
         u"Work"},
        {"Japanese path through code page 932", u"D:\\データ\\写真", u"D:\\データ\\", u"写真"},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        user.asked.clear();
        const std::u16string path = u"C:\\backups\\" + BackupName(c.originalPath);
        Select(path);
        ASSERT_EQ(user.asked.size(), 1u);
        EXPECT_EQ(user.asked[0].kind, Asked::kOpenFile);
        EXPECT_EQ(user.asked[0].text, u"バックアップファイル (*.zip)|*.zip||");
        EXPECT_EQ(user.asked[0].style, static_cast<UINT>(OFN_HIDEREADONLY));
        EXPECT_EQ(Text(IDC_ARCHIVE_PATH), path);
        EXPECT_EQ(Text(IDC_BACKUP_TIME), u"2013/10/08 08:17:17");
        EXPECT_EQ(Text(IDC_BACKUP_KIND), u"1");
        EXPECT_EQ(Text(IDC_ORIGINAL_PATH), c.originalPath);
        EXPECT_EQ(Text(IDC_RESTORE_FOLDER), c.folder);
        EXPECT_EQ(Text(IDC_BACKUP_NAME), c.name);
    }
}

TEST_F(RestoreDialog, RefusedNameWarnsAndKeepsPreviousSelection) {
    const std::u16string good = u"C:\\b\\" + BackupName(u"C:\\Data\\Photos");
    const std::u16string refused[] = {
        u"C:\\b\\20131008081717_1_RDpcRGF0YVxQaG90b3M=.ZIP",  // upper-case suffix
        u"C:\\b\\2013100808171_1_RDpcRGF0YVxQaG90b3M=.zip",   // 13-digit stamp
        u"C:\\b\\20131308081717_1_RDpcRGF0YVxQaG90b3M=.zip",  // month 13
        u"C:\\b\\20131008081717_1_.zip",                      // no encoded path
        u"C:\\b\\ordinary.zip",
    };
    Open();
    Select(good);
    for (const std::u16string& name : refused) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        user.asked.clear();
        Select(name);
        const auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text,
                  u"バックアップファイルの情報が読み取れませんでした。正しいバックアップファイルを指定してください。");
        EXPECT_EQ(messages[0].caption, AppTitle());
        EXPECT_EQ(messages[0].style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_EQ(messages[0].owner, hwnd());
        EXPECT_EQ(Text(IDC_ARCHIVE_PATH), good);
        EXPECT_EQ(Text(IDC_BACKUP_NAME), u"Photos");
        EXPECT_EQ(Text(IDC_RESTORE_FOLDER), u"C:\\Data\\");
    }
    // Members match the display again: a restore asks about the good archive.
    user.asked.clear();
    user.messageAnswers = {IDNO};
    Click(IDC_RESTORE);
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_EQ(user.Messages()[0].text, u"バックアップファイルを復元します。よろしいですか？");
}

TEST_F(RestoreDialog, DecoderErrorShowsGenericBoxAndDialogGoesOn) {
    Open();
    const std::u16string good = u"C:\\b\\" + BackupName(u"C:\\Data\\Photos");
    Select(good);
    user.asked.clear();
    // A time stamp past the year 3000 can't be converted: the decoder raises.
    Select(u"C:\\b\\" + BackupName(u"C:\\Data\\Other", u"30010101000000"));
    const auto messages = user.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kHandlerErrorText);
    EXPECT_EQ(messages[0].style, kHandlerErrorStyle);
    EXPECT_EQ(messages[0].owner, hwnd());
    EXPECT_TRUE(::IsWindow(hwnd()));
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), good);
    EXPECT_EQ(Text(IDC_BACKUP_NAME), u"Photos");
    // Still usable.
    const std::u16string next = u"C:\\b\\" + BackupName(u"C:\\Data\\Music");
    Select(next);
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), next);
    EXPECT_EQ(Text(IDC_BACKUP_NAME), u"Music");
}

TEST_F(RestoreDialog, CancelledFileDialogAndClear) {
    Open();
    const std::u16string good = u"C:\\b\\" + BackupName(u"C:\\Data\\Photos");
    Select(good);
    user.files.push_back(std::nullopt);
    Click(IDC_SELECT);
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), good) << "a cancelled file dialog changes nothing";
    Click(IDC_CLEAR);
    for (int id : {IDC_ARCHIVE_PATH, IDC_BACKUP_TIME, IDC_BACKUP_KIND, IDC_ORIGINAL_PATH, IDC_RESTORE_FOLDER,
                   IDC_BACKUP_NAME})
        EXPECT_EQ(Text(id), u"") << "control " << id;
    // Cleared members too: restore now asks for an archive.
    user.asked.clear();
    Click(IDC_RESTORE);
    ASSERT_EQ(user.asked.size(), 1u);
    EXPECT_EQ(user.asked[0].text, u"バックアップファイルを指定してください。");
}

// ---------------------------------------------------------------- restore questions

TEST_F(RestoreDialog, QuestionsBeforeARunStopWhereTheUserStops) {
    const std::u16string proposal = temp.WithSeparator();  // exists
    struct Case {
        const char* fault;
        bool selectFirst;
        std::deque<int> answers;
        std::deque<std::optional<std::u16string>> folders;
        std::vector<std::u16string> messages;
        std::size_t browses;
    };
    const Case cases[] = {
        {"no archive: only the warning", false, {}, {}, {u"バックアップファイルを指定してください。"}, 0},
        {"confirmation answered No", true, {IDNO}, {}, {u"バックアップファイルを復元します。よろしいですか？"}, 0},
        {"browser cancelled", true, {IDYES}, {std::nullopt}, {u"バックアップファイルを復元します。よろしいですか？"}, 1},
        {"chosen item is no file-system folder", true, {IDYES}, {u""},
         {u"バックアップファイルを復元します。よろしいですか？"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Open();
        if (c.selectFirst) Select(u"C:\\b\\" + BackupName(temp.path().u16string() + u"\\Photos"));
        user.asked.clear();
        user.messageAnswers = c.answers;
        user.folders = c.folders;
        Click(IDC_RESTORE);
        std::vector<std::u16string> texts;
        for (const Asked& a : user.Messages()) texts.push_back(a.text);
        EXPECT_EQ(texts, c.messages);
        EXPECT_EQ(user.Browses().size(), c.browses);
        if (!user.Browses().empty()) {
            EXPECT_EQ(user.Browses()[0].text, u"復元先フォルダの指定");
            EXPECT_EQ(user.Browses()[0].caption, proposal) << "browser opens on the proposal";
            EXPECT_EQ(user.Browses()[0].owner, hwnd());
        }
        // A worker is started inside the click's handler, so its thread
        // would exist by now; what the click queued is handled first.
        PumpPending(hwnd());
        EXPECT_EQ(dialog->m_pRestoreThread, nullptr) << "no worker may start";
        EXPECT_EQ(HeldRun::runs, 0);
        EXPECT_FALSE(dialog->IsRestoreRunning());
    }
}

TEST_F(RestoreDialog, OverwriteQuestionNoReopensBrowserOnProposal) {
    testsupport::TempFolder first, second;
    std::filesystem::create_directory(first / "Photos");  // in the way
    Open();
    Select(u"C:\\b\\" + BackupName(temp.path().u16string() + u"\\Photos"));
    const std::u16string proposal = Text(IDC_RESTORE_FOLDER);
    user.asked.clear();
    user.messageAnswers = {IDYES, IDNO};
    user.folders = {first.path().u16string(), second.path().u16string()};
    Click(IDC_RESTORE);
    std::vector<std::u16string> texts;
    for (const Asked& a : user.Messages()) texts.push_back(a.text);
    const std::vector<std::u16string> expected = {u"バックアップファイルを復元します。よろしいですか？",
                                                  u"既にファイルまたはフォルダが存在します。上書きしますか?"};
    EXPECT_EQ(texts, expected) << "a free target asks nothing more";
    EXPECT_EQ(user.Messages()[1].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    const auto browses = user.Browses();
    ASSERT_EQ(browses.size(), 2u);
    EXPECT_EQ(browses[0].caption, proposal);
    EXPECT_EQ(browses[1].caption, proposal) << "reopens on the proposal, not on the folder turned down";
    ASSERT_TRUE(PumpUntil(hwnd(), [] { return HeldRun::runs == 1; }));
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(HeldRun::destinationAtEnd, second.WithSeparator());
    EXPECT_EQ(Text(IDC_RESTORE_FOLDER), proposal) << "the display keeps the proposal";
}

TEST_F(RestoreDialog, OverwriteAnsweredYesRunsIntoThatFolder) {
    testsupport::TempFolder dest;
    std::filesystem::create_directory(dest / "Photos");
    Open();
    Select(u"C:\\b\\" + BackupName(u"C:\\Data\\Photos"));
    user.asked.clear();
    user.messageAnswers = {IDYES, IDYES};
    user.folders = {dest.path().u16string()};
    Click(IDC_RESTORE);
    EXPECT_EQ(user.Messages().size(), 2u);
    ASSERT_EQ(user.Browses().size(), 1u);
    EXPECT_EQ(user.Browses()[0].caption, DocumentsFolder()) << "a proposal that does not exist opens Documents";
    ASSERT_TRUE(PumpUntil(hwnd(), [] { return HeldRun::runs == 1; }));
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(HeldRun::destinationAtEnd, dest.WithSeparator());
}

// ---------------------------------------------------------------- during and after a run

TEST_F(RestoreDialog, NothingEndsTheDialogDuringARun) {
    testsupport::TempFolder dest;
    Open();
    const std::u16string archive = u"C:\\b\\" + BackupName(u"C:\\Data\\Photos");
    Select(archive);
    StartRun(dest.path().u16string());
    ASSERT_TRUE(PumpUntil(hwnd(), [&] { return !::IsWindowEnabled(Item(IDC_RESTORE)); }));
    EXPECT_EQ(Text(IDC_RESTORE), u"復元中...");

    struct Attempt {
        const char* fault;
        std::function<void(HWND)> act;
    };
    const Attempt attempts[] = {
        {"close box / Alt+F4", [](HWND d) { ::SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"WM_CLOSE", [](HWND d) { ::SendMessageW(d, WM_CLOSE, 0, 0); }},
        {"Esc", [](HWND d) { ::PostMessageW(::GetDlgItem(d, IDC_ARCHIVE_PATH), WM_KEYDOWN, VK_ESCAPE, 0); }},
        {"Enter", [](HWND d) { ::PostMessageW(::GetDlgItem(d, IDC_ARCHIVE_PATH), WM_KEYDOWN, VK_RETURN, 0); }},
        {"IDOK", [](HWND d) { ::SendMessageW(d, WM_COMMAND, IDOK, 0); }},
        {"IDCANCEL", [](HWND d) { ::SendMessageW(d, WM_COMMAND, IDCANCEL, 0); }},
    };
    // The close box asks whether to stop the run; No keeps it going.
    user.asked.clear();
    user.messageAnswers = {IDNO};
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(a.fault);
        a.act(hwnd());
        // Sent attempts are handled already, posted keys once the queue is.
        PumpPending(hwnd());
        ASSERT_TRUE(::IsWindow(hwnd()));
        EXPECT_EQ(dialog->EndResult(), -1);
    }
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_EQ(user.Messages()[0].text, u"復元を中止しますか？");

    // Select and clear stay usable but do not reach the worker's inputs.
    Select(u"C:\\b\\" + BackupName(u"C:\\Other\\Music"));
    Click(IDC_CLEAR);
    // A second click on the (disabled) restore button starts nothing.
    ::SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(IDC_RESTORE, BN_CLICKED), 0);

    user.asked.clear();
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(HeldRun::runs, 1);
    EXPECT_EQ(HeldRun::destinationAtEnd, dest.WithSeparator());
    EXPECT_EQ(HeldRun::archiveAtEnd, archive);
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_EQ(user.Messages()[0].text, u"バックアップデータの復元が完了しました。");

    // After the run the same ways close it again.
    ::PostMessageW(Item(IDC_ARCHIVE_PATH), WM_KEYDOWN, VK_ESCAPE, 0);
    PumpUntil(hwnd(), [&] { return !::IsWindow(hwnd()); }, 2000);
    EXPECT_EQ(dialog->EndResult(), IDCANCEL) << "Esc ends the dialog once no run lasts";
}

TEST_F(RestoreDialog, ResultBoxPerCodeAndButtonComesBackAfterIt) {
    struct Case {
        const char* fault;
        int code;
        const char16_t* text;
        UINT style;
    };
    const Case cases[] = {
        {"success", 0, u"バックアップデータの復元が完了しました。", MB_OK | MB_ICONINFORMATION},
        {"open failed", -3, u"バックアップデータの復元に失敗しました。", MB_OK | MB_ICONEXCLAMATION},
        {"count failed", -4, u"バックアップデータの復元に失敗しました。", MB_OK | MB_ICONEXCLAMATION},
        {"entry failed", -5, u"バックアップデータの復元に失敗しました。", MB_OK | MB_ICONEXCLAMATION},
        {"no archive", -6, u"バックアップデータの復元に失敗しました。", MB_OK | MB_ICONEXCLAMATION},
        {"unknown code is no success", 1, u"バックアップデータの復元に失敗しました。", MB_OK | MB_ICONEXCLAMATION},
    };
    testsupport::TempFolder dest;
    Open();
    Select(u"C:\\b\\" + BackupName(u"C:\\Data\\Photos"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        HeldRun::resultCode = c.code;
        ::ResetEvent(HeldRun::release);
        StartRun(dest.path().u16string());
        ASSERT_TRUE(PumpUntil(hwnd(), [&] { return dialog->IsRestoreRunning() && !::IsWindowEnabled(Item(IDC_RESTORE)); }));
        user.asked.clear();
        ::SetEvent(HeldRun::release);
        ASSERT_TRUE(WaitForRunEnd());
        const auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, c.text);
        EXPECT_EQ(messages[0].style, c.style);
        EXPECT_EQ(messages[0].owner, hwnd());
        EXPECT_FALSE(messages[0].restoreEnabled) << "button stays disabled while the box is up";
        EXPECT_EQ(messages[0].restoreText, u"復元中...");
        EXPECT_TRUE(::IsWindowEnabled(Item(IDC_RESTORE)));
        EXPECT_EQ(Text(IDC_RESTORE), u"復元");
        EXPECT_EQ(Text(IDC_RESTORE_FOLDER), u"C:\\Data\\");
    }
}

TEST_F(RestoreDialog, StrayResultMessageShowsNothing) {
    Open();
    ::SendMessageW(hwnd(), WM_RESTORE_STARTED, 0, 0);
    ::SendMessageW(hwnd(), WM_RESTORE_FINISHED, 0, 0);
    EXPECT_TRUE(user.Messages().empty()) << "no run was started, so nothing may be reported";
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_RESTORE)));
    EXPECT_EQ(Text(IDC_RESTORE), u"復元");
}

// ---------------------------------------------------------------- a real restore

TEST_F(RestoreDialog, RealRestoreOfSmallArchive) {
    testzip::ZipBuilder zip;
    zip.AddFolder("Photos/");
    zip.Add("Photos/a.txt", "first file");
    zip.Add("Photos/sub/b.txt", std::string(5000, 'b'), 8);
    testsupport::TempFolder dest;
    StartRealRestore(zip, dest);
    ASSERT_TRUE(WaitForRunEnd()) << "the worker did not finish in time";
    const auto messages = user.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, u"バックアップデータの復元が完了しました。");
    EXPECT_EQ(messages[1].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_FALSE(messages[1].restoreEnabled);
    EXPECT_EQ(messages[1].restoreText, u"復元中...");
    EXPECT_EQ(testsupport::ReadFileBytes(dest / "Photos/a.txt"), testzip::ToBytes("first file"));
    EXPECT_EQ(testsupport::ReadFileBytes(dest / "Photos/sub/b.txt"), testzip::ToBytes(std::string(5000, 'b')));
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_RESTORE)));
    EXPECT_EQ(Text(IDC_RESTORE), u"復元");
}

TEST_F(RestoreDialog, RealRestoreOfDamagedArchiveReportsFailure) {
    const std::u16string name = BackupName(u"C:\\Data\\Photos");
    ASSERT_TRUE(testsupport::WriteFileBytes(temp.path() / std::filesystem::path(name), testzip::ToBytes("not a zip")));
    testsupport::TempFolder dest;
    Open(&RestoreThreadProc);
    Select(temp.path().u16string() + u"\\" + name);
    user.asked.clear();
    StartRun(dest.path().u16string());
    ASSERT_TRUE(WaitForRunEnd());
    const auto messages = user.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, u"バックアップデータの復元に失敗しました。");
    EXPECT_EQ(messages[1].style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
}

}  // namespace

// ---------------------------------------------------------------- additions: taskbar, drops, hand-over

namespace {

// Stands in for the taskbar button: notes every call with the number of
// message boxes the user had been shown by then.
struct RecordingTaskbar : TaskbarProgress {
    struct Call {
        std::string what;  // "progress", "error", "clear"
        HWND window;
        std::uint64_t completed, total;
        std::size_t boxesBefore;
    };
    explicit RecordingTaskbar(ScriptedUser& u) : user(u) {}
    void ShowProgress(HWND w, std::uint64_t c, std::uint64_t t) override { Note("progress", w, c, t); }
    void ShowError(HWND w) override { Note("error", w, 0, 0); }
    void Clear(HWND w) override { Note("clear", w, 0, 0); }
    void Note(const char* what, HWND w, std::uint64_t c, std::uint64_t t) {
        calls.push_back({what, w, c, t, user.Messages().size()});
    }
    std::size_t Count(const std::string& what) const {
        std::size_t n = 0;
        for (const Call& c : calls) n += c.what == what;
        return n;
    }
    ScriptedUser& user;
    std::vector<Call> calls;
};

// A worker that reports a burst of progress, says how long the burst took
// and that it is over, and then waits to be released.
struct BurstRun {
    static inline HANDLE release = nullptr;
    static inline HANDLE burstOver = nullptr;
    static inline std::atomic<ULONGLONG> burstMilliseconds{0};
    static inline int updates = 1000;
    static unsigned Proc(void* param) {
        auto* job = static_cast<RestoreJob*>(param);
        job->observer->OnRestoreStarted();
        RestoreProgress p;
        p.entriesTotal = updates;
        p.bytesTotal = 0;  // no byte total: the bar goes by entries
        const ULONGLONG start = ::GetTickCount64();
        for (int i = 1; i <= updates; ++i) {
            p.entriesDone = i;
            job->observer->OnRestoreProgress(p);
        }
        burstMilliseconds = ::GetTickCount64() - start;
        ::SetEvent(burstOver);
        ::WaitForSingleObject(release, 20000);
        job->observer->OnRestoreFinished(RESTORE_OK);
        return 0;
    }
};

// A real HDROP as the shell makes it: DROPFILES followed by a wide,
// double-zero-terminated file list.
HDROP MakeDrop(const std::vector<std::u16string>& files) {
    std::u16string list;
    for (const auto& f : files) list += f + u'\0';
    list += u'\0';
    const SIZE_T size = sizeof(DROPFILES) + list.size() * sizeof(char16_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size() * sizeof(char16_t));
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

LRESULT SendCopyData(HWND dialog, ULONG_PTR tag, const void* data, DWORD bytes) {
    COPYDATASTRUCT cds{tag, bytes, const_cast<void*>(data)};
    return ::SendMessageW(dialog, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
}

LRESULT HandOver(HWND dialog, const std::u16string& path) {
    return SendCopyData(dialog, kArchiveHandoverTag, path.c_str(), static_cast<DWORD>((path.size() + 1) * 2));
}

}  // namespace

class DialogFromOutside : public RestoreDialog {
protected:
    void OpenWith(WorkerProc proc, TaskbarProgress* bar, const std::u16string& startArchive = u"") {
        dialog = std::make_unique<CVantrelDlg>(user, proc, bar);
        if (!startArchive.empty()) dialog->SetStartArchive(startArchive);
        ASSERT_TRUE(dialog->Create());
        user.dialog = dialog->m_hWnd;
    }
    // Handles what the last message made the dialog queue for itself (an
    // offered archive is selected from a message it posts to itself).
    void Settle() { PumpPending(hwnd()); }
    const std::u16string good = u"C:\\b\\" + BackupName(u"C:\\Data\\Photos");
    const std::u16string other = u"C:\\b\\" + BackupName(u"C:\\Data\\Music");
};

TEST_F(DialogFromOutside, TaskbarShowsProgressErrorAndClearsAfterTheResultBox) {
    struct Case {
        const char* fault;
        std::vector<std::uint8_t> archive;
        std::uint64_t finalCompleted, finalTotal;  // 0/0: no progress at all
        bool failed;
    };
    testzip::ZipBuilder files;
    files.AddFolder("Photos/");
    files.Add("Photos/a.txt", "first file");
    files.Add("Photos/sub/b.txt", std::string(5000, 'b'), 8);
    testzip::ZipBuilder empties;
    empties.AddFolder("Photos/");
    empties.Add("Photos/empty.txt", "");
    const Case cases[] = {
        {"by bytes when the total is known", files.Build(), 5010, 5010, false},
        {"by entries when no entry has bytes", empties.Build(), 2, 2, false},
        {"damaged archive: error state, no value", testzip::ToBytes("not a zip"), 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder folder, dest;
        const std::u16string name = BackupName(u"C:\\Data\\Photos");
        ASSERT_TRUE(testsupport::WriteFileBytes(folder.path() / std::filesystem::path(name), c.archive));
        RecordingTaskbar bar(user);
        OpenWith(&RestoreThreadProc, &bar);
        Select(folder.path().u16string() + u"\\" + name);
        user.asked.clear();
        StartRun(dest.path().u16string());
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(user.Messages().size(), 2u);  // confirmation, result
        ASSERT_FALSE(bar.calls.empty());
        for (const auto& call : bar.calls) {
            EXPECT_EQ(call.window, hwnd());
            if (call.what == "progress") {
                EXPECT_LE(call.completed, call.total);
                EXPECT_EQ(call.boxesBefore, 1u) << "progress after the result box";
            }
        }
        EXPECT_EQ(bar.calls.back().what, "clear");
        EXPECT_EQ(bar.calls.back().boxesBefore, 2u) << "cleared only once the result box was answered";
        EXPECT_EQ(bar.Count("clear"), 1u);
        EXPECT_EQ(bar.Count("error"), c.failed ? 1u : 0u);
        const auto last = bar.calls.end() - 2;  // the call before the clear
        if (c.failed) {
            EXPECT_EQ(last->what, "error");
            EXPECT_EQ(last->boxesBefore, 1u) << "red before the box, not after";
        } else {
            EXPECT_EQ(last->what, "progress");
            EXPECT_EQ(last->completed, c.finalCompleted);
            EXPECT_EQ(last->total, c.finalTotal);
        }
        dialog.reset();
    }
}

// A run that reports how far it came, is held, then fails.
struct ProgressThenFail {
    static unsigned Proc(void* param) {
        auto* job = static_cast<RestoreJob*>(param);
        job->observer->OnRestoreStarted();
        RestoreProgress p;
        p.entriesTotal = 2;
        p.entriesDone = 1;
        p.bytesTotal = 100;
        p.bytesDone = 50;
        job->observer->OnRestoreProgress(p);
        ::WaitForSingleObject(HeldRun::release, 20000);
        job->observer->OnRestoreFinished(RESTORE_ENTRY_FAILED);
        return 0;
    }
};

TEST_F(DialogFromOutside, AProgressMessageHandledInTheResultBoxLeavesTheButtonRed) {
    RecordingTaskbar bar(user);
    OpenWith(&ProgressThenFail::Proc, &bar);
    testsupport::TempFolder dest;
    Select(good);
    // A progress message still queued when the result box opens is
    // handled by the box's own message loop.
    user.inMessageBox = [&] {
        if (user.Messages().size() != 2) return;
        ::PostMessageW(hwnd(), WM_RESTORE_PROGRESS, 0, 0);
        PumpPending(hwnd());
    };
    StartRun(dest.path().u16string());
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    user.inMessageBox = nullptr;
    ASSERT_EQ(user.Messages().size(), 2u);
    bool red = false;
    for (const auto& call : bar.calls) {
        if (call.what == "error") red = true;
        if (call.what == "clear") red = false;
        EXPECT_FALSE(red && call.what == "progress") << "the plain bar shown over the red one";
    }
    EXPECT_EQ(bar.Count("error"), 1u);
}

TEST_F(DialogFromOutside, ProgressReachesTheTaskbarAtMostAFewTimesASecond) {
    BurstRun::release = HeldRun::release;
    BurstRun::burstOver = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RecordingTaskbar bar(user);
    OpenWith(&BurstRun::Proc, &bar);
    testsupport::TempFolder dest;
    Select(good);
    StartRun(dest.path().u16string());
    // Every message of the burst was posted before its end was signalled:
    // once the queue is handled, the taskbar has seen all it will see of it.
    ASSERT_TRUE(PumpUntil(hwnd(), [&] { return ::WaitForSingleObject(BurstRun::burstOver, 0) == WAIT_OBJECT_0; }));
    PumpPending(hwnd());
    ::CloseHandle(BurstRun::burstOver);
    // One at once, then at most one per 250 ms of the burst.
    const std::size_t allowed = 1 + static_cast<std::size_t>(BurstRun::burstMilliseconds / 250);
    EXPECT_GE(bar.Count("progress"), 1u);
    EXPECT_LE(bar.Count("progress"), allowed)
        << "1000 updates in " << BurstRun::burstMilliseconds << " ms reached the taskbar";
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    const auto last = bar.calls.end() - 2;
    EXPECT_EQ(last->what, "progress");
    EXPECT_EQ(last->completed, 1000u) << "the last value held back is shown at the end";
    EXPECT_EQ(last->total, 1000u);
}

TEST_F(DialogFromOutside, DroppedFilesSelectTheFirstFileOnly) {
    testsupport::TempFolder folder;
    struct Case {
        const char* fault;
        std::vector<std::u16string> files;
        bool duringRun;
        const char16_t* selected;  // what the archive field shows afterwards
        std::size_t warnings;
    };
    const std::u16string dir = folder.path().u16string();
    const Case cases[] = {
        {"one file", {other}, false, other.c_str(), 0},
        {"several files: the first", {other, u"C:\\b\\x.zip"}, false, other.c_str(), 0},
        {"a folder does nothing", {dir, other}, false, good.c_str(), 0},
        {"a name that is no backup's warns", {u"C:\\b\\ordinary.zip"}, false, good.c_str(), 1},
        {"ignored during a run", {other}, true, good.c_str(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ::ResetEvent(HeldRun::release);
        Open();
        Select(good);
        testsupport::TempFolder dest;
        if (c.duringRun) {
            StartRun(dest.path().u16string());
            ASSERT_TRUE(PumpUntil(hwnd(), [&] { return !::IsWindowEnabled(Item(IDC_RESTORE)); }));
        }
        user.asked.clear();
        EXPECT_EQ(::SendMessageW(hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(c.files)), 0), 0);
        Settle();
        EXPECT_EQ(Text(IDC_ARCHIVE_PATH), c.selected);
        EXPECT_EQ(user.Messages().size(), c.warnings);
        if (c.warnings) {
            EXPECT_EQ(user.Messages()[0].text, dlgtext::kUnreadableName);
        }
        ::SetEvent(HeldRun::release);
        if (c.duringRun) {
            ASSERT_TRUE(WaitForRunEnd());
            EXPECT_EQ(HeldRun::archiveAtEnd, good);
        }
        dialog.reset();
    }
}

TEST_F(DialogFromOutside, HandedOverPathIsCheckedAndSelectedOutsideARun) {
    const std::u16string withInnerZero = other.substr(0, 5) + u'\0' + other.substr(5);
    const std::u16string tooLong = u"C:\\" + std::u16string(kHandedPathMaxUnits, u'a');
    const std::u16string noTerminator = other;  // sent without its zero
    struct Case {
        const char* fault;
        ULONG_PTR tag;
        const void* data;
        DWORD bytes;
        LRESULT answer;
        bool selected;
    };
    const Case cases[] = {
        {"valid path", kArchiveHandoverTag, other.c_str(), DWORD((other.size() + 1) * 2), TRUE, true},
        {"another program's tag", kArchiveHandoverTag + 1, other.c_str(), DWORD((other.size() + 1) * 2), FALSE, false},
        {"no terminator", kArchiveHandoverTag, noTerminator.c_str(), DWORD(noTerminator.size() * 2), FALSE, false},
        {"odd byte count", kArchiveHandoverTag, other.c_str(), DWORD((other.size() + 1) * 2 - 1), FALSE, false},
        {"inner zero", kArchiveHandoverTag, withInnerZero.c_str(), DWORD((withInnerZero.size() + 1) * 2), FALSE, false},
        {"empty path", kArchiveHandoverTag, u"", 2, FALSE, false},
        {"relative path", kArchiveHandoverTag, u"b\\x.zip", 16, FALSE, false},
        {"longer than any path", kArchiveHandoverTag, tooLong.c_str(), DWORD((tooLong.size() + 1) * 2), FALSE, false},
        {"no data", kArchiveHandoverTag, nullptr, 0, FALSE, false},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Click(IDC_CLEAR);
        EXPECT_EQ(SendCopyData(hwnd(), c.tag, c.data, c.bytes), c.answer);
        Settle();
        EXPECT_EQ(Text(IDC_ARCHIVE_PATH), c.selected ? other : u"");
        EXPECT_EQ(Text(IDC_BACKUP_NAME), c.selected ? u"Music" : u"");
    }
}

TEST_F(DialogFromOutside, HandedOverPathIsIgnoredDuringARunOrAQuestion) {
    // During a run.
    Open();
    Select(good);
    testsupport::TempFolder dest;
    StartRun(dest.path().u16string());
    ASSERT_TRUE(PumpUntil(hwnd(), [&] { return !::IsWindowEnabled(Item(IDC_RESTORE)); }));
    EXPECT_EQ(HandOver(hwnd(), other), TRUE);
    Settle();
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), good);
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(HeldRun::archiveAtEnd, good);
    Settle();
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), good) << "nothing was kept for after the run";

    // While the confirmation is up: a real box runs a message loop, which
    // this user imitates. The answer was given for `good`; `other` must not
    // slip in under it.
    struct PumpingUser : ScriptedUser {
        std::function<void()> whileAsking;
        int ShowMessage(HWND o, const std::u16string& t, const std::u16string& c, UINT s) override {
            if (whileAsking) whileAsking();
            return ScriptedUser::ShowMessage(o, t, c, s);
        }
    } pumping;
    dialog.reset();
    ::ResetEvent(HeldRun::release);
    dialog = std::make_unique<CVantrelDlg>(pumping, &HeldRun::Proc);
    ASSERT_TRUE(dialog->Create());
    pumping.files.push_back(good);
    Click(IDC_SELECT);
    pumping.whileAsking = [&] {
        HandOver(hwnd(), other);
        Settle();
    };
    pumping.messageAnswers = {IDYES, IDYES};
    pumping.folders.push_back(dest.path().u16string());
    Click(IDC_RESTORE);
    pumping.whileAsking = nullptr;
    ::SetEvent(HeldRun::release);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(HeldRun::archiveAtEnd, good);
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), good);
}

TEST_F(DialogFromOutside, StartArchiveIsSelectedOnceTheDialogShows) {
    struct Case {
        const char* fault;
        std::u16string start;
        const char16_t* shown;
        std::size_t warnings;
    };
    const Case cases[] = {
        {"a backup fills the fields", good, good.c_str(), 0},
        {"a name that is no backup's warns over the open dialog", u"C:\\b\\ordinary.zip", u"", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        user.asked.clear();
        OpenWith(&HeldRun::Proc, nullptr, c.start);
        Settle();
        EXPECT_EQ(Text(IDC_ARCHIVE_PATH), c.shown);
        ASSERT_EQ(user.Messages().size(), c.warnings);
        if (c.warnings) {
            EXPECT_EQ(user.Messages()[0].owner, hwnd());
            EXPECT_EQ(user.Messages()[0].text, dlgtext::kUnreadableName);
        } else {
            EXPECT_EQ(Text(IDC_BACKUP_NAME), u"Photos");
            EXPECT_EQ(Text(IDC_RESTORE_FOLDER), u"C:\\Data\\");
        }
        dialog.reset();
    }
}

TEST_F(DialogFromOutside, IconsAreLoadedAtTheSizesTheSystemMetricsGive) {
    Open();
    struct Case {
        const char* fault;
        WPARAM which;
        int cx, cy;
    };
    const Case cases[] = {
        {"big icon", ICON_BIG, SM_CXICON, SM_CYICON},
        {"small icon not scaled from the big one", ICON_SMALL, SM_CXSMICON, SM_CYSMICON},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        HICON icon = reinterpret_cast<HICON>(::SendMessageW(hwnd(), WM_GETICON, c.which, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        if (info.hbmColor) ::DeleteObject(info.hbmColor);
        if (info.hbmMask) ::DeleteObject(info.hbmMask);
        EXPECT_EQ(bitmap.bmWidth, ::GetSystemMetrics(c.cx));
        EXPECT_EQ(bitmap.bmHeight, ::GetSystemMetrics(c.cy));
    }
}

namespace {

// Deep folders hold backups too: a path past 260 units, handed over by a
// second instance or dropped, is taken whole.
TEST_F(DialogFromOutside, ArchivePathsPastTheOldLimitAreTakenWhole) {
    const std::u16string deep = u"C:\\" + std::u16string(150, u'深') + u"\\" + std::u16string(150, u'd') + u"\\" +
                                BackupName(u"C:\\Data\\Music");
    ASSERT_GT(deep.size(), 300u);
    Open();
    EXPECT_EQ(HandOver(hwnd(), deep), TRUE);
    Settle();
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), deep);
    EXPECT_EQ(Text(IDC_BACKUP_NAME), u"Music");

    Click(IDC_CLEAR);
    ::SendMessageW(hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({deep})), 0);
    Settle();
    EXPECT_EQ(Text(IDC_ARCHIVE_PATH), deep);
}

}  // namespace

// ---------------------------------------------------------------- the run's view, stopping, what happened

namespace {

// The real engine, slowed down as a slow disk would slow it: each entry it
// takes up waits a while first, so that a test sees the run while it goes.
struct SlowRun {
    static inline std::atomic<int> entryDelayMs{30};
    struct SlowObserver final : RestoreObserver {
        explicit SlowObserver(RestoreObserver* o) : inner(o) {}
        void OnRestoreStarted() override { inner->OnRestoreStarted(); }
        void OnRestoreFinished(int code) override { inner->OnRestoreFinished(code); }
        void OnRestoreProgress(const RestoreProgress& p) override { inner->OnRestoreProgress(p); }
        void OnEntryStarted(std::int32_t index, const std::u16string& name) override {
            ::Sleep(static_cast<DWORD>(entryDelayMs.load()));
            inner->OnEntryStarted(index, name);
        }
        bool WantsByteTotal() const override { return inner->WantsByteTotal(); }
        RestoreObserver* inner;
    };
    static unsigned Proc(void* param) {
        auto* job = static_cast<RestoreJob*>(param);
        SlowObserver slow(job->observer);
        job->observer = &slow;
        RestoreThreadProc(job);
        return 0;
    }
};

// The session ends (logoff, shutdown) during a real run: the run stops
// the way Ctrl-C stops the console's, before the handler returns and the
// process may go. No box is shown; only complete entries stay. The engine
// is slowed down (each entry waits a while before it starts), or on a fast
// disk the run could be over before the session ends.
TEST_F(RestoreDialog, EndingSessionStopsTheRunAndLeavesOnlyCompleteEntries) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 12; ++i) {
        std::string data;
        for (unsigned k = 0; data.size() < (3u << 20); ++k) data += std::to_string(k * 2654435761u + i) + " line\n";
        entries.emplace_back("Photos/big" + std::to_string(i) + ".bin", data);
    }
    testzip::ZipBuilder zip;
    for (const auto& [name, data] : entries) zip.Add(name, data, 8);
    testsupport::TempFolder dest;
    SlowRun::entryDelayMs = 200;
    StartRealRestore(zip, dest, &SlowRun::Proc);
    ASSERT_TRUE(PumpUntil(hwnd(), [&] { return std::filesystem::exists(dest / "Photos/big1.bin"); }))
        << "the run did not get going";
    ::SendMessageW(hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    ::SendMessageW(hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // The handler has returned: the worker must be done.
    ASSERT_NE(dialog->m_pRestoreThread, nullptr);
    EXPECT_EQ(::WaitForSingleObject(dialog->m_pRestoreThread->Handle(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(user.Messages().size(), 1u) << "a result box was shown while the session ends";
    std::size_t kept = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(dest.path())) {
        if (!item.is_regular_file()) continue;
        const std::string file = item.path().filename().string();
        const auto at = std::find_if(entries.begin(), entries.end(),
                                     [&](const auto& e) { return e.first == "Photos/" + file; });
        ASSERT_NE(at, entries.end()) << file;
        EXPECT_EQ(testsupport::ReadFileBytes(item.path()), testzip::ToBytes(at->second)) << file << " cut short";
        ++kept;
    }
    EXPECT_LT(kept, entries.size()) << "the run was not stopped";
}

// `count` files of `size` bytes each below Photos/, deflated.
std::vector<std::pair<std::string, std::string>> ManyFiles(int count, std::size_t size) {
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < count; ++i) {
        std::string data;
        for (unsigned k = 0; data.size() < size; ++k) data += std::to_string(k * 2654435761u + i) + ",";
        data.resize(size);
        files.emplace_back("Photos/f" + std::to_string(100 + i) + ".bin", data);
    }
    return files;
}

int BarPos(HWND dialog) {
    return static_cast<int>(::SendDlgItemMessageW(dialog, IDC_RUN_PROGRESS, PBM_GETPOS, 0, 0));
}

// Each regular file below `folder` is one of `files`, byte for byte; how
// many there are.
std::size_t CountCompleteFiles(const std::filesystem::path& folder,
                               const std::vector<std::pair<std::string, std::string>>& files) {
    std::size_t kept = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        const std::string name = "Photos/" + item.path().filename().string();
        const auto at = std::find_if(files.begin(), files.end(), [&](const auto& f) { return f.first == name; });
        EXPECT_NE(at, files.end()) << "a file the archive does not hold: " << name;
        if (at == files.end()) continue;
        EXPECT_EQ(testsupport::ReadFileBytes(item.path()), testzip::ToBytes(at->second)) << name << " cut short";
        ++kept;
    }
    return kept;
}

class DialogRunView : public RestoreDialog {
protected:
    void StartSlowRestore(const std::vector<std::pair<std::string, std::string>>& files,
                          const testsupport::TempFolder& dest) {
        testzip::ZipBuilder zip;
        for (const auto& [name, data] : files) zip.Add(name, data, 8);
        const std::u16string name = BackupName(u"C:\\Data\\Photos");
        ASSERT_TRUE(testsupport::WriteFileBytes(temp.path() / std::filesystem::path(name), zip.Build()));
        Open(&SlowRun::Proc);
        Select(temp.path().u16string() + u"\\" + name);
        EXPECT_FALSE(::IsWindowEnabled(Item(IDC_RUN_STOP))) << "中止 enabled with no run";
        user.asked.clear();
        StartRun(dest.path().u16string());
        // Only the confirmation takes an answer; the rest are the test's.
        user.messageAnswers.clear();
    }
};

TEST_F(DialogRunView, BarAndStatusFollowTheRunAndTheOutcomeStays) {
    SlowRun::entryDelayMs = 50;
    const auto files = ManyFiles(90, 20000);
    testsupport::TempFolder dest;
    StartSlowRestore(files, dest);
    EXPECT_EQ(BarPos(hwnd()), 0);
    std::vector<int> bar;
    std::vector<std::u16string> statuses;
    bool stopEnabled = true, entryNamedAFile = true, timeLeftShown = false;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(PumpUntil(hwnd(), [&] {
        if (!dialog->IsRestoreRunning()) return true;
        bar.push_back(BarPos(hwnd()));
        const std::u16string status = Text(IDC_RUN_STATUS);
        if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
        timeLeftShown = timeLeftShown || status.find(u"残り 約") != std::u16string::npos ||
                        status.find(u"残り 数秒") != std::u16string::npos;
        const std::u16string entry = Text(IDC_RUN_ENTRY);
        if (!entry.empty() && entry.rfind(u"Photos\\f", 0) != 0) entryNamedAFile = false;
        if (user.Messages().empty()) stopEnabled = stopEnabled && ::IsWindowEnabled(Item(IDC_RUN_STOP));
        return false;
    }, 60000));
    const double seconds = (::GetTickCount64() - start) / 1000.0;
    ASSERT_GE(seconds, 4.0) << "the run went too fast to be watched";

    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end())) << "the bar went back";
    EXPECT_TRUE(std::any_of(bar.begin(), bar.end(), [](int p) { return p > 0 && p < kBarRange; }))
        << "the bar did not move while the run went";
    EXPECT_GE(statuses.size(), 4u) << "the status line did not change";
    // At most four updates a second, plus the first and the last.
    EXPECT_LE(statuses.size(), static_cast<std::size_t>(seconds * 4) + 3);
    EXPECT_TRUE(timeLeftShown) << "no time left in " << seconds << " s of a steady run";
    EXPECT_TRUE(entryNamedAFile) << "the entry line showed something else than an entry's path";
    EXPECT_TRUE(stopEnabled) << "中止 was disabled during the run";

    ASSERT_EQ(user.Messages().size(), 2u);
    EXPECT_EQ(user.Messages()[1].text, u"バックアップデータの復元が完了しました。");
    EXPECT_EQ(CountCompleteFiles(dest.path(), files), files.size());
    EXPECT_EQ(BarPos(hwnd()), kBarRange);
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_RUN_STOP)));
    const std::u16string done = Text(IDC_RUN_STATUS);
    EXPECT_EQ(done.rfind(u"90 項目（1.7 MB）を復元しました。所要時間 ", 0), 0u) << platform::Utf16ToUtf8(done);
    EXPECT_EQ(Text(IDC_RUN_ENTRY), u"");

    // The outcome stays, also when a name that is no backup's is refused;
    // the next archive chosen clears it.
    Select(u"C:\\b\\ordinary.zip");
    EXPECT_EQ(Text(IDC_RUN_STATUS), done);
    Select(u"C:\\b\\" + BackupName(u"C:\\Data\\Music"));
    EXPECT_EQ(Text(IDC_RUN_STATUS), u"");
    EXPECT_EQ(BarPos(hwnd()), 0);
}

TEST_F(DialogRunView, StopAsksAndYesKeepsOnlyCompleteEntries) {
    struct Case {
        const char* fault;
        bool closeBox;  // the close box (Alt+F4) instead of 中止
        int answer;
        bool stopped;
    };
    const Case cases[] = {
        {"中止, Yes: stopped, complete entries only", false, IDYES, true},
        {"中止, No: the run goes on to success", false, IDNO, false},
        {"close box, Yes: stopped, then the dialog closes", true, IDYES, true},
        {"close box, No: the run goes on, the dialog stays", true, IDNO, false},
    };
    SlowRun::entryDelayMs = 30;
    const auto files = ManyFiles(40, 100000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder dest;
        StartSlowRestore(files, dest);
        // Early in the run: the 36 entries still to come take over a second,
        // time enough for the question even on a loaded machine.
        ASSERT_TRUE(PumpUntil(hwnd(), [&] { return std::filesystem::exists(dest / "Photos/f103.bin"); }))
            << "the run did not get going";
        ASSERT_TRUE(::IsWindowEnabled(Item(IDC_RUN_STOP)));
        user.asked.clear();
        user.messageAnswers = {c.answer};
        if (c.closeBox) {
            ::SendMessageW(hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            Click(IDC_RUN_STOP);
        }
        ASSERT_TRUE(WaitForRunEnd(60000));
        const auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].text, u"復元を中止しますか？");
        EXPECT_EQ(messages[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
        EXPECT_EQ(messages[0].caption, AppTitle());
        const std::size_t kept = CountCompleteFiles(dest.path(), files);
        if (c.stopped) {
            EXPECT_EQ(messages[1].text, u"復元を中止しました。") << "not the failure text: the user asked for it";
            EXPECT_EQ(messages[1].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
            EXPECT_LT(kept, files.size()) << "the run was not stopped";
        } else {
            EXPECT_EQ(messages[1].text, u"バックアップデータの復元が完了しました。");
            EXPECT_EQ(kept, files.size());
        }
        if (c.closeBox && c.stopped) {
            PumpUntil(hwnd(), [&] { return !::IsWindow(hwnd()); }, 5000);
            EXPECT_EQ(dialog->EndResult(), IDCANCEL) << "the dialog stays after a stop from the close box";
        } else {
            PumpPending(hwnd());
            EXPECT_EQ(dialog->EndResult(), -1);
            EXPECT_FALSE(::IsWindowEnabled(Item(IDC_RUN_STOP)));
            if (c.stopped) {
                // The count is of entries kept whole on disk.
                EXPECT_EQ(Text(IDC_RUN_STATUS),
                          StoppedText(static_cast<std::int32_t>(kept), static_cast<std::int32_t>(files.size()), {}));
                EXPECT_LT(BarPos(hwnd()), kBarRange);
            }
        }
        dialog.reset();
    }
}

TEST_F(DialogRunView, RunEndingWhileTheStopQuestionIsUpIsShownAfterTheAnswer) {
    // A real box runs a message loop: the worker's last message arrives
    // inside it. Its result comes after the question, not on top of it.
    struct PumpingUser : ScriptedUser {
        std::function<void()> whileAsking;
        int ShowMessage(HWND o, const std::u16string& t, const std::u16string& c, UINT s) override {
            if (whileAsking) std::exchange(whileAsking, nullptr)();
            return ScriptedUser::ShowMessage(o, t, c, s);
        }
    } pumping;
    dialog = std::make_unique<CVantrelDlg>(pumping, &HeldRun::Proc);
    ASSERT_TRUE(dialog->Create());
    pumping.dialog = hwnd();
    pumping.files.push_back(u"C:\\b\\" + BackupName(u"C:\\Data\\Photos"));
    Click(IDC_SELECT);
    testsupport::TempFolder dest;
    pumping.messageAnswers = {IDYES};
    pumping.folders.push_back(dest.path().u16string());
    Click(IDC_RESTORE);
    ASSERT_TRUE(PumpUntil(hwnd(), [&] { return !::IsWindowEnabled(Item(IDC_RESTORE)); }));
    pumping.asked.clear();
    pumping.messageAnswers = {IDYES};
    pumping.whileAsking = [&] {
        ::SetEvent(HeldRun::release);
        EXPECT_TRUE(dialog->m_pRestoreThread->WaitWhilePumping(10000)) << "the worker's last message was not taken";
    };
    Click(IDC_RUN_STOP);
    ASSERT_TRUE(WaitForRunEnd());
    std::vector<std::u16string> texts;
    for (const Asked& a : pumping.Messages()) texts.push_back(a.text);
    const std::vector<std::u16string> expected = {u"復元を中止しますか？", u"バックアップデータの復元が完了しました。"};
    EXPECT_EQ(texts, expected) << "the run had ended before the Yes: it succeeded";
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_RESTORE)));
    pumping.asked.clear();
    ::SendMessageW(hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(pumping.Messages().empty()) << "asked to stop a run that is over";
    dialog.reset();
}

TEST_F(DialogRunView, FailedRunNamesTheEntryAndTheReason) {
    struct Case {
        const char* fault;
        testzip::Bytes archive;
        int code;
        RestoreFailure failure;  // what the reason text is made from
        const char16_t* entry;   // the entry line; null: the archive's path
    };
    testzip::ZipBuilder zip;
    zip.Add("Photos/a.txt", "first file");
    testzip::Entry& damaged = zip.Add("Photos/sub/b.txt", std::string(5000, 'b'), 8);
    damaged.localOverride.crc32 = damaged.centralOverride.crc32 = 1;
    zip.Add("Photos/c.txt", "third");
    RestoreFailure crc;
    crc.reason = EntryFailure::kExtractFailed;
    crc.extractFailure = ExtractFailure::kCrcMismatch;
    const Case cases[] = {
        {"CRC-32 mismatch in the second entry", zip.Build(), RESTORE_ENTRY_FAILED, crc, u"Photos\\sub\\b.txt"},
        {"no ZIP archive at all", testzip::ToBytes("not a zip"), RESTORE_OPEN_FAILED, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        testsupport::TempFolder folder, dest;
        const std::u16string name = BackupName(u"C:\\Data\\Photos");
        ASSERT_TRUE(testsupport::WriteFileBytes(folder.path() / std::filesystem::path(name), c.archive));
        Open(&RestoreThreadProc);
        Select(folder.path().u16string() + u"\\" + name);
        user.asked.clear();
        StartRun(dest.path().u16string());
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(user.Messages().size(), 2u);
        EXPECT_EQ(user.Messages()[1].text, u"バックアップデータの復元に失敗しました。") << "the text's own sentence";
        EXPECT_EQ(Text(IDC_RUN_STATUS), FailedText(c.code, c.failure, true));
        const std::u16string entry = Text(IDC_RUN_ENTRY);
        if (c.entry) {
            EXPECT_EQ(entry, c.entry);
        } else {
            // The archive's path, or as much of its start and end as fits.
            const std::u16string path = folder.path().u16string() + u"\\" + name;
            const std::size_t cut = entry.find(u'…');
            EXPECT_TRUE(entry == path || (cut != std::u16string::npos && path.rfind(entry.substr(0, cut), 0) == 0))
                << platform::Utf16ToUtf8(entry);
        }
        EXPECT_LT(BarPos(hwnd()), kBarRange) << "a failed run filled the bar";
        dialog.reset();
    }
}

}  // namespace
