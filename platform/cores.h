#pragma once
// How many processors this process may run on.

namespace platform {

// Processors in the process's affinity mask (sched_getaffinity;
// GetProcessAffinityMask), so a process pinned to one core counts one even
// on a bigger machine. 0 when the system can't tell.
int UsableCores();

}  // namespace platform
