// The socket layer of the virtual scale on POSIX systems.
#include <poll.h>
#include <unistd.h>

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

bool WaitReadable(SocketHandle socket, int waitMs) {
    pollfd entry{socket, POLLIN, 0};
    return poll(&entry, 1, waitMs) > 0;
}

std::unique_ptr<Stream> SocketStream(SocketHandle socket) {
    return std::make_unique<FdStream>(socket, FdKind::kSocket);
}

}  // namespace vudaduv::scale::platform
