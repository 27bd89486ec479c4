// sorvane-cli backups FOLDER: the backups lying in a folder, one line each,
//   TIME<TAB>ORIGINAL PATH<TAB>FILE NAME
// with the time as the dialog shows it, grouped by the item backed up and
// newest first (backup_list.h), so that a script, or a user at a console,
// finds the backup of an item from a given day without opening any.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "ui/backup_list.h"

int RunBackupsCommand(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty()) {
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::u16string folder = platform::FullPath(platform::Utf8ToUtf16(args[0]));
    BackupFolder backups;
    if (folder.empty() || !ListBackups(folder, backups)) {
        WriteErr("error: the folder \"" + args[0] + "\" could not be read\n");
        return kExitFolderUnreadable;
    }
    std::string out;
    for (const BackupGroup& group : backups.groups) {
        for (const BackupFile& b : group.backups) {
            // A decoded path may hold a tab or a line break; the columns
            // must stay three.
            out += platform::Utf16ToUtf8(b.info.timeText) + "\t" + PrintableName(b.info.originalPath) + "\t" +
                   PrintableName(b.fileName) + "\n";
        }
    }
    WriteOut(out);
    // Said apart from the list, which scripts read line by line.
    if (backups.undecoded > 0)
        WriteErr(std::to_string(backups.undecoded) + " .zip file(s) in the folder are not named as backups\n");
    return 0;
}
