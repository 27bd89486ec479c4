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

// The same, with the conversion of the encoded path to ANSI code page bytes
// given by the caller (the one above uses platform::Utf16ToAnsi). An empty
// result for non-empty text is a failed conversion and raises
// BackupNameError(kCodePageConversion).
using AnsiEncoder = std::string (*)(std::u16string_view text);
bool ParseBackupFileName(std::u16string_view fileName, std::int64_t& backupTime, std::u16string& backupKind,
                         std::u16string& originalPath, AnsiEncoder toAnsi);

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

// Tokens and numbers as backup names and version texts are read.
namespace nametext {

// The next token from `position`: separators are skipped, the token is the
// run of other characters after them, and `position` moves one past the
// single separator that ended it (past the end when the text ended it).
// When nothing is left the token is empty and `position` becomes npos, after
// which every token is empty.
inline std::u16string_view NextToken(std::u16string_view text, char16_t separator, std::size_t& position) {
    constexpr std::size_t npos = std::u16string_view::npos;
    if (position == npos || position > text.size()) {
        position = npos;
        return {};
    }
    std::size_t start = position;
    while (start < text.size() && text[start] == separator) ++start;
    if (start == text.size()) {
        position = npos;
        return {};
    }
    std::size_t end = start;
    while (end < text.size() && text[end] != separator) ++end;
    position = end + 1;
    return text.substr(start, end - start);
}

// A base-10 number read the way wcstol reads one where long has 32 bits:
// leading white space and one sign accepted, reading stops at the first
// non-digit, no digits read as 0, and values beyond the 32-bit range are
// clamped to it.
inline std::int32_t ReadDecimal(std::u16string_view text) {
    std::size_t i = 0;
    const auto isSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == u'\u3000'; };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    std::int64_t value = 0;
    bool clamped = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (!clamped) value = value * 10 + (text[i] - u'0');
        if (value > 2147483648LL) clamped = true;
    }
    if (negative) value = -value;
    if (clamped || value > 2147483647LL) return negative ? INT32_MIN : INT32_MAX;
    return static_cast<std::int32_t>(value);
}

}  // namespace nametext
