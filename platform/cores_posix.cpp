// POSIX back end of the processor count: the scheduler's affinity mask.

#include <sched.h>

#include "platform/cores.h"

namespace platform {

int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 0;
    return CPU_COUNT(&set);
}

}  // namespace platform
