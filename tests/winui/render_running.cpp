// The restore dialog during and after a run, for the pictures in docs/ (see
// scripts/render-dialog.sh): the real dialog and template, started with a
// backup as the program's argument would start it, the user's answers given
// here (Yes to every question, so no box stays on screen).
//   (no argument)  a run in the middle: a worker that reports a steady run
//                  of a large backup for a few seconds, then holds, so the
//                  bar, the status line with its time left, the entry and
//                  "中止" stay on view (at most a minute);
//   --finished     a real restore of a small backup, ended;
//   --failed       a real restore of a backup whose second file is damaged
//                  (its CRC-32 does not match), ended;
//   --backups      a folder of backups of three items, one of them chosen:
//                  the list of the folder's backups under the run's view;
//   --decision     a real restore into a folder that holds the backup's
//                  files already, some older, one newer, most identical:
//                  the question what to do with them, left open;
//   --decided      the same answered "keep newer", identical files left:
//                  the dialog after the run, with the outcome's counts;
//   --tree         a real backup chosen, its tree opened down to a month
//                  and one photo unchecked: the tree and the count chosen.
//   --rest         a real restore of a backup with three damaged files,
//                  stopped at the first, then "残りを復元" clicked: the rest
//                  restored, the list of what was not.
// The real runs write below a folder of their own in the temporary folder
// and remove it when the program ends.

#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/wide.h"
#include "res/resource.h"
#include "tests/support/base64.h"
#include "tests/support/zip_writer.h"
#include "restore/restore.h"
#include "ui/user_prompts.h"
#include "ui/vantrel_dlg.h"

