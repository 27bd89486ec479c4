// The tree of an archive's entries with check boxes (see entry_tree.h).

#include "ui/entry_tree.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "zip/archive.h"

namespace {

bool IsSeparator(char16_t c) noexcept { return c == u'/' || c == u'\\'; }

}  // namespace

char16_t EntryTree::SortUnit(char16_t c) noexcept { return IsSeparator(c) ? u'\x01' : c; }

std::size_t EntryTree::KeyLength(std::size_t position) const {
    const std::u16string& n = entries_[order_[position]].name;
    std::size_t length = n.size();
    while (length > 0 && IsSeparator(n[length - 1])) --length;
    return length;
}

char16_t EntryTree::KeyAt(std::size_t position, std::size_t i) const {
    return SortUnit(entries_[order_[position]].name[i]);
}

EntryTree::EntryTree(std::vector<TreeEntry> entries) : entries_(std::move(entries)) {
    order_.resize(entries_.size());
    std::iota(order_.begin(), order_.end(), 0u);
    // Compared in place, a unit at a time: a copy of every key would double
    // the memory of a large catalogue.
    std::stable_sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::u16string& x = entries_[a].name;
        const std::u16string& y = entries_[b].name;
        std::size_t lx = x.size(), ly = y.size();
        while (lx > 0 && IsSeparator(x[lx - 1])) --lx;
        while (ly > 0 && IsSeparator(y[ly - 1])) --ly;
        const std::size_t n = std::min(lx, ly);
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t cx = SortUnit(x[i]), cy = SortUnit(y[i]);
            if (cx != cy) return cx < cy;
        }
        return lx < ly;
    });
    checked_.assign(entries_.size(), true);
    fenwick_.assign(entries_.size() + 1, 0);
    // Every entry checked: the tree of ones built in linear time.
    for (std::size_t i = 1; i <= entries_.size(); ++i) {
        fenwick_[i] += 1;
        const std::size_t parent = i + (i & (~i + 1));
        if (parent <= entries_.size()) fenwick_[parent] += fenwick_[i];
    }
    chosenCount_ = static_cast<std::int64_t>(entries_.size());
    for (const TreeEntry& e : entries_) chosenBytes_ += e.bytes;
    NodeData root;
    root.hi = entries_.size();
    root.folder = true;
    nodes_.push_back(std::move(root));
}

const std::vector<EntryTree::Node>& EntryTree::Children(Node node) {
    if (nodes_[static_cast<std::size_t>(node)].filled) return nodes_[static_cast<std::size_t>(node)].children;
    const NodeData parent = nodes_[static_cast<std::size_t>(node)];  // nodes_ grows below
    std::vector<Node> folders, files;
    std::size_t p = parent.lo;
    // The parent's own entry (a folder entry of exactly its path) comes
    // first in its range and is no child.
    while (p < parent.hi && KeyLength(p) <= parent.prefix) ++p;
    while (p < parent.hi) {
        const std::u16string& name = entries_[order_[p]].name;
        const std::size_t length = KeyLength(p);
        std::size_t end = parent.prefix;
        while (end < length && !IsSeparator(name[end])) ++end;
        // The child's range: the entries whose key is the component, or
        // starts with it and a separator.
        const std::size_t componentEnd = end;
        std::size_t q = p + 1;
        bool below = end < length;
        while (q < parent.hi) {
            const std::size_t lq = KeyLength(q);
            if (lq < componentEnd) break;
            bool same = true;
            for (std::size_t i = parent.prefix; i < componentEnd && same; ++i) same = KeyAt(q, i) == KeyAt(p, i);
            if (!same) break;
            if (lq > componentEnd && !IsSeparator(entries_[order_[q]].name[componentEnd])) break;
            below = below || lq > componentEnd;
            ++q;
        }
        NodeData child;
        child.name = name.substr(parent.prefix, componentEnd - parent.prefix);
        child.lo = p;
        child.hi = q;
        child.prefix = componentEnd + 1;
        child.folder = below || entries_[order_[p]].folder;
        const Node id = static_cast<Node>(nodes_.size());
        (child.folder ? folders : files).push_back(id);
        nodes_.push_back(std::move(child));
        p = q;
    }
    NodeData& filled = nodes_[static_cast<std::size_t>(node)];
    filled.children = std::move(folders);
    filled.children.insert(filled.children.end(), files.begin(), files.end());
    filled.filled = true;
    return filled.children;
}

