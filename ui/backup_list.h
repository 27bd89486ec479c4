#pragma once
// The backups that lie in one folder, found by their names: every .zip
// whose name decodes as a backup name (backup_name.h), with what the name
// tells and the file's size, grouped by the item that was backed up and
// newest first, so that "which of these is the one from before the
// mistake" can be answered by reading, not by opening each one.
// Nothing inside an archive is read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "ui/backup_name.h"

struct BackupFile {
    std::u16string fileName;  // as it stands in the folder
    std::u16string path;      // the folder and the file name
    std::uint64_t size = 0;   // bytes
    BackupInfo info;          // what the name tells
};

// The backups of one backed-up item (one original path), newest first.
struct BackupGroup {
    std::u16string originalPath;  // as the newest of them spells it
    std::vector<BackupFile> backups;
};

struct BackupFolder {
    // The group whose newest backup is the newest first.
    std::vector<BackupGroup> groups;
    // .zip files (the suffix in any letter case) whose names are not
    // backup names: counted, never listed.
    std::size_t undecoded = 0;

    std::size_t BackupCount() const;
};

// How a name is decoded; DescribeBackup for the program, another for a
// test that must not depend on the machine's code page.
using BackupDescriber = bool (*)(std::u16string_view fileName, BackupInfo& info);

// Sorts the folder's items into backups. A name whose decoding raises
// BackupNameError (a time the platform can't convert) counts as undecoded:
// in a list of many one unreadable name must not hide the others.
BackupFolder SortBackups(const std::u16string& folder, const std::vector<platform::FolderItem>& items,
                         BackupDescriber describe = &DescribeBackup);

// The backups in `folder`. False when the folder can't be read; `backups`
// is then empty.
bool ListBackups(const std::u16string& folder, BackupFolder& backups);

// The folder part of an archive's path (up to its last '\\' or '/', that
// separator included); empty when the path has none.
std::u16string FolderOfPath(std::u16string_view path);
