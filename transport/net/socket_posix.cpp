// The TCP transport's socket on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "common/descriptor_io_posix.h"
#include "net/socket_system.h"

namespace vudaduv::transport::net {

namespace {

// Where the system has no MSG_NOSIGNAL it has SO_NOSIGPIPE, set on the socket instead.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

ssize_t SendSome(int fd, const char* bytes, std::size_t size) {
    return send(fd, bytes, size, kSendFlags);
}

ssize_t ReceiveSome(int fd, char* buffer, std::size_t size) {
    return recv(fd, buffer, size, 0);
}

StreamStatus SocketErrorStatus(int error) {
    // Whatever else goes wrong on a connected socket leaves it unusable, like a drop.
    return error == ENOMEM || error == ENOBUFS ? StreamStatus::kFailed : StreamStatus::kClosed;
}

ConnectStatus ConnectErrorStatus(int error) {
    switch (error) {
        case ETIMEDOUT:
            return ConnectStatus::kTimeout;
        case ECONNRESET:  // the handshake was done: the scale is there and hung up at once
        case ECONNABORTED:
        case EPIPE:
            return ConnectStatus::kClosed;
        case ENOMEM:
        case ENOBUFS:
        case EMFILE:
        case ENFILE:
            return ConnectStatus::kFailed;
        default:
            return ConnectStatus::kRefused;
    }
}

// The outcome of a non-blocking connect once the socket is ready: its pending error.
ConnectStatus PendingConnectStatus(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return ConnectStatus::kFailed;
    return error == 0 ? ConnectStatus::kConnected : ConnectErrorStatus(error);
}

}  // namespace

namespace os {

bool SocketsStarted() {
    return true;
}

bool ResolveFailedHere(int resolved) {
    return resolved == EAI_MEMORY || resolved == EAI_SYSTEM;
}

std::intptr_t OpenSocket(const addrinfo& address, ConnectStatus& failure) {
    int fd = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (fd < 0) {
        // A family this machine does not speak (IPv6 switched off) is as good as unreachable.
        failure = errno == EAFNOSUPPORT ? ConnectStatus::kRefused : ConnectStatus::kFailed;
        return kClosed;
    }
    return fd;
}

bool PrepareSocket(std::intptr_t socket) {
    int fd = static_cast<int>(socket);
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
    int on = 1;
#ifdef SO_NOSIGPIPE
    if (setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) return false;
#endif
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // a nicety; fine if refused
    return true;
}

ConnectStatus ConnectPrepared(std::intptr_t socket, const addrinfo& address,
                              const Deadline& deadline) {
    int fd = static_cast<int>(socket);
    if (connect(fd, address.ai_addr, address.ai_addrlen) == 0) return ConnectStatus::kConnected;
    if (errno != EINPROGRESS && errno != EINTR) return ConnectErrorStatus(errno);
    switch (posix::WaitReady(fd, POLLOUT, deadline)) {
        case posix::Readiness::kTimeout:
            return ConnectStatus::kTimeout;
        case posix::Readiness::kFailed:
            return ConnectStatus::kFailed;
        case posix::Readiness::kReady:
        case posix::Readiness::kHungUp:
            break;
    }
    return PendingConnectStatus(fd);
}

void CloseSocket(std::intptr_t socket) {
    close(static_cast<int>(socket));
}

}  // namespace os

StreamStatus StreamSocket::WriteAll(const std::string& bytes, const Deadline& deadline) {
    if (handle_ < 0) return StreamStatus::kClosed;
    return posix::WriteAllWhenReady(static_cast<int>(handle_), bytes, deadline, SendSome,
                                    SocketErrorStatus);
}

StreamStatus StreamSocket::ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                                    std::size_t& received) {
    received = 0;
    if (handle_ < 0) return StreamStatus::kClosed;
    return posix::ReadWhenReady(static_cast<int>(handle_), buffer, capacity, deadline, ReceiveSome,
                                SocketErrorStatus, received);
}

}  // namespace vudaduv::transport::net
