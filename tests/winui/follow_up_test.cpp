// The restore dialog's next step after a run that did not restore
// everything: the button that finishes the run, the run it starts (the
// real engine, on archives with damaged entries, and after a stop), the
// list of what that run left and its saved file; and the texts of that
// part whole at each DPI and font a Japanese Windows uses.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "tests/winui/scripted_user.h"
#include "ui/follow_up_view.h"
#include "ui/framework.h"
#include "ui/run_report.h"
#include "ui/run_text.h"
#include "ui/vantrel_dlg.h"

namespace {

using winuitest::Asked;
using winuitest::PumpUntil;
using winuitest::ScriptedUser;
using winuitest::WindowText;
namespace fs = std::filesystem;

// The backup of D:\Data\Photos taken 2013/10/08 08:17:17.
constexpr char16_t kBackupName[] = u"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip";

constexpr char16_t kConfirm[] = u"バックアップファイルを復元します。よろしいですか？";
constexpr char16_t kOverwrite[] = u"既にファイルまたはフォルダが存在します。上書きしますか?";
constexpr char16_t kFailed[] = u"バックアップデータの復元に失敗しました。";
constexpr char16_t kSucceeded[] = u"バックアップデータの復元が完了しました。";

std::vector<std::u16string> Texts(const std::vector<Asked>& asked) {
    std::vector<std::u16string> texts;
    for (const Asked& a : asked) texts.push_back(a.text);
    return texts;
}

std::string Data(int i, std::size_t size) {
    std::string data;
    for (unsigned k = 0; data.size() < size; ++k) data += std::to_string(k * 2654435761u + i) + ",";
    data.resize(size);
    return data;
}

std::string FileName(int i) { return "Photos/f" + std::to_string(100 + i) + ".bin"; }

// Which file stands at a path, and when it was last written.
struct Stamp {
    platform::FileIdentity identity;
    FILETIME written{};
    bool operator==(const Stamp& o) const {
        return identity == o.identity && ::CompareFileTime(&written, &o.written) == 0;
    }
};

std::optional<Stamp> StampOf(const fs::path& path) {
    Stamp stamp;
    platform::File file = platform::File::OpenForReading(path.u16string());
    if (!file.IsOpen() || !file.GetIdentity(stamp.identity)) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    stamp.written = data.ftLastWriteTime;
    return stamp;
}

// The real engine, slowed as a slow disk would slow it (each entry waits
// before it starts), so that a stop comes while the run goes.
struct SlowEngine {
    static inline std::atomic<int> entryDelayMs{30};
    static inline std::atomic<int> confirmed{0};  // entries the run has confirmed
    struct SlowObserver final : RestoreObserver {
        explicit SlowObserver(RestoreObserver* o) : inner(o) {}
        void OnRestoreStarted() override { inner->OnRestoreStarted(); }
        void OnRestoreFinished(int code) override { inner->OnRestoreFinished(code); }
        void OnRestoreProgress(const RestoreProgress& p) override { inner->OnRestoreProgress(p); }
        void OnEntryStarted(std::int32_t index, const std::u16string& name) override {
            ::Sleep(static_cast<DWORD>(entryDelayMs.load()));
            inner->OnEntryStarted(index, name);
        }
        void OnEntryDone(std::int32_t index, EntryOutcome outcome) override {
            ++confirmed;
            inner->OnEntryDone(index, outcome);
        }
        void OnEntryFailed(const RestoreFailure& failure) override { inner->OnEntryFailed(failure); }
        bool WantsByteTotal() const override { return inner->WantsByteTotal(); }
        RestoreObserver* inner;
    };
    static unsigned Proc(void* param) {
        auto* job = static_cast<RestoreJob*>(param);
        confirmed = 0;
        SlowObserver slow(job->observer);
        job->observer = &slow;
        RestoreThreadProc(job);
        return 0;
    }
};

// A worker that ends as the test says, with the failure the test gives,
// and notes what each job it ran held.
struct ScriptedEnd {
    static inline int code = 0;
    static inline EntryFailure reason = EntryFailure::kNone;
    static inline std::vector<RestoreJob> jobs;
    static unsigned Proc(void* param) {
        auto* job = static_cast<RestoreJob*>(param);
        jobs.push_back(*job);
        job->observer->OnRestoreStarted();
        job->failure.entryIndex = 1;
        job->failure.entryName = u"Photos/b.txt";
        job->failure.reason = reason;
        job->resultCode = code;
        job->observer->OnRestoreFinished(code);
        return 0;
    }
};

class FollowUpDialog : public ::testing::Test {
protected:
    void TearDown() override {
        if (dialog && dialog->IsRestoreRunning()) WaitForRunEnd();
        dialog.reset();
    }
    void Open(WorkerProc proc) {
        dialog = std::make_unique<CVantrelDlg>(user, proc);
        ASSERT_TRUE(dialog->Create());
        user.dialog = dialog->m_hWnd;
    }
    HWND hwnd() const { return dialog->m_hWnd; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd(), id); }
    std::u16string Text(int id) const { return WindowText(Item(id)); }
    bool Shown(int id) const { return Item(id) && ::IsWindowVisible(Item(id)); }
    void Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
    bool WaitForRunEnd(DWORD ms = 60000) {
        return PumpUntil(hwnd(), [&] { return !dialog->IsRestoreRunning(); }, ms);
    }
    std::u16string ArchivePath() const { return temp.path().u16string() + u"\\" + kBackupName; }
    // Chooses the archive and restores it into `dest`, Yes to every question.
    void Restore(const fs::path& dest) {
        user.files.push_back(ArchivePath());
        Click(IDC_SELECT);
        user.asked.clear();
        user.messageAnswers = {IDYES, IDYES};
        user.folders.push_back(dest.u16string());
        Click(IDC_RESTORE);
    }
    int ClientHeight() const {
        RECT client{};
        ::GetClientRect(hwnd(), &client);
        return client.bottom;
    }
    int TemplateHeight() const {
        RECT size{0, 0, 319, 232};
        ::MapDialogRect(hwnd(), &size);
        return size.bottom;
    }
    // The follow-up's controls on view lie below the entry line, inside the
    // client area, and apart from one another.
    void ExpectShownControlsFit() const {
        RECT client{};
        ::GetClientRect(hwnd(), &client);
        RECT entry{};
        ::GetWindowRect(Item(IDC_RUN_ENTRY), &entry);
        ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&entry), 2);
        std::vector<RECT> shown;
        for (int id : {IDC_FOLLOW_UP, IDC_REPORT_SUMMARY, IDC_REPORT_HEADING, IDC_REPORT_LIST, IDC_SAVE_REPORT}) {
            if (!Shown(id)) continue;
            RECT r{};
            ::GetWindowRect(Item(id), &r);
            ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
            EXPECT_GE(r.top, entry.bottom) << "control " << id << " over the run's lines";
            EXPECT_LE(r.bottom, client.bottom) << "control " << id << " cut off by the dialog's edge";
            EXPECT_GE(r.left, 0);
            EXPECT_LE(r.right, client.right);
            for (const RECT& other : shown) {
                RECT both{};
                EXPECT_FALSE(::IntersectRect(&both, &r, &other)) << "control " << id << " overlaps another";
            }
            shown.push_back(r);
        }
    }

    ScriptedUser user;
    std::unique_ptr<CVantrelDlg> dialog;
    testsupport::TempFolder temp;
};

