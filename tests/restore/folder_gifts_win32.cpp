// What folders give their files, Windows back end. Wine keeps no inherited
// access rules and can't mount a volume, so neither set-up is offered here;
// the tests say so by name.

#include "folder_gifts.h"

namespace restoretest {

bool GiveFolderInheritance(const std::filesystem::path&, std::string& why) {
    why = "Wine applies no inherited access rules to new files";
    return false;
}

std::string InheritedBy(const std::filesystem::path&) { return {}; }

SmallVolume::~SmallVolume() = default;

bool SmallVolume::Mount(const std::filesystem::path&, std::uint64_t, std::string& why) {
    why = "no volume can be mounted from a Windows test";
    return false;
}

}  // namespace restoretest
