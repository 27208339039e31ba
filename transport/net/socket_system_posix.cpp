#include <fcntl.h>
#include <sys/resource.h>

#include "net/socket_system.h"

namespace vudaduv::transport::net {

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    // Refused where the system caps it lower (an unlimited hard limit on some systems): then the
    // targets beyond the limit fail alone.
    setrlimit(RLIMIT_NOFILE, &limit);
}

void KeepFromChildProcesses(std::intptr_t socket) {
    fcntl(static_cast<int>(socket), F_SETFD, FD_CLOEXEC);
}

}  // namespace vudaduv::transport::net