TEST_F(FollowUpDialog, RestOfADamagedArchiveGoesPastTheDamageAndListsIt) {
    // Twelve files; the third and the tenth fail their CRC-32, the seventh
    // has data that does not inflate and an older file at its path.
    constexpr int kFiles = 12;
    const std::map<int, RestoreFailure> damaged = [] {
        std::map<int, RestoreFailure> m;
        for (auto [i, why] : {std::pair{2, ExtractFailure::kCrcMismatch}, std::pair{6, ExtractFailure::kCorruptData},
                              std::pair{9, ExtractFailure::kCrcMismatch}}) {
            RestoreFailure& f = m[i];
            f.entryIndex = i;
            f.entryName = platform::Utf8ToUtf16(FileName(i));
            f.reason = EntryFailure::kExtractFailed;
            f.extractFailure = why;
        }
        return m;
    }();
    testzip::ZipBuilder zip;
    for (int i = 0; i < kFiles; ++i) {
        testzip::Entry& e = zip.Add(FileName(i), Data(i, 30000), 8);
        if (i == 2 || i == 9) e.localOverride.crc32 = e.centralOverride.crc32 = ~testzip::Crc32(e.data);
        if (i == 6) e.rawData = testzip::Bytes(40, 0xFF);
    }
    ASSERT_TRUE(zip.BuildToFile(temp.path() / fs::path(kBackupName)));
    testsupport::TempFolder dest;
    fs::create_directories(dest / "Photos");
    ASSERT_TRUE(testsupport::WriteFileBytes(dest / FileName(6), testzip::ToBytes("WHAT STOOD THERE")));

    Open(&RestoreThreadProc);
    EXPECT_FALSE(Item(IDC_FOLLOW_UP)) << "made before anything is offered";
    // The dialog's size with the archive chosen (and the list of the
    // backups beside it), before anything is offered.
    user.files.push_back(ArchivePath());
    Click(IDC_SELECT);
    const int chosenHeight = ClientHeight();
    Restore(dest.path());
    ASSERT_TRUE(WaitForRunEnd());
    // The first run is the run it always was: it stops at the first damage.
    EXPECT_EQ(Texts(user.Messages()), (std::vector<std::u16string>{kConfirm, kOverwrite, kFailed}));
    EXPECT_EQ(Text(IDC_RUN_STATUS), FailedText(RESTORE_ENTRY_FAILED, damaged.at(2), true));
    EXPECT_EQ(Text(IDC_RUN_ENTRY), u"Photos\\f102.bin");
    EXPECT_FALSE(fs::exists(dest / FileName(3))) << "the first run went past the damage";
    ASSERT_TRUE(Shown(IDC_FOLLOW_UP));
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_FOLLOW_UP)));
    EXPECT_EQ(Text(IDC_FOLLOW_UP), u"残りを復元");
    for (int id : {IDC_REPORT_SUMMARY, IDC_REPORT_HEADING, IDC_REPORT_LIST, IDC_SAVE_REPORT})
        EXPECT_FALSE(Shown(id)) << "control " << id << " shown before a follow-up run";
    EXPECT_GT(ClientHeight(), TemplateHeight());
    ExpectShownControlsFit();
    const std::optional<Stamp> firstFile = StampOf(dest / FileName(0));
    ASSERT_TRUE(firstFile.has_value());

    user.asked.clear();
    Click(IDC_FOLLOW_UP);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(user.asked), std::vector<std::u16string>{kFailed}) << "something was asked before the run";
    for (int i = 0; i < kFiles; ++i) {
        SCOPED_TRACE(FileName(i));
        if (i == 6) {
            EXPECT_EQ(testsupport::ReadFileBytes(dest / FileName(i)), testzip::ToBytes("WHAT STOOD THERE"));
        } else if (damaged.count(i)) {
            EXPECT_FALSE(fs::exists(dest / FileName(i)));
        } else {
            EXPECT_EQ(testsupport::ReadFileBytes(dest / FileName(i)), testzip::ToBytes(Data(i, 30000)));
        }
    }
    EXPECT_EQ(StampOf(dest / FileName(0)), firstFile) << "a file the first run restored was written again";

    const NumberText numbers;
    RunReport expected;
    expected.total = kFiles;
    expected.inPlace = kFiles - 3;
    for (const auto& [i, f] : damaged) expected.failures.push_back(f);
    EXPECT_EQ(Text(IDC_REPORT_SUMMARY), u"12 項目中 9 項目を復元しました。");
    EXPECT_EQ(Text(IDC_REPORT_HEADING), u"復元できなかった 3 項目：");
    const std::vector<std::u16string> lines = ReportLines(expected, numbers);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], u"Photos\\f106.bin：圧縮データが壊れています");
    EXPECT_EQ(Text(IDC_REPORT_LIST), lines[0] + u"\r\n" + lines[1] + u"\r\n" + lines[2]);
    const LONG_PTR listStyle = ::GetWindowLongPtrW(Item(IDC_REPORT_LIST), GWL_STYLE);
    EXPECT_EQ(listStyle & (ES_MULTILINE | ES_READONLY | WS_VSCROLL), ES_MULTILINE | ES_READONLY | WS_VSCROLL)
        << "a list the user can scroll and copy, not change";
    // Copied as the user copies it: all of it selected, then Ctrl+C.
    ::SendMessageW(Item(IDC_REPORT_LIST), EM_SETSEL, 0, -1);
    ::SendMessageW(Item(IDC_REPORT_LIST), WM_COPY, 0, 0);
    std::u16string copied;
    if (::OpenClipboard(hwnd())) {
        if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* text = static_cast<const wchar_t*>(::GlobalLock(data))) copied = U16(text);
            ::GlobalUnlock(data);
        }
        ::CloseClipboard();
    }
    EXPECT_EQ(copied, Text(IDC_REPORT_LIST)) << "the list could not be copied";
    // The damage is still there: the same offer again.
    EXPECT_EQ(Text(IDC_FOLLOW_UP), u"残りを復元");
    EXPECT_TRUE(Shown(IDC_SAVE_REPORT));
    EXPECT_EQ(Text(IDC_SAVE_REPORT), u"一覧を保存...");
    ExpectShownControlsFit();

    // Saving the list: cancelled, refused by the file system, saved.
    struct Save {
        const char* fault;
        std::optional<std::u16string> path;
        std::vector<std::u16string> messages;
        bool written;
    };
    const Save saves[] = {
        {"a cancelled save wrote or said something", std::nullopt, {}, false},
        {"a save that failed went unsaid", temp.U16("missing/list.txt"), {u"一覧を保存できませんでした。"}, false},
        {"the list not saved", temp.U16("list.txt"), {}, true},
    };
    for (const Save& s : saves) {
        SCOPED_TRACE(s.fault);
        user.asked.clear();
        user.saves = {s.path};
        Click(IDC_SAVE_REPORT);
        const auto asked = user.Saves();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].owner, hwnd());
        EXPECT_EQ(asked[0].text, u"テキストファイル (*.txt)|*.txt||");
        EXPECT_EQ(asked[0].caption, u"復元できなかった項目.txt");
        EXPECT_EQ(Texts(user.Messages()), s.messages);
        for (const Asked& m : user.Messages()) EXPECT_EQ(m.style, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_EQ(fs::exists(temp / "list.txt"), s.written);
    }
    const testzip::Bytes saved = testsupport::ReadFileBytes(temp / "list.txt");
    const std::string text(saved.begin(), saved.end());
    ASSERT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte-order mark: Notepad of Windows 7 reads ANSI";
    std::vector<std::u16string> savedLines;
    std::size_t at = 3;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        savedLines.push_back(platform::Utf8ToUtf16(text.substr(at, end - at)));
    EXPECT_EQ(at, text.size()) << "the last line has no CRLF";
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_EQ(text[i - 1], '\r') << "a bare LF at byte " << i;
        }
    }
    const std::vector<std::u16string> wanted = {u"バックアップファイル：" + ArchivePath(),
                                                u"復元先フォルダ：" + dest.WithSeparator(),
                                                u"12 項目中 9 項目を復元しました。",
                                                u"復元できなかった 3 項目：",
                                                lines[0],
                                                lines[1],
                                                lines[2]};
    EXPECT_EQ(savedLines, wanted);

    // Another archive chosen: nothing offered, the dialog its own size.
    user.files.push_back(u"C:\\b\\20131008081717_1_RDpcRGF0YVxNdXNpYw==.zip");
    Click(IDC_SELECT);
    for (int id : {IDC_FOLLOW_UP, IDC_REPORT_SUMMARY, IDC_REPORT_HEADING, IDC_REPORT_LIST, IDC_SAVE_REPORT})
        EXPECT_FALSE(Shown(id)) << "control " << id << " stayed for another archive";
    EXPECT_LE(ClientHeight(), chosenHeight) << "the dialog kept the follow-up's rows' room";
    EXPECT_GE(ClientHeight(), TemplateHeight());
}