std::int64_t EntryTree::CheckedIn(std::size_t lo, std::size_t hi) const {
    const auto prefix = [&](std::size_t n) {
        std::int64_t sum = 0;
        for (; n > 0; n -= n & (~n + 1)) sum += fenwick_[n];
        return sum;
    };
    return prefix(hi) - prefix(lo);
}

EntryTree::Check EntryTree::State(Node node) const {
    const NodeData& n = nodes_[static_cast<std::size_t>(node)];
    const std::int64_t checked = CheckedIn(n.lo, n.hi);
    if (checked == 0) return Check::kUnchecked;
    if (checked == static_cast<std::int64_t>(n.hi - n.lo)) return Check::kChecked;
    return Check::kMixed;
}

void EntryTree::Flip(std::size_t position, bool checked) {
    if (checked_[position] == checked) return;
    checked_[position] = checked;
    const std::int64_t delta = checked ? 1 : -1;
    for (std::size_t i = position + 1; i <= entries_.size(); i += i & (~i + 1)) fenwick_[i] += delta;
    chosenCount_ += delta;
    const std::uint64_t bytes = entries_[order_[position]].bytes;
    chosenBytes_ = checked ? chosenBytes_ + bytes : chosenBytes_ - bytes;
}

void EntryTree::SetChecked(Node node, bool checked) {
    const NodeData& n = nodes_[static_cast<std::size_t>(node)];
    for (std::size_t p = n.lo; p < n.hi; ++p) Flip(p, checked);
}

std::vector<bool> EntryTree::Choice() const {
    std::vector<bool> chosen(entries_.size(), false);
    // In sorted order a folder entry comes before what lies in it: a stack
    // of the folder entries around the current position tells which
    // folders a checked entry lies in.
    struct Open {
        std::size_t position, length;
        bool marked;
    };
    std::vector<Open> open;
    for (std::size_t p = 0; p < order_.size(); ++p) {
        const std::size_t length = KeyLength(p);
        const std::u16string& name = entries_[order_[p]].name;
        while (!open.empty()) {
            const Open& o = open.back();
            bool inside = length > o.length && IsSeparator(name[o.length]);
            for (std::size_t i = 0; i < o.length && inside; ++i) inside = KeyAt(p, i) == KeyAt(o.position, i);
            if (inside) break;
            open.pop_back();
        }
        if (checked_[p]) {
            chosen[order_[p]] = true;
            for (auto it = open.rbegin(); it != open.rend() && !it->marked; ++it) {
                it->marked = true;
                chosen[order_[it->position]] = true;
            }
        }
        if (entries_[order_[p]].folder) open.push_back({p, length, checked_[p]});
    }
    return chosen;
}

bool ReadTreeEntries(const std::u16string& archivePath, std::vector<TreeEntry>& entries, const StopRequest* stop) {
    entries.clear();
    std::unique_ptr<ArchiveHandle> handle = OpenArchive(archivePath);
    if (!handle) return false;
    ArchiveEntry entry;
    bool read = GetArchiveEntry(handle.get(), -1, entry) == ARCHIVE_OK;
    const std::int32_t count = read ? entry.index : 0;
    entries.reserve(static_cast<std::size_t>(std::max<std::int32_t>(count, 0)));
    for (std::int32_t i = 0; read && i < count; ++i) {
        if (stop && stop->Requested()) read = false;
        if (read) read = GetArchiveEntry(handle.get(), i, entry) == ARCHIVE_OK;
        if (!read) break;
        const bool folder = (!entry.name.empty() && IsSeparator(entry.name.back())) || (entry.attributes & 0x10) != 0;
        entries.push_back({std::move(entry.name), folder, entry.uncompressedSize});
    }
    CloseArchive(handle);
    if (!read) entries.clear();
    return read;
}
