// The socket layer of the virtual scale on POSIX systems.
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

std::unique_ptr<Stream> SocketStream(SocketHandle socket) {
    return std::make_unique<FdStream>(socket, FdKind::kSocket);
}

}  // namespace vudaduv::scale::platform
