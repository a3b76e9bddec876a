// CPU cost of waiting: ten seconds of pump() with nothing happening, as the
// program does in its long waits. Prints the process's processor time (from
// the system, not the C runtime's clock(), which counts wall time on
// Windows) as a share of one core, and the pump count (about 40 means no
// spinning).
#include <chrono>
#include <cstdio>

#include "platform/native.h"
#include "platform/process_stats.h"

int main() {
    auto loop = iw::platform::createEventLoop();
    using Clock = std::chrono::steady_clock;
    const auto wall0 = Clock::now();
    const double cpu0 = iw::platform::processStats().cpuSeconds;
    long pumps = 0;
    while (Clock::now() - wall0 < std::chrono::seconds(10)) {
        loop->pump();
        ++pumps;
    }
    const double cpu1 = iw::platform::processStats().cpuSeconds;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    if (cpu0 < 0 || cpu1 < 0) {
        std::printf("idle pump: %.2f s wall, processor time not available, %ld pumps\n", wall, pumps);
        return 0;
    }
    const double cpu = cpu1 - cpu0;
    std::printf("idle pump: %.2f s wall, %.4f s CPU = %.3f%% of one core, %ld pumps (%.0f ms each)\n", wall, cpu,
                100.0 * cpu / wall, pumps, 1000.0 * wall / static_cast<double>(pumps));
    return 0;
}
