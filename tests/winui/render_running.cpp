// The restore dialog in the middle of a run, for the picture in docs/ (see
// scripts/render-dialog.sh): the real dialog and template, started with a
// backup as the program's argument would start it, the user's answers given
// here, and a worker that reports its start and then holds, so the button
// stays at "復元中..." until the program is closed (at most a minute).

#include <windows.h>

#include <string>

#include "platform/wide.h"
#include "res/resource.h"
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

private:
    std::u16string folder_;
};

unsigned HeldWorker(void* param) {
    auto* job = static_cast<RestoreJob*>(param);
    job->observer->OnRestoreStarted();
    ::Sleep(60000);
    job->observer->OnRestoreFinished(RESTORE_OK);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    AgreeingUser user(U16(temp));
    CVantrelDlg dialog(user, &HeldWorker);
    // The backup of D:\データ\写真 taken 2024/03/15 09:30:00.
    dialog.SetStartArchive(std::u16string(U16(temp)) + u"20240315093000_1_RDpcg2aBW4NeXI7KkF4=.zip");
    if (!dialog.Create()) return 1;
    HWND window = dialog.GetSafeHwnd();
    bool started = false;
    MSG msg;
    while (::IsWindow(window)) {
        if (!started && ::GetWindowTextLengthW(::GetDlgItem(window, IDC_ARCHIVE_PATH)) > 0) {
            started = true;
            ::PostMessageW(::GetDlgItem(window, IDC_RESTORE), BM_CLICK, 0, 0);
        }
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) == WAIT_TIMEOUT) continue;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (::IsDialogMessageW(window, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return 0;
}