TEST_F(FollowUpDialog, ContinuingAStoppedRunFinishesItAndLeavesCompleteEntriesUntouched) {
    constexpr int kFiles = 40;
    testzip::ZipBuilder zip;
    for (int i = 0; i < kFiles; ++i) zip.Add(FileName(i), Data(i, 100000), 8);
    ASSERT_TRUE(zip.BuildToFile(temp.path() / fs::path(kBackupName)));
    testsupport::TempFolder dest;
    SlowEngine::entryDelayMs = 30;
    Open(&SlowEngine::Proc);
    Restore(dest.path());
    // Early in the run, once a few entries are confirmed (workers write
    // files ahead of that, and a stop takes those back): the entries still
    // to come take over a second.
    ASSERT_TRUE(PumpUntil(hwnd(), [&] { return SlowEngine::confirmed >= 4; })) << "the run did not get going";
    user.asked.clear();
    user.messageAnswers = {IDYES};
    Click(IDC_RUN_STOP);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(user.Messages()), (std::vector<std::u16string>{u"復元を中止しますか？", u"復元を中止しました。"}));
    ASSERT_TRUE(Shown(IDC_FOLLOW_UP));
    EXPECT_EQ(Text(IDC_FOLLOW_UP), u"続きから復元");

    // What the stopped run left: complete entries only.
    std::map<int, Stamp> before;
    for (int i = 0; i < kFiles; ++i) {
        if (!fs::exists(dest / FileName(i))) continue;
        ASSERT_EQ(testsupport::ReadFileBytes(dest / FileName(i)), testzip::ToBytes(Data(i, 100000))) << FileName(i);
        const std::optional<Stamp> stamp = StampOf(dest / FileName(i));
        ASSERT_TRUE(stamp.has_value());
        before[i] = *stamp;
    }
    ASSERT_GE(before.size(), 3u);
    ASSERT_LT(before.size(), static_cast<std::size_t>(kFiles)) << "the run was not stopped";

    user.asked.clear();
    Click(IDC_FOLLOW_UP);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(user.asked), std::vector<std::u16string>{kSucceeded});
    // The tree is that of a full restore.
    std::vector<std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(dest.path()))
        tree.push_back(fs::relative(item.path(), dest.path()).generic_string() + (item.is_directory() ? "/" : ""));
    std::sort(tree.begin(), tree.end());
    std::vector<std::string> full = {"Photos/"};
    for (int i = 0; i < kFiles; ++i) full.push_back(FileName(i));
    EXPECT_EQ(tree, full);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(testsupport::ReadFileBytes(dest / FileName(i)), testzip::ToBytes(Data(i, 100000))) << FileName(i);
    for (const auto& [i, stamp] : before)
        EXPECT_EQ(StampOf(dest / FileName(i)), stamp) << FileName(i) << " was written again";

    EXPECT_EQ(Text(IDC_REPORT_SUMMARY), u"40 項目をすべて復元しました。");
    EXPECT_TRUE(Shown(IDC_REPORT_SUMMARY));
    for (int id : {IDC_FOLLOW_UP, IDC_REPORT_HEADING, IDC_REPORT_LIST, IDC_SAVE_REPORT})
        EXPECT_FALSE(Shown(id)) << "control " << id << " after a run that left nothing";
    ExpectShownControlsFit();
}

