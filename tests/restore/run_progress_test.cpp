// What a run's observer hears of its bytes: they move with the data handled,
// inside a single large entry and while confirmations wait for other
// threads, never go back, never pass the total, and end at it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using testzip::ZipBuilder;

// "fI.txt", built in steps (GCC 12 warns wrongly about the one-expression
// form of such concatenations).
std::string Name(int i) {
    std::string name = "f";
    name += std::to_string(i);
    name += ".txt";
    return name;
}

class ProgressLog : public RestoreObserver {
public:
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnRestoreProgress(const RestoreProgress& p) override { seen.push_back(p); }
    bool WantsByteTotal() const override { return true; }
    std::vector<RestoreProgress> seen;
};

TEST(RunProgress, BytesMoveWithTheDataNotOnlyWithConfirmedEntries) {
    constexpr platform::FileTime kTime = (1600000000LL + platform::kFileTimeUnixEpochSeconds) * 10000000LL;
    const struct {
        const char* fault;
        int entries;
        std::size_t size;
        bool again;  // restored again over identical files, with skipIdentical
    } cases[] = {
        {"a single large entry shown as nothing until it is done", 1, 24 << 20, false},
        {"the entries filled beside the run thread shown only once confirmed", 12, 3 << 20 >> 1, false},
        {"files read to find them identical shown as nothing", 6, 4 << 20, true},
    };
    for (const auto& c : cases) {
        for (const int producers : {0, 2}) {
            SCOPED_TRACE(restoretest::RunTrace(c.fault, producers));
            Sandbox box;
            ZipBuilder zip;
            for (int i = 0; i < c.entries; ++i) {
                testzip::Entry& e = zip.Add(Name(i), Text(c.size, i), 8);
                e.localExtra = e.centralExtra = testzip::ExtraField({testzip::UtBlock(1, 1600000000)});
            }
            box.WriteArchive(zip);
            RunOptions options;
            options.producers = producers;
            options.progressInterval = std::chrono::milliseconds(0);
            if (c.again) {
                for (int i = 0; i < c.entries; ++i) {
                    const std::string name = Name(i), data = Text(c.size, i);
                    box.Put(name, "");
                    platform::File f = platform::File::CreateAlways(box.DestU16(name), platform::kAttributeNormal);
                    ASSERT_TRUE(f.Write(data.data(), data.size()));
                    ASSERT_TRUE(f.SetTimes(0, 0, kTime));
                }
                options.choices.skipIdentical = true;
            }
            ProgressLog log;
            ASSERT_EQ(RestoreArchiveWithOptions(box.Dest(), box.Archive(), &log, nullptr, options), RESTORE_OK);
            const std::uint64_t total = static_cast<std::uint64_t>(c.entries) * c.size;
            ASSERT_FALSE(log.seen.empty());
            bool ahead = false;
            std::uint64_t last = 0;
            for (const RestoreProgress& p : log.seen) {
                EXPECT_EQ(p.bytesTotal, total);
                EXPECT_GE(p.bytesDone, last) << "the bar went back";
                EXPECT_LE(p.bytesDone, total);
                last = p.bytesDone;
                if (p.bytesDone > static_cast<std::uint64_t>(p.entriesDone) * c.size) ahead = true;
            }
            EXPECT_TRUE(ahead) << "no report counted data beyond the confirmed entries";
            EXPECT_EQ(log.seen.back().bytesDone, total);
            EXPECT_EQ(log.seen.back().entriesDone, c.entries);
        }
    }
}

}  // namespace
