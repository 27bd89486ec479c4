// POSIX back end: shared objects are found by the loader's own rules.

#include "platform/system_library.h"

namespace platform {

void SearchDllsInSystemFolderOnly() {}

}  // namespace platform