TEST_F(FollowUpDialog, OfferFollowsTheResultAndItsRunTakesTheLastRunsArchiveAndFolder) {
    struct Case {
        const char* fault;
        int code;
        EntryFailure reason;
        const char16_t* label;  // null: nothing offered
    };
    const Case cases[] = {
        {"offered after a success", RESTORE_OK, EntryFailure::kNone, nullptr},
        {"offered when the archive did not open", RESTORE_OPEN_FAILED, EntryFailure::kNone, nullptr},
        {"not offered after damage", RESTORE_ENTRY_FAILED, EntryFailure::kExtractFailed, u"残りを復元"},
        {"not offered after a stop", RESTORE_ENTRY_FAILED, EntryFailure::kInterrupted, u"続きから復元"},
    };
    testsupport::TempFolder dest;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ScriptedEnd::jobs.clear();
        ScriptedEnd::code = c.code;
        ScriptedEnd::reason = c.reason;
        Open(&ScriptedEnd::Proc);
        Restore(dest.path());
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(ScriptedEnd::jobs.size(), 1u);
        EXPECT_FALSE(ScriptedEnd::jobs[0].choices.keepGoing) << "the first run goes past failures";
        EXPECT_FALSE(ScriptedEnd::jobs[0].choices.skipIdentical);
        if (!c.label) {
            EXPECT_FALSE(Shown(IDC_FOLLOW_UP));
            EXPECT_EQ(ClientHeight(), TemplateHeight());
            dialog.reset();
            continue;
        }
        ASSERT_TRUE(Shown(IDC_FOLLOW_UP));
        EXPECT_EQ(Text(IDC_FOLLOW_UP), c.label);
        // The fields the first run was started from are gone; its own
        // copies stay.
        Click(IDC_CLEAR);
        user.asked.clear();
        Click(IDC_FOLLOW_UP);
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(ScriptedEnd::jobs.size(), 2u);
        const RestoreJob& next = ScriptedEnd::jobs[1];
        EXPECT_EQ(next.archivePath, ArchivePath());
        EXPECT_EQ(next.destinationFolder, dest.WithSeparator());
        EXPECT_TRUE(next.choices.keepGoing);
        EXPECT_TRUE(next.choices.skipIdentical);
        EXPECT_EQ(next.choices.existing, ExistingPolicy::kReplace);
        EXPECT_TRUE(user.Browses().empty()) << "the folder asked again";
        EXPECT_EQ(user.Messages().size(), 1u) << "more than the result box";
        dialog.reset();
    }
}

