// sorvane-cli: the restore engine from a console, for scripts and for
// measuring. The platform entry point (main_posix.cpp, main_win32.cpp)
// turns the command line into UTF-8 and calls RunCli.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "platform/console.h"
#include "product_version.h"
#include "zip/inflater.h"

void WriteOut(const std::string& utf8) { platform::WriteText(platform::StandardStream::kOutput, utf8); }
void WriteErr(const std::string& utf8) { platform::WriteText(platform::StandardStream::kError, utf8); }

int RunCli(const std::vector<std::string>& args) {
    if (args.empty()) {
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h") {
        WriteOut(UsageText());
        return 0;
    }
    if (command == "--version") {
        // The decoder is named: a build without ISA-L restores the same
        // data at about half the speed, and this line tells the two apart.
        const InflaterLibrary inflater = DefaultInflaterLibrary();
        WriteOut(std::string("sorvane-cli ") + SORVANE_VERSION_TEXT + "\ninflate: " + inflater.name + " " +
                 inflater.version + "\n");
        return 0;
    }
    if (command == "restore") return RunRestoreCommand(rest);
    if (command == "list") return RunListCommand(rest);
    if (command == "info") return RunInfoCommand(rest);
    if (command == "test") return RunTestCommand(rest);
    if (command == "plan") return RunPlanCommand(rest);
    if (command == "backups") return RunBackupsCommand(rest);
    WriteErr("sorvane-cli: unknown command \"" + command + "\"\n" + UsageText());
    return kExitUsage;
}
