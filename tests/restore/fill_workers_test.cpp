// The worker threads on their own: every file handed over ends with one
// verdict and, when it says so, with the entry's complete data; a fill the
// run no longer needs, or one nobody took, leaves no file behind; at its
// bound the run thread fills files itself instead of waiting forever.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "restore/fill_workers.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;

// "e" + i, built in steps (GCC 12 warns wrongly about the one-expression form).
std::string Name(int i) {
    std::string name("e");
    name += std::to_string(i);
    return name;
}

// Every 50th entry is large, one of them large enough to be written by a
// thread of its own.
std::string DataOf(int i) { return Text(i == 57 ? 20 << 20 : i % 50 == 7 ? 3 << 20 : 700 + i, i); }

struct Pool {
    OwnedArchive archive;  // the run thread's own handle
    std::unique_ptr<FillWorkers> workers;
};

// An archive of `count` entries (DataOf) and a pool of
// `threads` workers on it, started or not.
Pool MakePool(const Sandbox& box, int count, int threads, bool start) {
    ZipBuilder zip;
    for (int i = 0; i < count; ++i) zip.Add(Name(i), DataOf(i), 8);
    box.WriteArchive(zip);
    Pool pool;
    pool.archive.reset(OpenArchive(box.Archive()).release());
    std::vector<OwnedArchive> handles;
    for (int i = 0; i < threads; ++i) handles.emplace_back(OpenArchiveAlongside(*pool.archive, box.Archive()).release());
    pool.workers = std::make_unique<FillWorkers>(std::move(handles), nullptr, nullptr);
    if (start) {
        EXPECT_TRUE(pool.workers->Start());
    }
    return pool;
}

std::u16string Target(const Sandbox& box, int i) { return box.DestU16(Name(i)); }

void HandOver(Pool& pool, const Sandbox& box, int i, std::vector<FillVerdict>& verdicts) {
    FillJob job;
    job.index = i;
    ASSERT_EQ(CreateNewFile(Target(box, i), job.file), Creation::kCreated);
    ArchiveEntry entry;
    ASSERT_EQ(GetArchiveEntry(pool.archive.get(), i, entry), ARCHIVE_OK);
    pool.workers->HandOverOrFillOne(std::move(job), entry, pool.archive.get(), verdicts);
}

TEST(FillWorkers, EveryFillEndsWithOneVerdictAndAFileThatMatchesIt) {
    const struct {
        const char* fault;
        int threads;
        std::int32_t giveUpAfter;  // -2: never
    } cases[] = {
        {"a fill lost or reported twice with one worker", 1, -2},
        {"a fill lost or reported twice with three workers", 3, -2},
        {"a fill no longer needed leaving a file", 2, 150},
        {"every fill no longer needed leaving files", 2, -1},
    };
    constexpr int kCount = 300;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Sandbox box;
        std::filesystem::create_directories(box.DestPath());
        Pool pool = MakePool(box, kCount, c.threads, true);
        if (c.giveUpAfter != -2) pool.workers->GiveUpAfter(c.giveUpAfter);
        std::vector<FillVerdict> verdicts;
        for (int i = 0; i < kCount; ++i) HandOver(pool, box, i, verdicts);
        pool.workers->WaitForAllFills(pool.archive.get(), verdicts);
        pool.workers->Stop();

        std::map<std::int32_t, int> seen;
        for (const FillVerdict& v : verdicts) {
            ++seen[v.index];
            const std::u16string target = Target(box, v.index);
            const bool wanted = c.giveUpAfter == -2 || v.index <= c.giveUpAfter;
            EXPECT_EQ(v.ok, wanted) << v.index;
            if (!v.ok) {
                EXPECT_FALSE(platform::PathExists(target)) << v.index;
                continue;
            }
            EXPECT_EQ(box.Read(Name(v.index)), DataOf(v.index));
            EXPECT_EQ(platform::ReadPathIdentity(target).identity, v.identity) << v.index;
        }
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(kCount));
        for (const auto& [index, times] : seen) EXPECT_EQ(times, 1) << index;
    }
}

TEST(FillWorkers, AtItsBoundTheRunThreadFillsAndWhatNobodyTookIsRemoved) {
    Sandbox box;
    std::filesystem::create_directories(box.DestPath());
    // No thread started: only the run thread can fill.
    Pool pool = MakePool(box, 100, 1, false);
    std::vector<FillVerdict> verdicts;
    for (int i = 0; i < 100; ++i) HandOver(pool, box, i, verdicts);
    // Every hand-over past the bound filled the oldest waiting file here.
    ASSERT_EQ(verdicts.size(), 100 - FillWorkers::kMaxUnfinished);
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        EXPECT_EQ(verdicts[i].index, static_cast<std::int32_t>(i));
        EXPECT_TRUE(verdicts[i].ok);
    }
    pool.workers->Stop();
    EXPECT_EQ(Tree(box.DestPath()).size(), verdicts.size());
}

}  // namespace
