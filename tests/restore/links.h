#pragma once
// Things a test puts in a destination that the C++ library can't make on
// every platform: symbolic links (MinGW's std::filesystem refuses them, the
// Win32 call works under Wine) and named pipes (POSIX only).
//
// Each says what it did. What the system has no way to make is not a fault
// of the code under test: the row that needs it is skipped, by name. What
// the system can make but was not made is a fault of the test machine, and
// the row fails. RESTORETEST_SET_UP does both in a test body.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace restoretest {

struct SetUp {
    enum Kind { kMade, kNotOnThisSystem, kFailed };
    Kind kind = kMade;
    std::string detail;  // what could not be made, and why
    // True when made, so that a plain `if (!MakeLink(...))` still reads.
    explicit operator bool() const { return kind == kMade; }
};

// A symbolic link at `link` leading to `target` (a folder link when
// `folder`).
SetUp MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder);

// A named pipe at `path`.
SetUp MakeFifo(const std::filesystem::path& path);

// Sets this process's file mode creation mask (POSIX umask); `previous`
// gets the one it replaces. Not on Windows, which has none.
SetUp SetUmask(unsigned mask, unsigned& previous);

// Makes the file at `path` one that nobody may remove, rename or replace,
// its owner and the superuser included (POSIX: the immutable flag, which
// needs the right to set it): what the user's rights forbid, made where
// the tests run as the superuser. MakeChangeable undoes it. Not under
// Wine, whose programs can't set it.
SetUp MakeUnchangeable(const std::filesystem::path& path);
void MakeChangeable(const std::filesystem::path& path);

// Makes this process's writes past `bytes` of any file fail, the way a full
// disk fails them (POSIX: RLIMIT_FSIZE, with SIGXFSZ ignored); 0 lifts the
// limit.
SetUp LimitFileSize(std::uint64_t bytes);

}  // namespace restoretest

// Skips the running test when `step` can't be done on this system, fails it
// when `step` should have worked and did not.
#define RESTORETEST_SET_UP(step)                                                              \
    do {                                                                                      \
        const ::restoretest::SetUp restoretestSetUp = (step);                                 \
        if (restoretestSetUp.kind == ::restoretest::SetUp::kNotOnThisSystem)                  \
            GTEST_SKIP() << "not on this system: " << restoretestSetUp.detail;                \
        if (restoretestSetUp.kind == ::restoretest::SetUp::kFailed)                           \
            FAIL() << "set-up failed: " << restoretestSetUp.detail;                           \
    } while (0)
