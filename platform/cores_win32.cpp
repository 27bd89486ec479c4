// Win32 back end of the processor count: the process affinity mask.

#include <windows.h>

#include <bitset>

#include "platform/cores.h"

namespace platform {

int UsableCores() {
    DWORD_PTR process = 0, system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) return 0;
    return static_cast<int>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
}

}  // namespace platform
