// Windows entry point: wmain receives the command line in UTF-16, which
// survives any console code page; it is turned into UTF-8 once, here.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/system_library.h"
#include "platform/text.h"

int wmain(int argc, wchar_t** argv) {
    platform::SearchDllsInSystemFolderOnly();
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    return RunCli(args);
}
