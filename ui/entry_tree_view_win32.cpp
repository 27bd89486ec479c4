// The tree of the archive's entries with check boxes (see entry_tree_view.h),
// and the dialog's part in it: the catalogue read on a worker when an
// archive is chosen, and the choice handed to the plan and the run.

#include "ui/entry_tree_view.h"

#include <utility>

#include "platform/wide.h"
#include "res/resource.h"
#include "ui/run_text.h"
#include "ui/vantrel_dlg.h"

namespace {

// State images: 1 unchecked, 2 checked, 3 mixed (image 0 is "none").
int StateImage(EntryTree::Check check) {
    switch (check) {
    case EntryTree::Check::kUnchecked: return 1;
    case EntryTree::Check::kChecked: return 2;
    case EntryTree::Check::kMixed: return 3;
    }
    return 1;
}

// The three boxes drawn by the system at the size of a small icon, so that
// they follow the DPI and the theme's look.
HIMAGELIST MakeStateImages(HWND window) {
    const int size = ::GetSystemMetrics(SM_CXSMICON);
    HIMAGELIST list = ::ImageList_Create(size, size, ILC_COLOR32, 4, 0);
    HDC screen = ::GetDC(window);
    HDC dc = ::CreateCompatibleDC(screen);
    const UINT kinds[] = {0, DFCS_BUTTONCHECK, DFCS_BUTTONCHECK | DFCS_CHECKED,
                          DFCS_BUTTON3STATE | DFCS_CHECKED};
    for (int i = 0; i < 4; ++i) {
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, size, size);
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        RECT all{0, 0, size, size};
        ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_WINDOW));
        if (i > 0) {
            RECT box{2, 2, size - 2, size - 2};
            ::DrawFrameControl(dc, &box, DFC_BUTTON, kinds[i] | DFCS_FLAT);
        }
        ::SelectObject(dc, old);
        ::ImageList_Add(list, bitmap, nullptr);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(dc);
    ::ReleaseDC(window, screen);
    return list;
}

EntryTree::Node NodeOf(HWND tree, HTREEITEM item) {
    TVITEMW data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    return static_cast<EntryTree::Node>(data.lParam);
}

}  // namespace

std::u16string ChosenText(std::int64_t entries, std::uint64_t bytes, const NumberText& numbers) {
    std::u16string text = u"選んだ項目：";
    text += numbers.Whole(static_cast<std::uint64_t>(entries < 0 ? 0 : entries));
    text += u"（";
    text += SizeText(bytes, numbers);
    text += u"）";
    return text;
}

EntryTreeView::~EntryTreeView() {
    if (states_) ::ImageList_Destroy(states_);
}

void EntryTreeView::Create() {
    RECT growth{0, 0, kEntryTreeGrowthUnits, 0};
    ::MapDialogRect(dialog_, &growth);
    RECT window{};
    ::GetWindowRect(dialog_, &window);
    ::SetWindowPos(dialog_, nullptr, 0, 0, window.right - window.left + growth.right, window.bottom - window.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    tree_view_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                       TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                   0, 0, 10, 10, dialog_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_ENTRY_TREE)),
                                   module, nullptr);
    count_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_ENDELLIPSIS, 0, 0, 10, 10,
                               dialog_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_ENTRY_COUNT)), module,
                               nullptr);
    states_ = MakeStateImages(tree_view_);
    ::SendMessageW(tree_view_, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(states_));
    Relayout();
}

