// What folders give their files, Windows back end. Wine keeps no inherited
// access rules and can't mount a volume, so neither set-up is offered here;
// the tests say so by name.

#include "folder_gifts.h"

namespace restoretest {

SetUp GiveFolderInheritance(const std::filesystem::path&) {
    return {SetUp::kNotOnThisSystem, "Wine applies no inherited access rules to new files"};
}

std::string InheritedBy(const std::filesystem::path&) { return {}; }

SmallVolume::~SmallVolume() = default;

SetUp SmallVolume::Mount(const std::filesystem::path&, std::uint64_t) {
    return {SetUp::kNotOnThisSystem, "no volume can be mounted from a Windows test"};
}

}  // namespace restoretest