namespace {

// Yes to every question; the folder browser chooses `folder`.
class AgreeingUser final : public UserPrompts {
public:
    explicit AgreeingUser(std::u16string folder, bool decides = false)
        : folder_(std::move(folder)), decides_(decides) {}
    // The question's own window, unless this user answers it: keep newer
    // files, leave identical ones.
    bool DecideAboutExisting(HWND owner, const DecisionTexts& texts, RestoreDecision& decision) override {
        if (!decides_) return UserPrompts::DecideAboutExisting(owner, texts, decision);
        decision.answer = ExistingAnswer::kKeepNewer;
        decision.skipIdentical = true;
        return true;
    }
    int ShowMessage(HWND, const std::u16string&, const std::u16string&, UINT) override { return IDYES; }
    bool OpenFile(HWND, const std::u16string&, DWORD, std::u16string&) override { return false; }
    bool BrowseForFolder(HWND, const std::u16string&, const std::u16string&, std::u16string& path) override {
        path = folder_;
        return true;
    }
    bool SaveFile(HWND, const std::u16string&, const std::u16string&, std::u16string&) override { return false; }

private:
    std::u16string folder_;
    bool decides_;
};

// A backup of 4,812 photos, 18.6 GB, restored at a steady 600 MB/s for
// four and a half seconds, then held.
unsigned SteadyThenHeldWorker(void* param) {
    auto* job = static_cast<RestoreJob*>(param);
    job->observer->OnRestoreStarted();
    RestoreProgress progress;
    progress.entriesTotal = 4812;
    progress.bytesTotal = 4812ull * 4150000;
    for (int tick = 0; tick < 45; ++tick) {
        ::Sleep(100);
        progress.entriesDone = tick * 15;
        progress.bytesDone = static_cast<std::uint64_t>(progress.entriesDone) * 4150000;
        const std::string photo = std::to_string(10000 + 420 + progress.entriesDone).substr(1);
        job->observer->OnEntryStarted(progress.entriesDone,
                                      u"写真/2024/03/15 東京・浅草寺の桜と雷門、仲見世通りから隅田川沿いを歩いて/"
                                      u"RAW 現像済み/IMG_" + std::u16string(photo.begin(), photo.end()) + u".jpg");
        job->observer->OnRestoreProgress(progress);
    }
    ::Sleep(60000);
    job->observer->OnRestoreFinished(RESTORE_OK);
    return 0;
}

// Names in UTF-8 (flag bit 11), as current backup tools write them.
testzip::Entry& AddPhoto(testzip::ZipBuilder& zip, const std::string& name, std::size_t size) {
    std::string data;
    for (unsigned k = 0; data.size() < size; ++k) data += std::to_string(k * 2654435761u) + ";";
    data.resize(size);
    testzip::Entry& entry = zip.Add(name, data, 8);
    entry.flags |= 0x0800;
    return entry;
}

// Five photos, the second damaged when `damaged`; with `more`, three more
// photos and two more damaged ones (data that does not inflate, a wrong
// CRC-32).
bool WriteBackup(const std::filesystem::path& path, bool damaged, bool more = false) {
    testzip::ZipBuilder zip;
    const char* names[] = {"写真/2024/03/IMG_0421.jpg", "写真/2024/03/IMG_0422.jpg", "写真/2024/03/IMG_0423.jpg",
                           "写真/2024/04/IMG_0501.jpg", "写真/2024/04/IMG_0502.jpg", "写真/2024/04/IMG_0503.jpg",
                           "写真/2024/05/IMG_0611.jpg", "写真/2024/05/IMG_0612.jpg"};
    for (int i = 0; i < (more ? 8 : 5); ++i) {
        testzip::Entry& entry = AddPhoto(zip, names[i], 700000 + 130000 * i);
        if (damaged && (i == 1 || (more && i == 6))) entry.localOverride.crc32 = entry.centralOverride.crc32 = 0x12345678;
        if (damaged && more && i == 4) entry.rawData = testzip::Bytes(4000, 0xFF);
    }
    return zip.BuildToFile(path);
}

// A file named as the backup of `original` taken at `stamp`, of `size`
// bytes (only its name and size are shown); its path.
std::filesystem::path WriteNamedBackup(const std::filesystem::path& folder, const std::wstring& original,
                                       const std::wstring& stamp, std::size_t size) {
    const int n = ::WideCharToMultiByte(CP_ACP, 0, original.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, original.c_str(), -1, ansi.data(), n, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    const std::string encoded = testsupport::Base64(ansi);
    const std::filesystem::path path = folder / (stamp + L"_1_" + std::wstring(encoded.begin(), encoded.end()) + L".zip");
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        ::CloseHandle(file);
    }
    return path;
}

// Backups of three items: a photo folder taken every few days, a mail
// folder, a single document.
std::filesystem::path WriteBackupShelf(const std::filesystem::path& folder) {
    std::filesystem::path chosen;
    const struct {
        const wchar_t* original;
        const wchar_t* stamp;
        std::size_t size;
    } shelf[] = {
        {L"D:\\データ\\写真", L"20240315093000", 1947000000}, {L"D:\\データ\\写真", L"20240308093000", 1901000000},
        {L"D:\\データ\\写真", L"20240301093000", 1873000000}, {L"C:\\Users\\yuki\\メール", L"20240314180000", 312000000},
        {L"C:\\Users\\yuki\\メール", L"20240307180000", 305000000}, {L"E:\\仕事\\見積書_2024年3月.xlsx", L"20240312170500", 84000},
    };
    for (const auto& b : shelf) {
        const std::filesystem::path p = WriteNamedBackup(folder, b.original, b.stamp, b.size);
        if (std::wstring(b.stamp) == L"20240308093000") chosen = p;
    }
    return chosen;
}

// The backup restored once into `folder`, then changed there as a user's
// folder changes after a backup: two photos edited before it was taken
// (older, other bytes), one edited since (newer), one deleted. The
// entries carry the test writer's time, 2013-01-01.
bool StandBackupIn(const std::filesystem::path& archive, const std::filesystem::path& folder) {
    if (RestoreArchive(folder.u16string() + u"\\", archive.u16string()) != RESTORE_OK) return false;
    const std::filesystem::path march = folder / L"写真" / L"2024" / L"03";
    const auto rewrite = [](const std::filesystem::path& file, FILETIME when) {
        HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        ::WriteFile(h, "edited", 6, &written, nullptr);
        ::SetFileTime(h, nullptr, nullptr, &when);
        ::CloseHandle(h);
    };
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    FILETIME longAgo{};
    SYSTEMTIME y2010{2010, 1, 5, 1, 12, 0, 0, 0};
    ::SystemTimeToFileTime(&y2010, &longAgo);
    rewrite(march / L"IMG_0421.jpg", longAgo);
    rewrite(march / L"IMG_0422.jpg", longAgo);
    rewrite(march / L"IMG_0423.jpg", now);
    std::error_code ignored;
    std::filesystem::remove(folder / L"写真" / L"2024" / L"04" / L"IMG_0502.jpg", ignored);
    return true;
}

// Once the tree has filled: every level opened down to 写真\\2024\\03, and
// its second photo unchecked with the space key, as a user does it.
bool OpenTreeAndUncheckOne(HWND dialog) {
    HWND view = ::GetDlgItem(dialog, IDC_ENTRY_TREE);
    if (!view) return false;
    const auto next = [&](HTREEITEM item, UINT how) {
        return reinterpret_cast<HTREEITEM>(::SendMessageW(view, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    };
    HTREEITEM item = next(nullptr, TVGN_ROOT);
    if (!item) return false;
    HTREEITEM last = item;
    for (int depth = 0; depth < 3 && item; ++depth) {
        ::SendMessageW(view, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        last = item;
        item = next(item, TVGN_CHILD);
    }
    // The other month opened too, to show a checked level beside it.
    if (HTREEITEM april = next(last, TVGN_NEXT)) ::SendMessageW(view, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(april));
    if (item) item = next(item, TVGN_NEXT);
    if (item) {
        ::SendMessageW(view, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        ::SendMessageW(view, WM_KEYDOWN, VK_SPACE, 0);
    }
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    const std::wstring mode = commandLine ? commandLine : L"";
    const bool finished = mode.find(L"--finished") != std::wstring::npos;
    const bool rest = mode.find(L"--rest") != std::wstring::npos;
    const bool failed = rest || mode.find(L"--failed") != std::wstring::npos;
    const bool backups = mode.find(L"--backups") != std::wstring::npos;
    const bool decided = mode.find(L"--decided") != std::wstring::npos;
    const bool decision = decided || mode.find(L"--decision") != std::wstring::npos;
    const bool tree = mode.find(L"--tree") != std::wstring::npos;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path scratch = std::filesystem::path(temp) / L"sorvane-render";
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    std::filesystem::create_directories(scratch / L"restored", ignored);

    AgreeingUser user((scratch / L"restored").u16string(), decided);
    CVantrelDlg dialog(user, finished || failed || decision ? &RestoreThreadProc : &SteadyThenHeldWorker);
    // The backup of D:\データ\写真 taken 2024/03/15 09:30:00.
    const std::filesystem::path archive = scratch / L"20240315093000_1_RDpcg2aBW4NeXI7KkF4=.zip";
    if ((finished || failed || decision || tree) && !WriteBackup(archive, failed, rest)) return 2;
    if (decision && !StandBackupIn(archive, scratch / L"restored")) return 3;
    dialog.SetStartArchive(backups ? WriteBackupShelf(scratch).u16string() : archive.u16string());
    if (!dialog.Create()) return 1;
    HWND window = dialog.GetSafeHwnd();
    bool started = false;
    bool followedUp = false;
    MSG msg;
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::IsWindow(window) && ::GetTickCount64() < deadline) {
        if (tree && !started) started = OpenTreeAndUncheckOne(window);
        if (!started && !backups && !tree && ::GetWindowTextLengthW(::GetDlgItem(window, IDC_ARCHIVE_PATH)) > 0) {
            started = true;
            ::PostMessageW(::GetDlgItem(window, IDC_RESTORE), BM_CLICK, 0, 0);
        }
        // The first run has failed at the first damaged photo: the rest.
        HWND followUp = ::GetDlgItem(window, IDC_FOLLOW_UP);
        if (rest && !followedUp && followUp && ::IsWindowVisible(followUp)) {
            followedUp = true;
            ::PostMessageW(followUp, BM_CLICK, 0, 0);
        }
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) == WAIT_TIMEOUT) continue;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (::IsDialogMessageW(window, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
