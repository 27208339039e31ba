// TCP for the virtual scale on POSIX systems.
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "scale_fd_posix.h"
#include "scale_platform.h"

namespace vudaduv::scale::platform {

namespace {

constexpr int kListenBacklog = 16;

// The numeric addresses of host and port; null with a message when host is not numeric.
addrinfo* ResolveNumeric(const std::string& host, uint16_t port, bool passive, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        error = "address " + host + ": " + gai_strerror(status);
        return nullptr;
    }
    return found;
}

uint16_t BoundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

int BindAndListen(const addrinfo& candidate, std::string& error) {
    int fd = socket(candidate.ai_family, candidate.ai_socktype, candidate.ai_protocol);
    if (fd < 0) {
        error = SystemError("socket");
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, candidate.ai_addr, candidate.ai_addrlen) != 0) {
        error = SystemError("bind");
        close(fd);
        return -1;
    }
    if (listen(fd, kListenBacklog) != 0) {
        error = SystemError("listen");
        close(fd);
        return -1;
    }
    return fd;
}

class PosixTcpListener : public TcpListener {
  public:
    explicit PosixTcpListener(int fd) : fd_(fd), port_(BoundPort(fd)) { MakeNonBlocking(fd_); }
    ~PosixTcpListener() override { close(fd_); }
    PosixTcpListener(const PosixTcpListener&) = delete;
    PosixTcpListener& operator=(const PosixTcpListener&) = delete;

    uint16_t Port() const override { return port_; }

    std::unique_ptr<Stream> Accept(int waitMs) override {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, waitMs) <= 0) return nullptr;
        int connection = accept(fd_, nullptr, nullptr);
        if (connection < 0) return nullptr;
        return std::make_unique<FdStream>(connection, FdKind::kSocket);
    }

  private:
    int fd_;
    uint16_t port_;
};

}  // namespace

std::unique_ptr<TcpListener> ListenTcp(const std::string& host, uint16_t port, std::string& error) {
    addrinfo* found = ResolveNumeric(host, port, true, error);
    std::unique_ptr<TcpListener> listener;
    for (addrinfo* candidate = found; candidate && !listener; candidate = candidate->ai_next) {
        int fd = BindAndListen(*candidate, error);
        if (fd >= 0) listener = std::make_unique<PosixTcpListener>(fd);
    }
    if (found) freeaddrinfo(found);
    return listener;
}

std::unique_ptr<Stream> ConnectTcp(const std::string& host, uint16_t port, std::string& error) {
    addrinfo* found = ResolveNumeric(host, port, false, error);
    std::unique_ptr<Stream> stream;
    for (addrinfo* candidate = found; candidate && !stream; candidate = candidate->ai_next) {
        int fd = socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol);
        if (fd < 0) {
            error = SystemError("socket");
            continue;
        }
        if (connect(fd, candidate->ai_addr, candidate->ai_addrlen) != 0) {
            error = SystemError("connect");
            close(fd);
            continue;
        }
        stream = std::make_unique<FdStream>(fd, FdKind::kSocket);
    }
    if (found) freeaddrinfo(found);
    return stream;
}

}  // namespace vudaduv::scale::platform