// ---------------------------------------------------------------- labels

// The dialog's font at one DPI, with the base units Windows derives from
// it for dialog units (as tests/winui/label_fit_test.cpp measures them).
class DpiFont {
public:
    DpiFont(const std::u16string& face, int points, int dpi) : dc_(::CreateCompatibleDC(nullptr)) {
        LOGFONTW lf{};
        lf.lfHeight = -::MulDiv(points, dpi, 72);
        lf.lfCharSet = SHIFTJIS_CHARSET;
        face.copy(reinterpret_cast<char16_t*>(lf.lfFaceName), LF_FACESIZE - 1);
        font_ = ::CreateFontIndirectW(&lf);
        old_ = ::SelectObject(dc_, font_);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc_, &metrics);
        baseY_ = metrics.tmHeight;
        SIZE letters{};
        ::GetTextExtentPoint32W(dc_, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
        baseX_ = (letters.cx / 26 + 1) / 2;
    }
    ~DpiFont() {
        ::SelectObject(dc_, old_);
        ::DeleteObject(font_);
        ::DeleteDC(dc_);
    }
    DpiFont(const DpiFont&) = delete;
    DpiFont& operator=(const DpiFont&) = delete;
    int Width(int units) const { return ::MulDiv(units, baseX_, 4); }
    int Height(int units) const { return ::MulDiv(units, baseY_, 8); }
    SIZE Measure(const std::u16string& text) const {
        RECT r{0, 0, 0, 0};
        ::DrawTextW(dc_, W(text), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        return {r.right - r.left, r.bottom - r.top};
    }
    bool HasGlyph(char16_t c) const {
        WORD glyph = 0;
        const wchar_t wc = static_cast<wchar_t>(c);
        return ::GetGlyphIndicesW(dc_, &wc, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF;
    }

private:
    HDC dc_;
    HFONT font_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int baseX_ = 0, baseY_ = 0;
};

TEST(FollowUpLabels, EveryTextFitsOnOneLineAtEachDpiAndFont) {
    using namespace followuplayout;
    const NumberText numbers;
    RunReport widest;
    widest.total = widest.inPlace = 888888;
    widest.stopped = true;
    RunReport partial;
    partial.total = 888888;
    partial.inPlace = 888887;
    partial.failures.resize(1);
    const std::vector<std::u16string> lines = {
        ReportSummary(widest, numbers), ReportSummary(partial, numbers),
        ReportHeading(RunReport{888888, 0, {}, true}, numbers),
    };
    const std::vector<std::u16string> buttons = {FollowUpLabel(FollowUp::kRestoreRest),
                                                 FollowUpLabel(FollowUp::kContinue), reporttext::kSaveButton};
    struct FontCase {
        const char* fault;
        const char16_t* face;
    };
    const FontCase fonts[] = {
        {"the template's font (MS UI Gothic)", u"MS UI Gothic"},
        {"Yu Gothic UI, Windows 10's UI font", u"Yu Gothic UI"},
        {"Meiryo, tall lines", u"Meiryo"},
    };
    for (const FontCase& f : fonts) {
        for (int dpi : {96, 120, 144, 192}) {
            SCOPED_TRACE(std::string(f.fault) + ", " + std::to_string(dpi) + " DPI");
            const DpiFont font(f.face, 9, dpi);
            ASSERT_TRUE(font.HasGlyph(u'復')) << "no Japanese font stands in for this face";
            for (const std::u16string& text : lines) {
                const SIZE need = font.Measure(text);
                EXPECT_LE(need.cx, font.Width(kRight - kLeft)) << platform::Utf16ToUtf8(text);
                EXPECT_LE(need.cy, font.Height(kLineHeight)) << platform::Utf16ToUtf8(text);
            }
            // A button's face is its rectangle less a frame and a margin of
            // an edge's width each side, about 4 pixels at 96 DPI.
            const int frame = ::MulDiv(8, dpi, 96);
            for (const std::u16string& text : buttons) {
                const SIZE need = font.Measure(text);
                EXPECT_LE(need.cx + frame, font.Width(kButtonWidth)) << platform::Utf16ToUtf8(text);
                EXPECT_LE(need.cy + frame / 2, font.Height(kButtonHeight)) << platform::Utf16ToUtf8(text);
            }
        }
    }
}

}  // namespace
