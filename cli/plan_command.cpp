// sorvane-cli plan ARCHIVE FOLDER [MEMBER...]: what a restore with the same
// arguments would do with each entry, written as one line per entry (its
// kind, a tab, its name), and a summary; nothing on disk changes. The exit
// status is the one a restore would give before writing anything.

#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_progress.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/plan.h"

namespace {

RestoreFailure WhyRefused(const PlannedEntry& e) {
    RestoreFailure why;
    why.reason = e.reason;
    why.extractResult = e.fetchResult;
    return why;
}

std::string KindText(const PlannedEntry& e) {
    switch (e.kind) {
    case PlanKind::kNew: return "new";
    case PlanKind::kReplace: return e.newerThere ? "replace NEWER" : "replace older";
    case PlanKind::kIdentical: return "identical";
    case PlanKind::kKeep: return "keep";
    case PlanKind::kRefused: {
        return "refused: " + EntryReason(WhyRefused(e));
    }
    }
    return "?";
}

struct Tally {
    std::int32_t entries = 0;
    std::uint64_t bytes = 0;
    void Add(const PlannedEntry& e) {
        ++entries;
        bytes += e.bytes;
    }
    std::string Text(const char* kind) const {
        return std::to_string(entries) + " " + kind + " (" + std::to_string(bytes) + " bytes)";
    }
};

}  // namespace

int RunPlanCommand(const std::vector<std::string>& args) {
    RestoreLine read;
    if (!ReadRestoreLine(args, read)) return kExitUsage;
    const std::u16string& archive = read.archive;

    std::vector<PlannedEntry> planned;
    RestoreFailure failure;
    const int code = PlanRestore(read.folder, archive, read.choices, planned, &failure);
    if (code != RESTORE_OK) {
        WriteErr(RestoreFailureLine(code, failure, platform::PathExists(archive)));
        return -code;
    }
    Tally all, made, replaced, identical, kept, refused;
    std::int32_t newerReplaced = 0;
    const PlannedEntry* stop = nullptr;
    std::string out;
    for (const PlannedEntry& e : planned) {
        out += KindText(e) + "\t" + PrintableName(e.name) + "\n";
        all.Add(e);
        switch (e.kind) {
        case PlanKind::kNew: made.Add(e); break;
        case PlanKind::kReplace:
            replaced.Add(e);
            if (e.newerThere) ++newerReplaced;
            break;
        case PlanKind::kIdentical: identical.Add(e); break;
        case PlanKind::kKeep: kept.Add(e); break;
        case PlanKind::kRefused:
            refused.Add(e);
            if (!stop) stop = &e;
            break;
        }
        if (out.size() > 65536) {
            WriteOut(out);
            out.clear();
        }
    }
    out += "summary: " + all.Text("entries") + ": " + made.Text("new") + ", " + replaced.Text("replace") + ", " +
           identical.Text("identical") + ", " + kept.Text("keep") + ", " + refused.Text("refused") + "\n";
    if (newerReplaced > 0)
        out += "a restore would replace " + std::to_string(newerReplaced) + " files newer than the backup's\n";
    if (stop && read.line.keepGoing) {
        // Refusals the plan can see; damaged data shows only when read
        // (test ARCHIVE finds it).
        out += "a restore going on past failures would restore " + std::to_string(all.entries - refused.entries) +
               " entries and leave " + std::to_string(refused.entries) + " as they stand, the first at entry " +
               std::to_string(stop->index) + " \"" + PrintableName(stop->name) + "\": " + EntryReason(WhyRefused(*stop)) +
               "\n";
    } else if (stop) {
        out += "a restore would stop at entry " + std::to_string(stop->index) + " \"" + PrintableName(stop->name) +
               "\": " + EntryReason(WhyRefused(*stop)) + "\n";
    }
    WriteOut(out);
    return 0;
}
