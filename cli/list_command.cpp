// sorvane-cli list ARCHIVE [MEMBER...]: the catalogue as the engine sees it,
// one entry per line, tab-separated, so that scripts can compare it with
// other tools; with members (and -x), the entries they choose.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/text.h"
#include "zip/archive.h"

int RunListCommand(const std::vector<std::string>& args) {
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, kTakesExclude, line, error) || line.operands.empty() || line.operands[0].empty()) {
        if (!error.empty()) WriteErr("sorvane-cli: " + error + "\n");
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::u16string archive = platform::Utf8ToUtf16(line.operands[0]);
    std::vector<bool> chosen;
    const Chosen members = ChooseFromCommandLine(archive, line, 1, chosen);
    if (members == Chosen::kUnmatched) return kExitUsage;
    std::unique_ptr<ArchiveHandle> handle = OpenArchive(archive);
    if (!handle) {
        WriteErr("error 3: the archive could not be opened (result " + ResultText(lastReaderResult) + ")\n");
        return 3;
    }
    ArchiveEntry entry;
    ArchiveResult result = GetArchiveEntry(handle.get(), -1, entry);
    if (result != ARCHIVE_OK) {
        CloseArchive(handle);
        WriteErr("error 4: the number of entries could not be read (result " + ResultText(result) + ")\n");
        return 4;
    }
    const std::int32_t count = entry.index;
    std::string out;
    for (std::int32_t i = 0; i < count; ++i) {
        if (members == Chosen::kSome && (static_cast<std::size_t>(i) >= chosen.size() || !chosen[static_cast<std::size_t>(i)])) continue;
        result = GetArchiveEntry(handle.get(), i, entry);
        if (result != ARCHIVE_OK) {
            WriteOut(out);
            CloseArchive(handle);
            WriteErr("error 5: entry " + std::to_string(i) + " could not be read (result " + ResultText(result) +
                     ")\n");
            return 5;
        }
        char numbers[32];
        std::snprintf(numbers, sizeof numbers, "%d\t0x%X\t", static_cast<int>(entry.index),
                      static_cast<unsigned>(entry.attributes));
        out += numbers;
        // Whole decimal 64-bit sizes: a ZIP64 entry can pass 4 GiB.
        out += std::to_string(entry.compressedSize) + "\t" + std::to_string(entry.uncompressedSize) + "\t";
        out += FormatFileTimeUtc(entry.writeTime) + "\t" + FormatFileTimeUtc(entry.accessTime) + "\t" +
               FormatFileTimeUtc(entry.creationTime) + "\t" + PrintableName(entry.name) + "\n";
        if (out.size() > 65536) {
            WriteOut(out);
            out.clear();
        }
    }
    WriteOut(out);
    CloseArchive(handle);
    return 0;
}
