// CPU time of the calling thread, for benchmarks that time parts of an
// iteration themselves: the machine is shared, so wall time would also count
// other processes.
#pragma once

#include <ctime>

namespace morvane::bench {

inline double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace morvane::bench
