#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "tests/support/time_zone.h"

namespace testsupport {
namespace {

// TZ as the process had it: unset (the system's zone) or a text.
std::optional<std::optional<std::string>> startingZone;

}  // namespace

bool UseTimeZone(const char* zone) {
    if (!startingZone) {
        const char* tz = std::getenv("TZ");
        startingZone = tz ? std::optional<std::string>(tz) : std::nullopt;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
    return true;
}

void RestoreTimeZone() {
    if (!startingZone) return;
    if (*startingZone) {
        ::setenv("TZ", (*startingZone)->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

}  // namespace testsupport
