// CPU cost of waiting: ten seconds of pump() with nothing happening, as the
// program does in its long waits. Prints the process CPU time as a share of
// one core. std::clock() is process CPU time with glibc; the Windows C
// runtime's clock() counts wall time instead, so under Wine measure the
// process with `time` and read the pump count (about 40 means no spinning).
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/native.h"

int main() {
    auto loop = iw::platform::createEventLoop();
    using Clock = std::chrono::steady_clock;
    const auto wall0 = Clock::now();
    const std::clock_t cpu0 = std::clock();
    long pumps = 0;
    while (Clock::now() - wall0 < std::chrono::seconds(10)) {
        loop->pump();
        ++pumps;
    }
    const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    std::printf("idle pump: %.2f s wall, %.4f s CPU = %.3f%% of one core, %ld pumps (%.0f ms each)\n", wall, cpu,
                100.0 * cpu / wall, pumps, 1000.0 * wall / static_cast<double>(pumps));
    return 0;
}
