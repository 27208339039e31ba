#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/socket_system.h"

namespace vudaduv::transport::net {

namespace {

// Descriptors the host is taken to hold when they are not counted: a limit that leaves room for
// the call's sockets and this many more is not looked into, so a call costs no more system calls.
constexpr rlim_t kHostFilesAssumed = 224;

// The descriptors open in this process now, from the system's list of them; 0 when it has none
// to show.
std::size_t CountOpenDescriptors() {
    for (const char* list : {"/proc/self/fd", "/dev/fd"}) {
        DIR* dir = opendir(list);
        if (dir == nullptr) continue;
        std::size_t count = 0;
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                ++count;
            }
        }
        closedir(dir);
        return count > 0 ? count - 1 : 0;  // the list's own descriptor is gone again
    }
    return 0;
}

}  // namespace

std::size_t ConnectionsWithinFileLimit(std::size_t sockets) {
    constexpr std::size_t kNoCap = std::numeric_limits<std::size_t>::max();
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoCap;
    rlim_t roomy = static_cast<rlim_t>(sockets) + kFilesLeftFree + kHostFilesAssumed;
    if (limit.rlim_cur >= roomy) return sockets;
    rlim_t wanted = static_cast<rlim_t>(sockets) + kFilesLeftFree + CountOpenDescriptors();
    if (limit.rlim_cur < wanted) {
        // As roomy as an uncounted call would need, so that the next one need not count.
        rlim_t asked = std::max(wanted, roomy);
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? asked : std::min(asked, limit.rlim_max);
        // Refused where the system caps it lower (an unlimited hard limit on some systems): the
        // limit stays as it was.
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    rlim_t kept = wanted - static_cast<rlim_t>(sockets);
    if (limit.rlim_cur <= kept) return 1;
    return static_cast<std::size_t>(
        std::min<rlim_t>(limit.rlim_cur - kept, static_cast<rlim_t>(kNoCap)));
}

void KeepFromChildProcesses(std::intptr_t socket) {
    fcntl(static_cast<int>(socket), F_SETFD, FD_CLOEXEC);
}

}  // namespace vudaduv::transport::net
