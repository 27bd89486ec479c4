// The system's own message box, file-open and save dialogs and folder
// browser behind UserPrompts.

#include "ui/user_prompts.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "platform/wide.h"

int CALLBACK BrowseCallbackProc(HWND hwnd, UINT message, LPARAM /*param*/, LPARAM data) {
    // Open the browser with the start folder already selected.
    if (message == BFFM_INITIALIZED) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

namespace {

// "label|pattern||" as the double-zero-terminated list the common dialogs
// take.
std::u16string FilterList(const std::u16string& filter) {
    std::u16string list = filter;
    for (char16_t& c : list)
        if (c == u'|') c = u'\0';
    return list;
}

// The extension of the filter's first pattern ("txt" of "*.txt"), empty
// when it names none.
std::u16string FirstExtension(const std::u16string& filter) {
    const std::size_t start = filter.find(u'|');
    if (start == std::u16string::npos) return {};
    const std::size_t end = filter.find(u'|', start + 1);
    const std::u16string pattern = filter.substr(start + 1, end == std::u16string::npos ? end : end - start - 1);
    if (pattern.size() < 3 || pattern.compare(0, 2, u"*.") != 0) return {};
    const std::u16string extension = pattern.substr(2);
    return extension.find_first_of(u"*?;") == std::u16string::npos ? extension : std::u16string();
}

class SystemPrompts final : public UserPrompts {
public:
    int ShowMessage(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style) override {
        return ::MessageBoxW(owner, W(text), W(caption), style);
    }

    bool OpenFile(HWND owner, const std::u16string& filter, DWORD flags, std::u16string& path) override {
        const std::u16string list = FilterList(filter);
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

    bool SaveFile(HWND owner, const std::u16string& filter, const std::u16string& fileName,
                  std::u16string& path) override {
        const std::u16string list = FilterList(filter);
        const std::u16string extension = FirstExtension(filter);
        std::vector<wchar_t> file(32768, L'\0');
        fileName.copy(reinterpret_cast<char16_t*>(file.data()), std::min(fileName.size(), file.size() - 1));
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = W(list);
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(file.size());
        ofn.lpstrDefExt = extension.empty() ? nullptr : W(extension);
        ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN;
        if (!::GetSaveFileNameW(&ofn)) return false;
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
