#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <vector>

namespace Bench {

// The sample at `fraction` (0.5 for the median) of the sorted samples; 0 when there are none.
inline double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5)];
}

// The CPU time of `clock` (CLOCK_PROCESS_CPUTIME_ID, CLOCK_THREAD_CPUTIME_ID) in seconds.
inline double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// This process's resident set in bytes (0 when /proc cannot tell).
inline std::uint64_t residentBytes() {
    std::uint64_t totalPages = 0;
    std::uint64_t residentPages = 0;
    std::ifstream("/proc/self/statm") >> totalPages >> residentPages;
    return residentPages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace Bench
