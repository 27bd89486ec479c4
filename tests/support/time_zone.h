#pragma once
// The time zone a test reads local times in. POSIX processes change zone
// at once (TZ and tzset). A Windows process takes the system's zone, which
// under Wine is the zone of the TZ it was started with: there a test runs
// only the rows of that zone, and CTest starts it once per zone
// (tests/restore/CMakeLists.txt).

namespace testsupport {

// Makes `zone` (a zoneinfo name, "Asia/Tokyo") the one local times are read
// in; false where this process can't (Windows started in another zone).
bool UseTimeZone(const char* zone);

// Puts back the zone the process had before the first UseTimeZone.
void RestoreTimeZone();

}  // namespace testsupport
