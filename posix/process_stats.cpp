// Process processor time and peak resident memory from getrusage().
#include <sys/resource.h>

#include "platform/process_stats.h"

namespace iw::platform {

ProcessStats processStats() {
    ProcessStats s;
    rusage u{};
    if (::getrusage(RUSAGE_SELF, &u) != 0) return s;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    s.cpuSeconds = seconds(u.ru_utime) + seconds(u.ru_stime);
#ifdef __APPLE__
    s.peakResidentBytes = static_cast<std::uint64_t>(u.ru_maxrss);  // bytes there
#else
    s.peakResidentBytes = static_cast<std::uint64_t>(u.ru_maxrss) * 1024;  // kilobytes on Linux and the BSDs
#endif
    return s;
}

}  // namespace iw::platform
