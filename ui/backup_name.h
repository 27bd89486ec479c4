#pragma once
// Decoding of backup archive file names. A backup names itself:
//   [_...]YYYYMMDDhhmmss_[_...]KIND_BASE64PATH.zip
// where BASE64PATH encodes the backed-up item's full path as 8-bit text in
// the ANSI code page. Nothing inside the archive is consulted.
//
// Errors: ParseBackupFileName returns false for a name that is not a backup
// name. Two failures are raised instead, as BackupNameError: a time stamp
// whose local-time conversion fails (before 1970 UTC, after 3000-12-31
// 23:59:59 UTC) and a failing code-page conversion. The dialog catches them
// where its commands are dispatched.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class BackupNameError : public std::runtime_error {
public:
    enum class Kind { kTimeConversion, kCodePageConversion };
    BackupNameError(Kind kind, const char* what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }
private:
    Kind kind_;
};

struct BackupInfo {
    std::int64_t backupTime = 0;  // seconds since 1970-01-01 UTC
    std::u16string backupKind;
    std::u16string originalPath;
    std::u16string timeText;      // "%Y/%m/%d %H:%M:%S", local time
    std::u16string itemName;      // last component of originalPath
    std::u16string parentFolder;  // folder holding the item, ends in '\\'
};

// True when fileName (the file-name part only) is a backup name. Outputs may
// be partly written when it returns false. Throws BackupNameError.
bool ParseBackupFileName(std::u16string_view fileName, std::int64_t& backupTime, std::u16string& backupKind,
                         std::u16string& originalPath);

// Base64 as backup names use it: bytes outside the alphabet are skipped, "="
// right after an alphabet byte ends the input. Returns length + 1 zeroed
// bytes holding the decoded ones; decodedLength tells how many.
std::vector<std::uint8_t> DecodeBase64(const std::uint8_t* data, std::size_t length, std::size_t& decodedLength);

// Local date and time to seconds since 1970 UTC (daylight saving decided by
// the zone). Throws BackupNameError(kTimeConversion) when out of range.
std::int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second);

// "%Y/%m/%d %H:%M:%S" in local time; empty when the time can't be shown.
std::u16string FormatBackupTime(std::int64_t time);

// The parent folder (ending in '\\') and item name derived from originalPath.
std::u16string BackupParentFolder(std::u16string_view originalPath);
std::u16string BackupItemName(std::u16string_view originalPath);

// Parses and derives every field. False for a name that is not a backup
// name (info then untouched). Throws BackupNameError.
bool DescribeBackup(std::u16string_view fileName, BackupInfo& info);
