// The backups in a folder (see backup_list.h).

#include "ui/backup_list.h"

#include <algorithm>
#include <utility>

namespace {

bool EndsWithZip(std::u16string_view name) {
    if (name.size() < 4) return false;
    const std::u16string_view tail = name.substr(name.size() - 4);
    const std::u16string_view zip = u".zip";
    for (std::size_t i = 0; i < 4; ++i) {
        char16_t c = tail[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != zip[i]) return false;
    }
    return true;
}

// Two spellings of one Windows path group together: "D:\Data\Photos",
// "d:\data\photos" and "D:\Data\Photos\" name one item there.
std::u16string GroupKey(std::u16string_view originalPath) {
    std::u16string key(originalPath);
    if (!key.empty() && key.back() == u'\\') key.pop_back();
    for (char16_t& c : key)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return key;
}

std::u16string Joined(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty() || folder.back() == u'\\' || folder.back() == u'/') return folder + name;
    return folder + platform::kPathSeparator + name;
}

bool Newer(const BackupFile& a, const BackupFile& b) {
    if (a.info.backupTime != b.info.backupTime) return a.info.backupTime > b.info.backupTime;
    // Two backups of one second: the order must still not depend on how
    // the system happened to list them.
    return a.fileName > b.fileName;
}

}  // namespace

std::size_t BackupFolder::BackupCount() const {
    std::size_t n = 0;
    for (const BackupGroup& g : groups) n += g.backups.size();
    return n;
}

BackupFolder SortBackups(const std::u16string& folder, const std::vector<platform::FolderItem>& items,
                         BackupDescriber describe) {
    BackupFolder result;
    std::vector<std::pair<std::u16string, BackupFile>> found;
    for (const platform::FolderItem& item : items) {
        if (item.folder || !EndsWithZip(item.name)) continue;
        BackupFile file;
        bool decoded = false;
        try {
            decoded = describe(item.name, file.info);
        } catch (const BackupNameError&) {
            decoded = false;
        }
        if (!decoded) {
            ++result.undecoded;
            continue;
        }
        file.fileName = item.name;
        file.path = Joined(folder, item.name);
        file.size = item.size;
        found.emplace_back(GroupKey(file.info.originalPath), std::move(file));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return Newer(a.second, b.second);
    });
    for (std::size_t i = 0; i < found.size();) {
        BackupGroup group;
        group.originalPath = found[i].second.info.originalPath;
        const std::u16string& key = found[i].first;
        for (; i < found.size() && found[i].first == key; ++i) group.backups.push_back(std::move(found[i].second));
        result.groups.push_back(std::move(group));
    }
    std::stable_sort(result.groups.begin(), result.groups.end(), [](const BackupGroup& a, const BackupGroup& b) {
        return Newer(a.backups.front(), b.backups.front());
    });
    return result;
}

bool ListBackups(const std::u16string& folder, BackupFolder& backups) {
    backups = {};
    std::vector<platform::FolderItem> items;
    if (!platform::ListFolder(folder, items)) return false;
    backups = SortBackups(folder, items);
    return true;
}

std::u16string FolderOfPath(std::u16string_view path) {
    const std::size_t last = path.find_last_of(u"\\/");
    if (last == std::u16string_view::npos) return {};
    return std::u16string(path.substr(0, last + 1));
}
