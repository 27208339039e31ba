// What the virtual scale's servers ask of a POSIX system beyond Asio.
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cstdint>

#include "scale_platform.h"

namespace vudaduv::scale::platform {

// The soft limit may go up to the hard one without privileges.
std::size_t RaiseOpenFileLimit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY
                              ? static_cast<rlim_t>(wanted)
                              : std::min<rlim_t>(limit.rlim_max, wanted);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

// A scale restarted at once finds its port still held by the last one's closing connections.
void PrepareToListen(std::uintptr_t socket) {
    int on = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return std::chrono::nanoseconds(0);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace vudaduv::scale::platform
