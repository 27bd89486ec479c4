// Checking a backup without restoring it names the entry a restore would
// fail at, whichever reader thread finds a fault first, and writes nothing.

#include <gtest/gtest.h>

#include <string>

#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Corrupt;
using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;

TEST(VerifyArchive, NamesTheFirstDamagedEntryInCatalogueOrder) {
    struct Case {
        const char* fault;
        int readers;
    };
    const Case cases[] = {
        {"serial check names another entry", 0},
        {"a later entry's quicker failure named first", 2},
    };
    Sandbox box;
    ZipBuilder zip;
    zip.Add("one.txt", "1");
    // Its fault shows only after 6 MiB of inflating; the small ones after it
    // fail at once on the other reader.
    Corrupt(zip.Add("big.txt", Text(6 << 20, 1), 8));
    for (int i = 0; i < 6; ++i) Corrupt(zip.Add("small" + std::to_string(i) + ".txt", Text(100, i), 8));
    box.WriteArchive(zip);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        RestoreFailure failure;
        EXPECT_EQ(VerifyArchiveWithReaders(box.Archive(), nullptr, &failure, c.readers), RESTORE_ENTRY_FAILED);
        EXPECT_EQ(failure.entryIndex, 1);
        EXPECT_EQ(failure.entryName, u"big.txt");
        EXPECT_EQ(failure.extractFailure, ExtractFailure::kCrcMismatch);
    }
    EXPECT_EQ(Tree(box.root.path()), std::vector<std::string>{"archive.zip"});
}

}  // namespace
