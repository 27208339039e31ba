// TCP for the virtual scale, over the socket calls every system shares.
#include "scale_socket.h"

namespace vudaduv::scale::platform {

namespace {

constexpr int kListenBacklog = 16;

// The numeric addresses of host and port; null with a message when host is not numeric.
addrinfo* ResolveNumeric(const std::string& host, uint16_t port, bool passive, std::string& error) {
    if (!StartSockets(error)) return nullptr;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        error = "address " + host + ": " + AddressErrorText(status);
        return nullptr;
    }
    return found;
}

SocketHandle BindAndListen(const addrinfo& candidate, std::string& error) {
    SocketHandle listener =
        socket(candidate.ai_family, candidate.ai_socktype, candidate.ai_protocol);
    if (listener == kNoSocket) {
        error = SocketError("socket");
        return kNoSocket;
    }
    PrepareToListen(static_cast<std::uintptr_t>(listener));
    if (bind(listener, candidate.ai_addr, static_cast<SocketLength>(candidate.ai_addrlen)) != 0) {
        error = SocketError("bind");
        CloseSocket(listener);
        return kNoSocket;
    }
    if (listen(listener, kListenBacklog) != 0) {
        error = SocketError("listen");
        CloseSocket(listener);
        return kNoSocket;
    }
    return listener;
}

class SocketListener : public TcpListener {
  public:
    explicit SocketListener(SocketHandle socket) : socket_(socket), port_(BoundPort(socket)) {}
    ~SocketListener() override { CloseSocket(socket_); }
    SocketListener(const SocketListener&) = delete;
    SocketListener& operator=(const SocketListener&) = delete;

    uint16_t Port() const override { return port_; }

  private:
    SocketHandle socket_;
    uint16_t port_;
};

}  // namespace

std::uint16_t BoundPort(SocketHandle socket) {
    sockaddr_storage address{};
    SocketLength length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

std::unique_ptr<TcpListener> ListenTcp(const std::string& host, uint16_t port, std::string& error) {
    addrinfo* found = ResolveNumeric(host, port, true, error);
    std::unique_ptr<TcpListener> listener;
    for (addrinfo* candidate = found; candidate && !listener; candidate = candidate->ai_next) {
        SocketHandle socket = BindAndListen(*candidate, error);
        if (socket != kNoSocket) listener = std::make_unique<SocketListener>(socket);
    }
    if (found) freeaddrinfo(found);
    return listener;
}

std::unique_ptr<Stream> ConnectTcp(const std::string& host, uint16_t port, std::string& error) {
    addrinfo* found = ResolveNumeric(host, port, false, error);
    std::unique_ptr<Stream> stream;
    for (addrinfo* candidate = found; candidate && !stream; candidate = candidate->ai_next) {
        SocketHandle connection =
            socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol);
        if (connection == kNoSocket) {
            error = SocketError("socket");
            continue;
        }
        if (connect(connection, candidate->ai_addr,
                    static_cast<SocketLength>(candidate->ai_addrlen)) != 0) {
            error = SocketError("connect");
            CloseSocket(connection);
            continue;
        }
        stream = SocketStream(connection);
    }
    if (found) freeaddrinfo(found);
    return stream;
}

}  // namespace vudaduv::scale::platform