void EntryTreeView::Relayout() {
    if (!tree_view_) return;
    const WPARAM font = static_cast<WPARAM>(::SendMessageW(dialog_, WM_GETFONT, 0, 0));
    ::SendMessageW(tree_view_, WM_SETFONT, font, FALSE);
    ::SendMessageW(count_, WM_SETFONT, font, FALSE);
    RECT client{};
    ::GetClientRect(dialog_, &client);
    RECT units{kEntryTreeLeftUnits, 12, kEntryTreeWidthUnits, 14};  // left, top, width, room for the count
    ::MapDialogRect(dialog_, &units);
    RECT line{0, 0, 0, 10};
    ::MapDialogRect(dialog_, &line);
    const int bottom = client.bottom - units.bottom;
    ::SetWindowPos(tree_view_, nullptr, units.left, units.top, units.right, bottom - units.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(count_, nullptr, units.left, bottom + (units.bottom - line.bottom) / 2, units.right, line.bottom,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void EntryTreeView::Show(std::unique_ptr<EntryTree> tree) {
    if (!tree_view_) Create();
    tree_ = std::move(tree);
    ::SendMessageW(tree_view_, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(tree_view_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    if (tree_) InsertChildren(TVI_ROOT, tree_->Root());
    ::SendMessageW(tree_view_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(tree_view_, nullptr, TRUE);
    RefreshCount();
}

void EntryTreeView::Clear() {
    if (!tree_view_) return;
    Show(nullptr);
}

void EntryTreeView::InsertChildren(HTREEITEM parent, EntryTree::Node node) {
    for (EntryTree::Node child : tree_->Children(node)) {
        std::u16string name = tree_->Name(child);
        TVINSERTSTRUCTW insert{};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_STATE;
        insert.item.pszText = const_cast<wchar_t*>(W(name));
        insert.item.lParam = child;
        // Folders get a button before their level is made.
        insert.item.cChildren = tree_->IsFolder(child) ? 1 : 0;
        insert.item.stateMask = TVIS_STATEIMAGEMASK;
        insert.item.state = INDEXTOSTATEIMAGEMASK(StateImage(tree_->State(child)));
        ::SendMessageW(tree_view_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert));
    }
}

void EntryTreeView::Toggle(HTREEITEM item) {
    if (!tree_ || !item) return;
    const EntryTree::Node node = NodeOf(tree_view_, item);
    tree_->SetChecked(node, tree_->State(node) != EntryTree::Check::kChecked);
    RefreshStates(reinterpret_cast<HTREEITEM>(::SendMessageW(tree_view_, TVM_GETNEXTITEM, TVGN_ROOT, 0)));
    RefreshCount();
}

void EntryTreeView::RefreshStates(HTREEITEM first) {
    for (HTREEITEM item = first; item;
         item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree_view_, TVM_GETNEXTITEM, TVGN_NEXT,
                                                           reinterpret_cast<LPARAM>(item)))) {
        TVITEMW data{};
        data.mask = TVIF_STATE | TVIF_HANDLE;
        data.hItem = item;
        data.stateMask = TVIS_STATEIMAGEMASK;
        data.state = INDEXTOSTATEIMAGEMASK(StateImage(tree_->State(NodeOf(tree_view_, item))));
        ::SendMessageW(tree_view_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        RefreshStates(reinterpret_cast<HTREEITEM>(
            ::SendMessageW(tree_view_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))));
    }
}

void EntryTreeView::RefreshCount() {
    if (!count_) return;
    const std::u16string text = tree_ ? ChosenText(tree_->ChosenEntries(), tree_->ChosenBytes(), numbers_) : u"";
    ::SetWindowTextW(count_, W(text));
}

bool EntryTreeView::OnNotify(const NMHDR* header, LRESULT& result) {
    if (!tree_view_ || header->hwndFrom != tree_view_) return false;
    result = 0;
    switch (header->code) {
    case TVN_ITEMEXPANDINGW: {
        const auto* change = reinterpret_cast<const NMTREEVIEWW*>(header);
        if (change->action != TVE_EXPAND || !tree_) return true;
        HTREEITEM item = change->itemNew.hItem;
        // The level is made the first time it is opened.
        if (!::SendMessageW(tree_view_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)))
            InsertChildren(item, static_cast<EntryTree::Node>(change->itemNew.lParam));
        return true;
    }
    case NM_CLICK: {
        TVHITTESTINFO hit{};
        const DWORD at = ::GetMessagePos();
        hit.pt = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
        ::ScreenToClient(tree_view_, &hit.pt);
        ::SendMessageW(tree_view_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.flags & TVHT_ONITEMSTATEICON) Toggle(hit.hItem);
        return true;
    }
    case TVN_KEYDOWN: {
        const auto* key = reinterpret_cast<const NMTVKEYDOWN*>(header);
        if (key->wVKey == VK_SPACE) {
            Toggle(reinterpret_cast<HTREEITEM>(::SendMessageW(tree_view_, TVM_GETNEXTITEM, TVGN_CARET, 0)));
            result = 1;  // no incremental search for the space
        }
        return true;
    }
    default:
        return true;
    }
}

// ---------------------------------------------------------------- the dialog's part

unsigned CVantrelDlg::CatalogueThreadProc(void* param) {
    auto* job = static_cast<CatalogueJob*>(param);
    std::vector<TreeEntry> entries;
    if (ReadTreeEntries(job->archivePath, entries, &job->stop)) job->tree = std::make_unique<EntryTree>(std::move(entries));
    // Posted, never sent: the dialog may be waiting for this thread.
    if (!job->stop.Requested()) ::PostMessageW(job->dialog, WM_CATALOGUE_READ, 0, 0);
    return 0;
}

void CVantrelDlg::ReadCatalogueOf(const std::u16string& archivePath) {
    // A read still going is told to stop and waited for (it stops at its
    // next entry); its tree would be another archive's.
    if (m_pCatalogueJob) m_pCatalogueJob->stop.Request();
    m_pCatalogueThread.reset();
    m_entryTree.Clear();
    m_pCatalogueJob = std::make_unique<CatalogueJob>();
    m_pCatalogueJob->archivePath = archivePath;
    m_pCatalogueJob->dialog = m_hWnd;
    m_pCatalogueThread = BeginWorkerThread(&CatalogueThreadProc, m_pCatalogueJob.get());
}

void CVantrelDlg::OnCatalogueRead() {
    if (!m_pCatalogueJob || !m_pCatalogueThread) return;
    m_pCatalogueThread.reset();
    // Only the archive chosen now; an archive that can't be read shows no
    // tree (its restore reports why).
    if (m_pCatalogueJob->tree && !m_strArchivePath.empty() && m_pCatalogueJob->archivePath == m_strArchivePath) {
        m_entryTree.Show(std::move(m_pCatalogueJob->tree));
    }
}

const std::vector<bool>* CVantrelDlg::ChosenEntriesForRun() {
    const EntryTree* tree = m_entryTree.Tree();
    // Every entry checked is the whole archive, as a restore always took it.
    if (!tree || m_pCatalogueJob == nullptr || m_pCatalogueJob->archivePath != m_strArchivePath ||
        tree->ChosenEntries() == tree->EntryCount())
        return nullptr;
    m_runChosen = tree->Choice();
    return &m_runChosen;
}
