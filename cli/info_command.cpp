// sorvane-cli info: what a backup's file name says, with the dialog's labels,
// so a backup can be checked before it is restored.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "platform/text.h"
#include "ui/backup_name.h"

namespace {

constexpr char kUnreadable[] =
    "バックアップファイルの情報が読み取れませんでした。正しいバックアップファイルを指定してください。\n";

// Only the file-name part carries the description; the folder it lies in
// says nothing. Both separators are accepted so that a Windows path given
// on Linux works too.
std::string FileNamePart(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Describe(const BackupInfo& info) {
    const auto u8 = [](const std::u16string& s) { return platform::Utf16ToUtf8(s); };
    return "バックアップ時間：" + u8(info.timeText) + "\n" +
           "名前：" + u8(info.itemName) + "\n" +
           "パス：" + u8(info.parentFolder) + "\n" +
           "形式：" + u8(info.backupKind) + "\n" +
           "元のパス：" + u8(info.originalPath) + "\n";
}

}  // namespace

int RunInfoCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        WriteErr(UsageText());
        return kExitUsage;
    }
    int status = 0;
    bool first = true;
    for (const std::string& arg : args) {
        const std::string name = FileNamePart(arg);
        BackupInfo info;
        try {
            if (!DescribeBackup(platform::Utf8ToUtf16(name), info)) {
                WriteErr(kUnreadable);
                status = 1;
                continue;
            }
        } catch (const BackupNameError& e) {
            const char* reason = e.kind() == BackupNameError::Kind::kTimeConversion
                                     ? "the backup time lies outside 1970-01-01 00:00:00 .. 3000-12-31 23:59:59 UTC"
                                     : "the encoded path could not be converted to the ANSI code page";
            WriteErr("error: " + name + ": " + reason + "\n");
            status = 1;
            continue;
        }
        std::string block = first ? std::string() : std::string("\n");
        block += Describe(info);
        WriteOut(block);
        first = false;
    }
    return status;
}
