#pragma once
// The product version a program carries. On Windows it is the "ProductVersion"
// string of the Japanese (0411, code page 932) block of the module's version
// resource; elsewhere, where programs carry no version resource, it is the
// same text compiled in from the build's one product version.

#include <string>

namespace platform {

// The product version text of the module at `modulePath`. False when the
// module has no version information or no "ProductVersion" in that block
// (on POSIX: when no file stands at the path). The text may be empty.
bool QueryProductVersion(const std::u16string& modulePath, std::u16string& version);

}  // namespace platform
