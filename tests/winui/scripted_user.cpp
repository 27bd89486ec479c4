#include "tests/winui/scripted_user.h"

#include "platform/wide.h"
#include "res/resource.h"

namespace winuitest {

namespace {

void NoteRestoreButton(HWND dialog, Asked& a) {
    HWND button = dialog ? ::GetDlgItem(dialog, IDC_RESTORE) : nullptr;
    if (!button) return;
    a.restoreEnabled = ::IsWindowEnabled(button) != FALSE;
    a.restoreText = WindowText(button);
}

}  // namespace

std::u16string WindowText(HWND window) {
    wchar_t text[1024] = {};
    const int length = ::GetWindowTextW(window, text, 1024);
    return U16(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

int ScriptedUser::ShowMessage(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style) {
    Asked a;
    a.kind = Asked::kMessage;
    a.owner = owner;
    a.text = text;
    a.caption = caption;
    a.style = style;
    NoteRestoreButton(dialog, a);
    asked.push_back(a);
    if (inMessageBox) inMessageBox();
    if (messageAnswers.empty()) return IDOK;
    const int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

bool ScriptedUser::DecideAboutExisting(HWND, const DecisionTexts&, RestoreDecision&) {
    ++decisionsAsked;
    return true;
}

bool ScriptedUser::OpenFile(HWND owner, const std::u16string& filter, DWORD flags, std::u16string& path) {
    Asked a;
    a.kind = Asked::kOpenFile;
    a.owner = owner;
    a.text = filter;
    a.style = flags;
    asked.push_back(a);
    if (files.empty() || !files.front()) {
        if (!files.empty()) files.pop_front();
        return false;
    }
    path = *files.front();
    files.pop_front();
    return true;
}

bool ScriptedUser::BrowseForFolder(HWND owner, const std::u16string& title, const std::u16string& startFolder,
                                   std::u16string& path) {
    Asked a;
    a.kind = Asked::kBrowse;
    a.owner = owner;
    a.text = title;
    a.caption = startFolder;
    asked.push_back(a);
    if (folders.empty() || !folders.front()) {
        if (!folders.empty()) folders.pop_front();
        return false;
    }
    path = *folders.front();
    folders.pop_front();
    return true;
}

bool ScriptedUser::SaveFile(HWND owner, const std::u16string& filter, const std::u16string& fileName,
                            std::u16string& path) {
    Asked a;
    a.kind = Asked::kSaveFile;
    a.owner = owner;
    a.text = filter;
    a.caption = fileName;
    asked.push_back(a);
    if (saves.empty() || !saves.front()) {
        if (!saves.empty()) saves.pop_front();
        return false;
    }
    path = *saves.front();
    saves.pop_front();
    return true;
}

std::vector<Asked> ScriptedUser::Messages() const {
    std::vector<Asked> out;
    for (const Asked& a : asked)
        if (a.kind == Asked::kMessage) out.push_back(a);
    return out;
}

std::vector<Asked> ScriptedUser::Browses() const {
    std::vector<Asked> out;
    for (const Asked& a : asked)
        if (a.kind == Asked::kBrowse) out.push_back(a);
    return out;
}

std::vector<Asked> ScriptedUser::Saves() const {
    std::vector<Asked> out;
    for (const Asked& a : asked)
        if (a.kind == Asked::kSaveFile) out.push_back(a);
    return out;
}

void PumpPending(HWND dialog) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog && ::IsWindow(dialog) && ::IsDialogMessageW(dialog, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        PumpPending(dialog);
        if (done()) return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

}  // namespace winuitest
