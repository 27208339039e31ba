// The socket layer of the virtual scale on POSIX systems.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "scale_fd_posix.h"
#include "scale_socket.h"

namespace vudaduv::scale::platform {

bool StartSockets(std::string&) {
    return true;
}

std::string AddressErrorText(int status) {
    return gai_strerror(status);
}

std::string SocketError(const char* what) {
    return SystemError(what);
}

void CloseSocket(SocketHandle socket) {
    close(socket);
}

void PrepareToListen(SocketHandle socket) {
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

std::unique_ptr<Stream> SocketStream(SocketHandle socket) {
    return std::make_unique<FdStream>(socket, FdKind::kSocket);
}

// The soft limit may go up to the hard one without privileges.
std::size_t RaiseOpenFileLimit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? static_cast<rlim_t>(wanted)
                                                          : std::min<rlim_t>(limit.rlim_max, wanted);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace vudaduv::scale::platform
