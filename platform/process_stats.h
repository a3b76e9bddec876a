// What this process has used so far: processor time and peak memory. Read by
// the benchmarks, which print them; posix/ answers with getrusage(), the
// Windows build with GetProcessTimes() and the process memory counters.
#pragma once

#include <cstdint>

namespace iw::platform {

struct ProcessStats {
    // Processor time the process has used, user and system together, in
    // seconds; negative when the system does not tell.
    double cpuSeconds = -1;
    // The most physical memory the process has held at once, in bytes
    // (peak resident set, peak working set); 0 when the system does not tell.
    std::uint64_t peakResidentBytes = 0;
};

ProcessStats processStats();

}  // namespace iw::platform
