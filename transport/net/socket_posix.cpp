#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "common/descriptor_io_posix.h"
#include "net/socket.h"

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
        case ENOMEM:
        case ENOBUFS:
        case EMFILE:
        case ENFILE:
            return ConnectStatus::kFailed;
        default:
            return ConnectStatus::kRefused;
    }
}

// Non-blocking, not inherited by child processes, no SIGPIPE, commands sent at once.
bool PrepareSocket(int fd) {
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

// The outcome of a non-blocking connect once the socket is ready: its pending error.
ConnectStatus PendingConnectStatus(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return ConnectStatus::kFailed;
    return error == 0 ? ConnectStatus::kConnected : ConnectErrorStatus(error);
}

ConnectStatus ConnectToAddress(const addrinfo& address, const Deadline& deadline, int& connected) {
    int fd = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (fd < 0) {
        // A family this machine does not speak (IPv6 switched off) is as good as unreachable.
        return errno == EAFNOSUPPORT ? ConnectStatus::kRefused : ConnectStatus::kFailed;
    }
    ConnectStatus status = ConnectStatus::kFailed;
    if (PrepareSocket(fd)) {
        if (connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
            status = ConnectStatus::kConnected;
        } else if (errno != EINPROGRESS && errno != EINTR) {
            status = ConnectErrorStatus(errno);
        } else {
            switch (posix::WaitReady(fd, POLLOUT, deadline)) {
                case posix::Readiness::kTimeout:
                    status = ConnectStatus::kTimeout;
                    break;
                case posix::Readiness::kFailed:
                    status = ConnectStatus::kFailed;
                    break;
                case posix::Readiness::kReady:
                case posix::Readiness::kHungUp:
                    status = PendingConnectStatus(fd);
                    break;
            }
        }
    }
    if (status == ConnectStatus::kConnected) {
        connected = fd;
    } else {
        close(fd);
    }
    return status;
}

}  // namespace

StreamSocket::~StreamSocket() {
    Close();
}

void StreamSocket::Close() {
    if (handle_ < 0) return;
    close(static_cast<int>(handle_));
    handle_ = -1;
}

ConnectStatus StreamSocket::Connect(const std::string& host, std::uint16_t port,
                                    const Deadline& deadline) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    std::string service = std::to_string(port);
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved == EAI_MEMORY || resolved == EAI_SYSTEM) return ConnectStatus::kFailed;
    if (resolved != 0 || found == nullptr) return ConnectStatus::kBadAddress;
    ConnectStatus status = ConnectStatus::kRefused;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        int fd = -1;
        status = ConnectToAddress(*address, deadline, fd);
        if (status == ConnectStatus::kConnected) {
            handle_ = fd;
            break;
        }
        if (status == ConnectStatus::kTimeout) break;  // the time for every address is spent
    }
    freeaddrinfo(found);
    return status;
}

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
