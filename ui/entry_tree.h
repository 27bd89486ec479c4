#pragma once
// The chosen archive's folders and files as a tree with check boxes, all
// checked at first, for choosing what to restore: the model the dialog's
// tree view shows. A level is made only when it is first asked for (the
// view asks when the user opens a folder), so an archive of a million
// entries costs one sort of its names, not a million tree items. Checked
// state is kept per catalogue entry; a folder is checked, unchecked or
// mixed by what lies below it. The result is the engine's member choice
// (RestoreChoices::entries), with the folder entries the chosen entries
// lie in, as a restore of members takes them.

#include <cstdint>
#include <string>
#include <vector>

#include "restore/restore.h"

// One entry of the catalogue, in catalogue order.
struct TreeEntry {
    std::u16string name;  // as stored; '/' or '\\' between levels
    bool folder = false;  // a folder entry (its name ends in a separator)
    std::uint64_t bytes = 0;  // uncompressed
};

class EntryTree {
public:
    using Node = std::int32_t;
    enum class Check { kUnchecked, kChecked, kMixed };

    explicit EntryTree(std::vector<TreeEntry> entries);

    Node Root() const noexcept { return 0; }
    // The node's folders, then its files, each by name; made on the first
    // call for that node.
    const std::vector<Node>& Children(Node node);
    const std::u16string& Name(Node node) const { return nodes_[static_cast<std::size_t>(node)].name; }
    // A folder: a folder entry, or a level that entries lie in.
    bool IsFolder(Node node) const { return nodes_[static_cast<std::size_t>(node)].folder; }
    // Nodes made so far (the root included).
    std::size_t NodeCount() const noexcept { return nodes_.size(); }

    Check State(Node node) const;
    // Checks or unchecks the node and everything below it.
    void SetChecked(Node node, bool checked);

    std::int64_t ChosenEntries() const noexcept { return chosenCount_; }
    std::uint64_t ChosenBytes() const noexcept { return chosenBytes_; }
    std::int64_t EntryCount() const noexcept { return static_cast<std::int64_t>(entries_.size()); }

    // The engine's member choice, by catalogue index: every checked entry,
    // and the folder entries of the folders a checked entry lies in.
    std::vector<bool> Choice() const;

private:
    struct NodeData {
        std::u16string name;
        std::size_t lo = 0, hi = 0;  // its entries, positions in sorted order
        std::size_t prefix = 0;      // length of the path that names its level, separator included
        bool folder = false;
        bool filled = false;
        std::vector<Node> children;
    };
    // Units of a name as sorted: separators below every other character,
    // so that what lies in a folder follows the folder at once.
    static char16_t SortUnit(char16_t c) noexcept;
    std::size_t KeyLength(std::size_t position) const;  // without a final separator
    char16_t KeyAt(std::size_t position, std::size_t i) const;
    void Flip(std::size_t position, bool checked);
    std::int64_t CheckedIn(std::size_t lo, std::size_t hi) const;

    std::vector<TreeEntry> entries_;
    std::vector<std::uint32_t> order_;  // catalogue indexes in sorted order
    std::vector<bool> checked_;         // by sorted position
    std::vector<std::int64_t> fenwick_; // checked counts by sorted position
    std::vector<NodeData> nodes_;
    std::int64_t chosenCount_ = 0;
    std::uint64_t chosenBytes_ = 0;
};

// The catalogue of the archive at `archivePath` as the tree takes it. False
// when it can't be opened or read, or `stop` was requested meanwhile.
bool ReadTreeEntries(const std::u16string& archivePath, std::vector<TreeEntry>& entries,
                     const StopRequest* stop = nullptr);
