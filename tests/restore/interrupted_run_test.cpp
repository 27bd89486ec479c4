// A run asked to stop (a console's Ctrl-C, a session that ends) leaves only
// complete entries: exactly the entries it reports as restored, each with
// all of its data, and nothing of any other entry but folders (no file cut
// short, no temporary file), whether the request comes between entries or
// while a file is being written, with or without worker threads.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "restore/restore_internal.h"
#include "restore_sandbox.h"

namespace {

using restoretest::Sandbox;
using restoretest::Text;
using restoretest::Tree;
using testzip::ZipBuilder;

// `parts` joined, in steps (GCC 12 warns wrongly about the one-expression
// form of such concatenations).
std::string Joined(std::initializer_list<std::string> parts) {
    std::string text;
    for (const auto& part : parts) text += part;
    return text;
}

// Folders, small files and files of several MiB, in catalogue order.
std::vector<std::pair<std::string, std::string>> Entries() {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 60; ++i) {
        entries.emplace_back(Joined({"d", std::to_string(i / 6), "/f", std::to_string(i), ".txt"}),
                             Text(300 + 50 * i, i));
        if (i % 20 == 7) entries.emplace_back(Joined({"big", std::to_string(i), ".bin"}), Text(3 << 20, i));
    }
    entries.emplace_back("d9/", "");
    // Large enough to be written by a thread of its own.
    entries.emplace_back("last.bin", Text(20 << 20, 99));
    return entries;
}

// Asks for the stop when the run has confirmed `after` entries.
class StopAfter : public RestoreObserver {
public:
    StopAfter(StopRequest& stop, std::int32_t after) : stop_(stop), after_(after) {}
    void OnRestoreStarted() override {}
    void OnRestoreFinished(int) override {}
    void OnRestoreProgress(const RestoreProgress& p) override {
        if (p.entriesDone >= after_) stop_.Request();
    }

private:
    StopRequest& stop_;
    std::int32_t after_;
};

// Asks for the stop while a worker writes entry `index`.
class StopWhileWriting : public FillFaults {
public:
    StopWhileWriting(StopRequest& stop, std::int32_t index) : stop_(stop), index_(index) {}
    bool WorkerWriteFails(std::int32_t index) const override {
        if (index == index_) stop_.Request();
        return false;
    }

private:
    StopRequest& stop_;
    std::int32_t index_;
};

struct StopCase {
    const char* fault;
    std::int32_t afterConfirmed;  // -1: not by progress
    const char* whileWriting;     // a large entry, or nullptr: not while a worker writes
};

std::int32_t IndexOf(const std::vector<std::pair<std::string, std::string>>& entries, const char* name) {
    if (!name) return -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].first == name) return static_cast<std::int32_t>(i);
    }
    ADD_FAILURE() << "no entry " << name;
    return -1;
}

TEST(InterruptedRun, LeavesExactlyTheEntriesItReports) {
    const auto entries = Entries();
    ZipBuilder zip;
    for (const auto& [name, data] : entries) {
        if (name.back() == '/') {
            zip.AddFolder(name);
        } else {
            zip.Add(name, data, 8);
        }
    }
    const StopCase cases[] = {
        {"a stop before the first entry ignored", 0, nullptr},
        {"entries after the stop kept", 10, nullptr},
        {"a file cut short at its target", 30, nullptr},
        {"a large file being written kept half-written", -1, "big7.bin"},
        {"later entries' files kept after a stop during a large one", -1, "big27.bin"},
        {"the last entry's file kept", -1, "last.bin"},
    };
    for (const auto& c : cases) {
        const std::int32_t whileWriting = IndexOf(entries, c.whileWriting);
        for (const int producers : {0, 1, 2}) {
            if (whileWriting >= 0 && producers == 0) continue;  // only workers consult the hook
            std::string trace = c.fault;
            trace += ", producers: ";
            trace += std::to_string(producers);
            SCOPED_TRACE(trace);
            Sandbox box;
            box.WriteArchive(zip);
            StopRequest stop;
            StopAfter observer(stop, c.afterConfirmed);
            StopWhileWriting hook(stop, whileWriting);
            RunOptions options;
            options.producers = producers;
            options.stop = &stop;
            if (whileWriting >= 0) options.faults = &hook;
            RestoreFailure failure;
            const int code = RestoreArchiveWithOptions(box.Dest(), box.Archive(),
                                                       c.afterConfirmed >= 0 ? &observer : nullptr, &failure, options);
            ASSERT_EQ(code, RESTORE_ENTRY_FAILED);
            ASSERT_EQ(failure.reason, EntryFailure::kInterrupted);
            const std::int32_t done = failure.entryIndex;
            if (c.afterConfirmed >= 0) {
                EXPECT_GE(done, c.afterConfirmed);
            } else {
                EXPECT_LE(done, whileWriting);
            }
            std::map<std::string, std::string> expected;
            for (std::int32_t i = 0; i < done; ++i) {
                if (entries[i].first.back() != '/') expected[entries[i].first] = entries[i].second;
            }
            // Folders on the way of the entries done and of the one the run
            // stopped in, which the serial run makes first.
            std::set<std::string> folders;
            for (std::int32_t i = 0; i <= done && i < static_cast<std::int32_t>(entries.size()); ++i) {
                const std::string& name = entries[i].first;
                for (std::size_t p = name.find('/'); p != std::string::npos; p = name.find('/', p + 1))
                    folders.insert(name.substr(0, p + 1));
            }
            std::map<std::string, std::string> found;
            for (const std::string& name : Tree(box.DestPath())) {
                if (name.back() != '/') {
                    found[name] = box.Read(name);
                } else {
                    EXPECT_TRUE(folders.count(name)) << "a later entry's folder left behind: " << name;
                }
            }
            EXPECT_EQ(found.size(), expected.size());
            for (const auto& [name, data] : found) {
                const auto it = expected.find(name);
                if (it == expected.end()) {
                    ADD_FAILURE() << "left behind: " << name << " (" << data.size() << " bytes)";
                } else if (it->second != data) {
                    ADD_FAILURE() << "incomplete: " << name << " (" << data.size() << " of " << it->second.size()
                                  << " bytes)";
                }
            }
        }
    }
}

}  // namespace
