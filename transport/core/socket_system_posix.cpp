#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>

#include "core/socket_system.h"

namespace vudaduv::transport::net {

void RaiseOpenFileLimit(std::size_t sockets) {
    // Room for what the host holds already and for the event loop's own descriptors.
    constexpr rlim_t kSpare = 256;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    rlim_t wanted = static_cast<rlim_t>(sockets) + kSpare;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    // Refused where the system caps it lower (an unlimited hard limit on some systems): then the
    // targets beyond the limit fail alone.
    setrlimit(RLIMIT_NOFILE, &limit);
}

void KeepFromChildProcesses(std::intptr_t socket) {
    fcntl(static_cast<int>(socket), F_SETFD, FD_CLOEXEC);
}

}  // namespace vudaduv::transport::net
