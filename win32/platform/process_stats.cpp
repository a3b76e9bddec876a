// Process processor time from GetProcessTimes() and the peak working set from
// the process memory counters (the kernel32 form, so no extra library).
#include <windows.h>
#include <psapi.h>

#include "platform/process_stats.h"

namespace iw::platform {

ProcessStats processStats() {
    ProcessStats s;
    const HANDLE self = GetCurrentProcess();
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(self, &created, &exited, &kernel, &user)) {
        // FILETIME counts 100-nanosecond units.
        auto ticks = [](const FILETIME& f) {
            return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
        };
        s.cpuSeconds = (ticks(kernel) + ticks(user)) / 1e7;
    }
    PROCESS_MEMORY_COUNTERS m{};
    m.cb = sizeof m;
    if (K32GetProcessMemoryInfo(self, &m, sizeof m)) s.peakResidentBytes = m.PeakWorkingSetSize;
    return s;
}

}  // namespace iw::platform
