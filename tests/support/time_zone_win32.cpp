#include <cstdlib>
#include <cstring>

#include "tests/support/time_zone.h"

namespace testsupport {

bool UseTimeZone(const char* zone) {
    // The system's zone is fixed for the life of the process; Wine took it
    // from TZ when the process started.
    const char* tz = std::getenv("TZ");
    return tz && std::strcmp(tz, zone) == 0;
}

void RestoreTimeZone() {}

}  // namespace testsupport
