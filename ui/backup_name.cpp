// Decoding of backup archive file names: grammar, checks, Base64 and the
// derived folder and item name. The checks run in a fixed order and the
// outputs are written at fixed steps, because the dialog puts its fields
// back from its controls only when the whole parse fails.

#include "ui/backup_name.h"

#include <array>
#include <cstdio>

#include "platform/local_time.h"
#include "platform/path_rules.h"
#include "platform/text.h"

namespace {

constexpr std::uint8_t kSkip = 0x82;

constexpr std::array<std::uint8_t, 256> MakeBase64Table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = kSkip;
    for (int i = 0; i < 26; ++i) {
        table[static_cast<std::size_t>('A' + i)] = static_cast<std::uint8_t>(i);
        table[static_cast<std::size_t>('a' + i)] = static_cast<std::uint8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i) table[static_cast<std::size_t>('0' + i)] = static_cast<std::uint8_t>(52 + i);
    table[static_cast<std::size_t>('+')] = 62;
    table[static_cast<std::size_t>('/')] = 63;
    return table;
}

constexpr std::array<std::uint8_t, 256> kBase64 = MakeBase64Table();

std::string PlatformToAnsi(std::u16string_view text) { return platform::Utf16ToAnsi(text); }

int Field(std::u16string_view stamp, std::size_t offset, std::size_t length) {
    return nametext::ReadDecimal(stamp.substr(offset, length));
}

}  // namespace

std::vector<std::uint8_t> DecodeBase64(const std::uint8_t* data, std::size_t length, std::size_t& decodedLength) {
    std::vector<std::uint8_t> out(length + 1, 0);
    std::uint32_t bits = 0;
    std::size_t characters = 0;
    std::size_t written = 0;
    if (length > 0 && data[0] == '=') {
        decodedLength = 0;
        return out;
    }
    for (std::size_t i = 0; i < length;) {
        const std::uint8_t value = kBase64[data[i]];
        ++i;
        // An "=" right after a skipped byte is skipped with it; only one
        // that follows an alphabet byte marks the end.
        if (value == kSkip) continue;
        bits = (bits << 6) | value;
        if (++characters % 4 == 0) {
            out[written++] = static_cast<std::uint8_t>(bits >> 16);
            out[written++] = static_cast<std::uint8_t>(bits >> 8);
            out[written++] = static_cast<std::uint8_t>(bits);
            bits = 0;
        }
        if (i < length && data[i] == '=') break;
    }
    const std::size_t pending = characters % 4;
    if (pending > 1) {
        bits <<= 6 * (4 - pending);
        out[written++] = static_cast<std::uint8_t>(bits >> 16);
        if (pending == 3) out[written++] = static_cast<std::uint8_t>(bits >> 8);
    }
    decodedLength = written;
    return out;
}

std::int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        throw BackupNameError(BackupNameError::Kind::kTimeConversion, "date or time field out of range");
    std::int64_t seconds = 0;
    if (!platform::LocalCalendarToSeconds(platform::CalendarTime{year, month, day, hour, minute, second, 0}, seconds))
        throw BackupNameError(BackupNameError::Kind::kTimeConversion, "local time out of the supported range");
    return seconds;
}

std::u16string FormatBackupTime(std::int64_t time) {
    platform::CalendarTime local;
    if (!platform::SecondsToLocalCalendar(time, local)) return {};
    char text[128];
    const int n = std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", local.year, local.month, local.day,
                                local.hour, local.minute, local.second);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) return {};
    return std::u16string(text, text + n);
}

bool ParseBackupFileName(std::u16string_view fileName, std::int64_t& backupTime, std::u16string& backupKind,
                         std::u16string& originalPath) {
    return ParseBackupFileName(fileName, backupTime, backupKind, originalPath, &PlatformToAnsi);
}

bool ParseBackupFileName(std::u16string_view fileName, std::int64_t& backupTime, std::u16string& backupKind,
                         std::u16string& originalPath, AnsiEncoder toAnsi) {
    // Case matters: ".ZIP" is not a backup name.
    if (fileName.size() < 4 || fileName.substr(fileName.size() - 4) != u".zip") return false;

    std::size_t position = 0;
    const std::u16string_view stamp = nametext::NextToken(fileName, u'_', position);
    if (stamp.size() != 14) return false;
    const int year = Field(stamp, 0, 4);
    const int month = Field(stamp, 4, 2);
    const int day = Field(stamp, 6, 2);
    const int hour = Field(stamp, 8, 2);
    const int minute = Field(stamp, 10, 2);
    const int second = Field(stamp, 12, 2);
    // No upper bound on the year here: a year past the conversion's range
    // raises instead of reading as "not a backup".
    if (year < 1970) return false;
    if (month < 1 || month > 12) return false;
    if (day < 1 || day > 31) return false;  // whatever the month; the conversion rolls over
    if (hour < 0 || hour > 23) return false;
    if (minute < 0 || minute > 59) return false;
    if (second < 0 || second > 59) return false;
    backupTime = MakeLocalTime(year, month, day, hour, minute, second);

    const std::u16string_view kind = nametext::NextToken(fileName, u'_', position);
    backupKind = std::u16string(kind);
    if (kind.empty()) return false;

    // Everything between the kind token's underscore and ".zip"; nothing
    // when the kind token ran to the end of the name.
    std::u16string_view encoded;
    if (position != std::u16string_view::npos && position + 4 < fileName.size())
        encoded = fileName.substr(position, fileName.size() - position - 4);
    originalPath = std::u16string(encoded);
    if (encoded.empty()) return false;

    const std::string bytes = toAnsi(encoded);
    if (bytes.empty())
        throw BackupNameError(BackupNameError::Kind::kCodePageConversion,
                              "the encoded path could not be converted to the ANSI code page");
    std::size_t decodedLength = 0;
    const std::vector<std::uint8_t> decoded =
        DecodeBase64(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), decodedLength);
    // A zero byte among the decoded ones ends the text.
    std::size_t textLength = 0;
    while (textLength < decodedLength && decoded[textLength] != 0) ++textLength;
    originalPath = platform::AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(decoded.data()), textLength));
    return !originalPath.empty();
}

std::u16string BackupParentFolder(std::u16string_view originalPath) {
    std::u16string_view path = originalPath;
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    std::u16string folder = platform::RemoveLastPathElement(path);
    if (folder.empty() || folder.back() != u'\\') folder.push_back(u'\\');
    return folder;
}

std::u16string BackupItemName(std::u16string_view originalPath) {
    std::u16string_view name = platform::LastPathElement(originalPath);
    if (!name.empty() && name.back() == u'\\') name.remove_suffix(1);
    return std::u16string(name);
}

bool DescribeBackup(std::u16string_view fileName, BackupInfo& info) {
    BackupInfo decoded;
    if (!ParseBackupFileName(fileName, decoded.backupTime, decoded.backupKind, decoded.originalPath)) return false;
    decoded.timeText = FormatBackupTime(decoded.backupTime);
    decoded.itemName = BackupItemName(decoded.originalPath);
    decoded.parentFolder = BackupParentFolder(decoded.originalPath);
    info = std::move(decoded);
    return true;
}
