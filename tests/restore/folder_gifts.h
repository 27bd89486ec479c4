#pragma once
// What a folder gives the files made in it (a group, inherited access
// rules) and a volume with little room, for tests that compare two runs on
// more than names and contents. What a platform can't set up is reported
// with the reason, so the test can say by name what it skipped.

#include <cstdint>
#include <filesystem>
#include <string>

#include "links.h"

namespace restoretest {

// Gives `folder` what new files in it inherit: POSIX: a group other than
// the process's (setgid) and a default ACL entry for another user. Not on
// this system without the rights to do so, or under Wine.
SetUp GiveFolderInheritance(const std::filesystem::path& folder);

// What a file got from its folder, as comparable text (POSIX: its group
// and its access ACL).
std::string InheritedBy(const std::filesystem::path& file);

// A file system of `bytes` mounted at `folder` (made if missing) while the
// object lives. Not on this system where the process may not mount.
class SmallVolume {
public:
    SmallVolume() = default;
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;
    ~SmallVolume();
    SetUp Mount(const std::filesystem::path& folder, std::uint64_t bytes);

private:
    std::filesystem::path mounted_;
};

}  // namespace restoretest
