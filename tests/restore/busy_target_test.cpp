// A file at the target that another program holds for a moment (a scanner,
// an indexer, a sync client) is waited for, a few seconds at most; held for
// longer, the entry fails in bounded time, says the file is in use, and the
// old file stays as it was.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "file_holder.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;

struct BusyCase {
    const char* fault;
    unsigned heldMs;
    bool readOnly;     // the held file is read-only too
    EntryFailure reason;
};

TEST(BusyTarget, IsWaitedForBrieflyAndNeverReportedAsSomethingElse) {
    const BusyCase cases[] = {
        {"a file held for a moment failing the run", 1500, false, EntryFailure::kNone},
        {"a read-only file held for a moment failing the run", 1500, true, EntryFailure::kNone},
        {"a file held for long waited for without end, or named a folder", 8000, false, EntryFailure::kFileInUse},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            box.Put("docs/target.bin", "OLD");
            if (c.readOnly) {
                std::filesystem::permissions(box.DestPath("docs/target.bin"), std::filesystem::perms::owner_read |
                                                                                 std::filesystem::perms::group_read |
                                                                                 std::filesystem::perms::others_read);
            }
            ZipBuilder zip;
            zip.Add("docs/first.txt", "1");
            zip.Add("docs/target.bin", Text(2 << 20, 5), 8);
            zip.Add("docs/after.txt", "A");
            box.WriteArchive(zip);
            std::optional<restoretest::FileHolder> holder(std::in_place);
            RESTORETEST_SET_UP(holder->Hold(box.DestPath("docs/target.bin"), c.heldMs));
            const auto start = std::chrono::steady_clock::now();
            RestoreFailure failure;
            const int code = RestoreArchiveWithProducers(box.Dest(), box.Archive(), nullptr, &failure, producers);
            const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, platform::kBusyWaitMs / 1000.0 + 2.5);
            if (c.reason == EntryFailure::kNone) {
                EXPECT_EQ(code, RESTORE_OK);
                EXPECT_EQ(box.Read("docs/target.bin"), Text(2 << 20, 5));
                continue;
            }
            EXPECT_EQ(code, RESTORE_ENTRY_FAILED);
            EXPECT_EQ(failure.entryIndex, 1);
            EXPECT_EQ(failure.reason, c.reason);
            holder.reset();  // the other program lets go
            EXPECT_EQ(box.Read("docs/target.bin"), "OLD");
            EXPECT_EQ(Tree(box.DestPath()), std::vector<std::string>({"docs/", "docs/first.txt", "docs/target.bin"}));
        }
    }
}

}  // namespace
