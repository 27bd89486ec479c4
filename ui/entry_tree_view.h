#pragma once
// The restore dialog's tree of the chosen archive's folders and files with
// check boxes (entry_tree.h), right of the dialog's fields, and under it
// the entries and bytes chosen. Made, and the dialog widened for it, when
// the first archive's catalogue has been read; a level's items are made
// when the user opens it. The view shows the model and passes clicks on
// the boxes (and the space key) to it. UI thread only.

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>

#include "ui/entry_tree.h"
#include "ui/run_view.h"

// Where the tree sits (dialog units): right of the template's controls,
// from the top to above the dialog's bottom edge, the count line below.
inline constexpr int kEntryTreeLeftUnits = 319;
inline constexpr int kEntryTreeWidthUnits = 190;
inline constexpr int kEntryTreeGrowthUnits = 200;  // the dialog's added width

// "選んだ項目：1,234（5.6 MB）"
std::u16string ChosenText(std::int64_t entries, std::uint64_t bytes, const NumberText& numbers);

class EntryTreeView {
public:
    void Attach(HWND dialog) { dialog_ = dialog; }
    // Shows `tree` (the archive's), all checked; replaces what was shown.
    void Show(std::unique_ptr<EntryTree> tree);
    // No archive: the tree empties (the controls stay).
    void Clear();
    // The model shown, or null.
    const EntryTree* Tree() const noexcept { return tree_.get(); }
    // A WM_NOTIFY from the tree; true when it was the tree's.
    bool OnNotify(const NMHDR* header, LRESULT& result);
    // After the dialog changed size or DPI: the tree fills its column again.
    void Relayout();

private:
    void Create();
    void InsertChildren(HTREEITEM parent, EntryTree::Node node);
    void Toggle(HTREEITEM item);
    void RefreshStates(HTREEITEM first);
    void RefreshCount();

    HWND dialog_ = nullptr;
    HWND tree_view_ = nullptr;
    HWND count_ = nullptr;
    HIMAGELIST states_ = nullptr;  // owned; destroyed with the view
    std::unique_ptr<EntryTree> tree_;
    UserNumberText numbers_;

public:
    EntryTreeView() = default;
    EntryTreeView(const EntryTreeView&) = delete;
    EntryTreeView& operator=(const EntryTreeView&) = delete;
    ~EntryTreeView();
};
