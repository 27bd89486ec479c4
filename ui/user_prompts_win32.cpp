// The system's own message box, file-open dialog and folder browser behind
// UserPrompts.

#include "ui/user_prompts.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "platform/wide.h"

int CALLBACK BrowseCallbackProc(HWND hwnd, UINT message, LPARAM /*param*/, LPARAM data) {
    // Open the browser with the start folder already selected.
    if (message == BFFM_INITIALIZED) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

namespace {

class SystemPrompts final : public UserPrompts {
public:
    int ShowMessage(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style) override {
        return ::MessageBoxW(owner, W(text), W(caption), style);
    }

    bool OpenFile(HWND owner, const std::u16string& filter, DWORD flags, std::u16string& path) override {
        // "label|pattern||" becomes the double-zero-terminated list the
        // common dialog takes.
        std::u16string list = filter;
        for (char16_t& c : list)
            if (c == u'|') c = u'\0';
        std::vector<wchar_t> file(32768, L'\0');
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = W(list);
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(file.size());
        ofn.Flags = flags | OFN_EXPLORER;
        if (!::GetOpenFileNameW(&ofn)) return false;
        path = U16(file.data());
        return true;
    }

    bool BrowseForFolder(HWND owner, const std::u16string& title, const std::u16string& startFolder,
                         std::u16string& path) override {
        // The new dialog style hosts shell views and needs COM on this thread.
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        wchar_t start[MAX_PATH] = {};
        if (startFolder.size() < MAX_PATH) startFolder.copy(reinterpret_cast<char16_t*>(start), startFolder.size());
        wchar_t displayName[MAX_PATH] = {};
        BROWSEINFOW info{};
        info.hwndOwner = owner;
        info.pidlRoot = nullptr;
        info.pszDisplayName = displayName;
        info.lpszTitle = W(title);
        info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        info.lpfn = &BrowseCallbackProc;
        info.lParam = reinterpret_cast<LPARAM>(start);
        info.iImage = 0;
        PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&info);
        bool chosen = false;
        if (item) {
            wchar_t folder[MAX_PATH] = {};
            path = ::SHGetPathFromIDListW(item, folder) ? U16(folder) : std::u16string();
            ::CoTaskMemFree(item);
            chosen = true;
        }
        if (SUCCEEDED(com)) ::CoUninitialize();
        return chosen;
    }
};

}  // namespace

UserPrompts& SystemUserPrompts() {
    static SystemPrompts prompts;
    return prompts;
}
