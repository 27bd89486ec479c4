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
//   --rest         a real restore of a backup with three damaged files,
//                  stopped at the first, then "残りを復元" clicked: the rest
//                  restored, the list of what was not.
// The real runs write below a folder of their own in the temporary folder
// and remove it when the program ends.

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/wide.h"
#include "res/resource.h"
#include "tests/support/zip_writer.h"
#include "ui/user_prompts.h"
#include "ui/vantrel_dlg.h"

namespace {

// Yes to every question; the folder browser chooses `folder`.
class AgreeingUser final : public UserPrompts {
public:
    explicit AgreeingUser(std::u16string folder) : folder_(std::move(folder)) {}
    int ShowMessage(HWND, const std::u16string&, const std::u16string&, UINT) override { return IDYES; }
    bool OpenFile(HWND, const std::u16string&, DWORD, std::u16string&) override { return false; }
    bool BrowseForFolder(HWND, const std::u16string&, const std::u16string&, std::u16string& path) override {
        path = folder_;
        return true;
    }
    bool SaveFile(HWND, const std::u16string&, const std::u16string&, std::u16string&) override { return false; }

private:
    std::u16string folder_;
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    const std::wstring mode = commandLine ? commandLine : L"";
    const bool finished = mode.find(L"--finished") != std::wstring::npos;
    const bool rest = mode.find(L"--rest") != std::wstring::npos;
    const bool failed = rest || mode.find(L"--failed") != std::wstring::npos;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path scratch = std::filesystem::path(temp) / L"sorvane-render";
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    std::filesystem::create_directories(scratch / L"restored", ignored);

    AgreeingUser user((scratch / L"restored").u16string());
    CVantrelDlg dialog(user, finished || failed ? &RestoreThreadProc : &SteadyThenHeldWorker);
    // The backup of D:\データ\写真 taken 2024/03/15 09:30:00.
    const std::filesystem::path archive = scratch / L"20240315093000_1_RDpcg2aBW4NeXI7KkF4=.zip";
    if ((finished || failed) && !WriteBackup(archive, failed, rest)) return 2;
    dialog.SetStartArchive(archive.u16string());
    if (!dialog.Create()) return 1;
    HWND window = dialog.GetSafeHwnd();
    bool started = false;
    bool followedUp = false;
    MSG msg;
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::IsWindow(window) && ::GetTickCount64() < deadline) {
        if (!started && ::GetWindowTextLengthW(::GetDlgItem(window, IDC_ARCHIVE_PATH)) > 0) {
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
