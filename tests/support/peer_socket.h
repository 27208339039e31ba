// Socket pieces the scale stand-ins share on every system, over the BSD-socket calls that POSIX
// systems and Winsock have in common.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>

namespace transport_test::peer_io {

#ifdef _WIN32
using SocketHandle = SOCKET;
using SocketLength = int;
#else
using SocketHandle = int;
using SocketLength = socklen_t;
#endif

// Binds socket to 127.0.0.1 (or ::1 when ipv6) on a free port; true when bound.
inline bool BindToLoopback(SocketHandle socket, bool ipv6) {
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        return bind(socket, reinterpret_cast<sockaddr*>(&address),
                    static_cast<SocketLength>(sizeof address)) == 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bind(socket, reinterpret_cast<sockaddr*>(&address),
                static_cast<SocketLength>(sizeof address)) == 0;
}

// The local port socket is bound to; 0 when it cannot be told.
inline std::uint16_t BoundPort(SocketHandle socket) {
    sockaddr_storage address{};
    SocketLength length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

}  // namespace transport_test::peer_io
