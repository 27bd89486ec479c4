// Archives that reach the restore dialog from outside it: a file dropped
// onto the window and a path handed over by a second instance. Each is
// checked here and then selected as a choice in the file-open dialog would
// be, unless a run or a question is under way.

#include "ui/vantrel_dlg.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <utility>
#include <vector>

#include "platform/fs.h"

namespace {

// The drop's file list belongs to the receiver, which must release it.
struct DropDeleter {
    void operator()(HDROP drop) const noexcept { ::DragFinish(drop); }
};

// The path of a valid hand-over message, or false.
bool ReadHandedArchive(const COPYDATASTRUCT& data, std::u16string& path) {
    if (data.dwData != kArchiveHandoverTag || !data.lpData) return false;
    // Whole UTF-16 units, at least one character and its terminator.
    if (data.cbData % sizeof(char16_t) != 0 || data.cbData < 2 * sizeof(char16_t)) return false;
    const std::size_t units = data.cbData / sizeof(char16_t);
    if (units - 1 > kHandedPathMaxUnits) return false;
    const auto* text = static_cast<const char16_t*>(data.lpData);
    // The terminator is where the size says, and nowhere before it: a path
    // cut short by an inner zero is not the path that was meant.
    if (text[units - 1] != u'\0') return false;
    const std::u16string handed(text, units - 1);
    if (handed.find(u'\0') != std::u16string::npos) return false;
    // The engine resolves nothing against a current folder of ours.
    if (::PathIsRelativeW(W(handed))) return false;
    path = handed;
    return true;
}

}  // namespace

bool SendArchiveToDialog(HWND dialog, const std::u16string& path) {
    if (!dialog || path.empty() || path.size() > kHandedPathMaxUnits) return false;
    COPYDATASTRUCT data{};
    data.dwData = kArchiveHandoverTag;
    data.cbData = static_cast<DWORD>((path.size() + 1) * sizeof(char16_t));
    data.lpData = const_cast<char16_t*>(path.c_str());
    // A hung first instance must not hang this one too.
    DWORD_PTR taken = FALSE;
    return ::SendMessageTimeoutW(dialog, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                                 &taken) != 0 &&
           taken == TRUE;
}

void CVantrelDlg::OnDropFiles(HDROP drop) {
    const std::unique_ptr<std::remove_pointer_t<HDROP>, DropDeleter> owned(drop);
    if (!drop || !AcceptsOfferedArchive()) return;
    // Only the first item counts; several files select the first one.
    if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0) return;
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    if (length == 0) return;
    std::vector<wchar_t> name(length + 1, L'\0');
    if (::DragQueryFileW(drop, 0, name.data(), length + 1) != length) return;
    const std::u16string path = U16(name.data(), length);
    // A folder is no archive: nothing happens, not even a warning.
    if (platform::IsFolder(path)) return;
    SelectArchive(path);
}

bool CVantrelDlg::OnCopyData(const COPYDATASTRUCT* data) {
    std::u16string path;
    if (!data || !ReadHandedArchive(*data, path)) return false;
    if (!AcceptsOfferedArchive()) return true;  // taken, and ignored
    OfferArchive(std::move(path));
    return true;
}

void CVantrelDlg::OfferArchive(std::u16string path) {
    m_strOfferedArchive = std::move(path);
    ::PostMessageW(m_hWnd, WM_ARCHIVE_OFFERED, 0, 0);
}

void CVantrelDlg::OnArchiveOffered() {
    std::u16string path = std::exchange(m_strOfferedArchive, std::u16string());
    // A run or a question may have begun since the offer was queued.
    if (path.empty() || !AcceptsOfferedArchive()) return;
    SelectArchive(std::move(path));
}
