#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "peer_io.h"
#include "peer_socket.h"

namespace transport_test::peer_io {

namespace {

int Descriptor(const End& end) {
    return static_cast<int>(end.handle);
}

End EndOf(int fd, End::Kind kind) {
    return End{fd, kind};
}

bool WaitFor(int fd, short events, int stepMs) {
    pollfd entry{fd, events, 0};
    return poll(&entry, 1, stepMs) > 0;
}

bool SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

Moved MovedBy(ssize_t n, std::size_t& count) {
    count = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (n > 0) return Moved::kSome;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return Moved::kNoneYet;
    return Moved::kEnded;
}

int BindLoopbackSocket(bool ipv6) {
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!BindToLoopback(fd, ipv6)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void Close(End& end) {
    if (!end.IsOpen()) return;
    close(Descriptor(end));
    end.handle = -1;
}

void Reset(End& end) {
    if (!end.IsOpen()) return;
    linger abrupt{1, 0};
    setsockopt(Descriptor(end), SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
    Close(end);
}

bool WaitForInput(const End& end, int stepMs) {
    return WaitFor(Descriptor(end), POLLIN, stepMs);
}

Moved ReadSome(const End& end, char* buffer, std::size_t size, std::size_t& count) {
    return MovedBy(read(Descriptor(end), buffer, size), count);
}

Moved WriteSome(const End& end, const char* bytes, std::size_t size, int stepMs,
                std::size_t& count) {
    count = 0;
    int fd = Descriptor(end);
    if (!WaitFor(fd, POLLOUT, stepMs)) return Moved::kNoneYet;
    ssize_t n = end.kind == End::Kind::kSocket ? send(fd, bytes, size, MSG_NOSIGNAL)
                                               : write(fd, bytes, size);
    return MovedBy(n, count);
}

End BindLoopback(bool ipv6, bool listen, std::uint16_t& port) {
    int fd = BindLoopbackSocket(ipv6);
    if (fd < 0) return End{};
    if (listen && (::listen(fd, 8) != 0 || !SetNonBlocking(fd))) {
        close(fd);
        return End{};
    }
    port = BoundPort(fd);
    return EndOf(fd, End::Kind::kSocket);
}

End Accept(const End& listener) {
    int fd = accept(Descriptor(listener), nullptr, nullptr);
    if (fd < 0) return End{};
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SetNonBlocking(fd);
    return EndOf(fd, End::Kind::kSocket);
}

bool OpenLinePair(LineMode mode, End& peerEnd, std::uint32_t& link) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return false;
    char name[256] = {};
    int slave = -1;
    termios settings{};
    if (grantpt(master) == 0 && unlockpt(master) == 0 &&
        ptsname_r(master, name, sizeof name) == 0 && SetNonBlocking(master)) {
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    if (slave >= 0 && tcgetattr(slave, &settings) == 0) {
        cfmakeraw(&settings);
        if (tcsetattr(slave, TCSANOW, &settings) == 0 &&
            (mode == LineMode::kBlocking || SetNonBlocking(slave))) {
            peerEnd = EndOf(master, End::Kind::kLine);
            link = static_cast<std::uint32_t>(slave);
            return true;
        }
    }
    if (slave >= 0) close(slave);
    close(master);
    return false;
}

void CloseLink(std::uint32_t link) {
    close(static_cast<int>(link));
}

bool IsLinkOpen(std::uint32_t link) {
    return fcntl(static_cast<int>(link), F_GETFD) != -1;
}

UnusableLinks::UnusableLinks() {
    // Both opened before one is closed, so that the closed number is not the other's.
    int closed = open("/dev/null", O_RDWR | O_CLOEXEC);
    int readOnly = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (closed >= 0) close(closed);
    if (readOnly >= 0) held_.push_back(readOnly);
    links_ = {{"closed", static_cast<std::uint32_t>(closed)},
              {"read only", static_cast<std::uint32_t>(readOnly)},
              {"largest descriptor", 0x7FFFFFFFu},
              {"above the largest descriptor", 0x80000000u},
              {"all ones", 0xFFFFFFFFu}};
}

UnusableLinks::~UnusableLinks() {
    for (std::intptr_t fd : held_) close(static_cast<int>(fd));
}

}  // namespace transport_test::peer_io
