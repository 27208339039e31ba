// Socket pieces the scale stand-ins share on every system, over the scale's socket layer.
#pragma once

#include "scale_socket.h"

namespace transport_test::peer_io {

using vudaduv::scale::platform::BoundPort;
using vudaduv::scale::platform::SocketHandle;
using vudaduv::scale::platform::SocketLength;

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

}  // namespace transport_test::peer_io
