// Programs carry no version resource here; the product version is compiled
// in from the build's project version, the same text the Windows version
// resource holds.

#include "platform/fs.h"
#include "platform/version_resource.h"
#include "product_version.h"

namespace platform {

bool QueryProductVersion(const std::u16string& modulePath, std::u16string& version) {
    // A module that is not there has no version information on Windows
    // either.
    if (!PathExists(modulePath)) return false;
    version = SORVANE_VERSION_U16TEXT;
    return true;
}

}  // namespace platform
