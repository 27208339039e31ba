// TCP for the virtual scale on Windows, over Winsock 2.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "scale_platform.h"

namespace vudaduv::scale::platform {

namespace {

constexpr int kListenBacklog = 16;
constexpr int kReadChunk = 4096;
constexpr int kWriteWaitMs = 50;  // how often a blocked write looks at the stop flag

// Winsock must be started once in every process before the first socket call.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::string ErrorText(int code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "Winsock error " + std::to_string(code);
    return message;
}

// The text of the last Winsock error with a lead-in, for error messages.
std::string SocketError(const char* what) {
    return std::string(what) + ": " + ErrorText(WSAGetLastError());
}

void MakeNonBlocking(SOCKET socket) {
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

bool WouldBlock() {
    int code = WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAEINTR;
}

// Waits at most waitMs until socket is readable (or, with forWrite, writable).
bool WaitFor(SOCKET socket, bool forWrite, int waitMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout{waitMs / 1000, (waitMs % 1000) * 1000};
    int ready = forWrite ? select(0, nullptr, &set, nullptr, &timeout)
                         : select(0, &set, nullptr, nullptr, &timeout);
    return ready > 0;
}

class SocketStream : public Stream {
  public:
    explicit SocketStream(SOCKET socket) : socket_(socket) { MakeNonBlocking(socket_); }
    ~SocketStream() override { closesocket(socket_); }
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    ReadStatus Read(std::string& out, int waitMs) override {
        if (!WaitFor(socket_, false, waitMs)) return ReadStatus::kNothingYet;
        char buffer[kReadChunk];
        int got = recv(socket_, buffer, sizeof buffer, 0);
        if (got > 0) {
            out.append(buffer, static_cast<std::size_t>(got));
            return ReadStatus::kData;
        }
        if (got < 0 && WouldBlock()) return ReadStatus::kNothingYet;
        return ReadStatus::kClosed;
    }

    bool Write(std::string_view bytes, const std::atomic<bool>& stop) override {
        while (!bytes.empty()) {
            int piece = static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 20));
            int sent = send(socket_, bytes.data(), piece, 0);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(sent));
            } else if (sent < 0 && WouldBlock()) {
                if (stop.load()) return false;
                WaitFor(socket_, true, kWriteWaitMs);
            } else {
                return false;
            }
        }
        return true;
    }

  private:
    SOCKET socket_;
};

// The numeric addresses of host and port; null with a message when host is not numeric.
addrinfo* ResolveNumeric(const std::string& host, uint16_t port, bool passive, std::string& error) {
    if (!WinsockStarted()) {
        error = "Winsock could not be started";
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0) {
        error = "address " + host + ": " + ErrorText(status);
        return nullptr;
    }
    return found;
}

uint16_t BoundPort(SOCKET socket) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

SOCKET BindAndListen(const addrinfo& candidate, std::string& error) {
    SOCKET listener = socket(candidate.ai_family, candidate.ai_socktype, candidate.ai_protocol);
    if (listener == INVALID_SOCKET) {
        error = SocketError("socket");
        return INVALID_SOCKET;
    }
    // SO_REUSEADDR would let a second scale take the port from the first on Windows; claim
    // the port for this socket alone instead.
    BOOL on = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    if (bind(listener, candidate.ai_addr, static_cast<int>(candidate.ai_addrlen)) != 0) {
        error = SocketError("bind");
        closesocket(listener);
        return INVALID_SOCKET;
    }
    if (listen(listener, kListenBacklog) != 0) {
        error = SocketError("listen");
        closesocket(listener);
        return INVALID_SOCKET;
    }
    return listener;
}

class WindowsTcpListener : public TcpListener {
  public:
    explicit WindowsTcpListener(SOCKET socket) : socket_(socket), port_(BoundPort(socket)) {
        MakeNonBlocking(socket_);
    }
    ~WindowsTcpListener() override { closesocket(socket_); }
    WindowsTcpListener(const WindowsTcpListener&) = delete;
    WindowsTcpListener& operator=(const WindowsTcpListener&) = delete;

    uint16_t Port() const override { return port_; }

    std::unique_ptr<Stream> Accept(int waitMs) override {
        if (!WaitFor(socket_, false, waitMs)) return nullptr;
        SOCKET connection = accept(socket_, nullptr, nullptr);
        if (connection == INVALID_SOCKET) return nullptr;
        // An accepted socket inherits non-blocking mode; SocketStream sets it all the same.
        return std::make_unique<SocketStream>(connection);
    }

  private:
    SOCKET socket_;
    uint16_t port_;
};

}  // namespace

std::unique_ptr<TcpListener> ListenTcp(const std::string& host, uint16_t port, std::string& error) {
    addrinfo* found = ResolveNumeric(host, port, true, error);
    std::unique_ptr<TcpListener> listener;
    for (addrinfo* candidate = found; candidate && !listener; candidate = candidate->ai_next) {
        SOCKET socket = BindAndListen(*candidate, error);
        if (socket != INVALID_SOCKET) listener = std::make_unique<WindowsTcpListener>(socket);
    }
    if (found) freeaddrinfo(found);
    return listener;
}

std::unique_ptr<Stream> ConnectTcp(const std::string& host, uint16_t port, std::string& error) {
    addrinfo* found = ResolveNumeric(host, port, false, error);
    std::unique_ptr<Stream> stream;
    for (addrinfo* candidate = found; candidate && !stream; candidate = candidate->ai_next) {
        SOCKET connection =
            socket(candidate->ai_family, candidate->ai_socktype, candidate->ai_protocol);
        if (connection == INVALID_SOCKET) {
            error = SocketError("socket");
            continue;
        }
        if (connect(connection, candidate->ai_addr, static_cast<int>(candidate->ai_addrlen)) != 0) {
            error = SocketError("connect");
            closesocket(connection);
            continue;
        }
        stream = std::make_unique<SocketStream>(connection);
    }
    if (found) freeaddrinfo(found);
    return stream;
}

}  // namespace vudaduv::scale::platform
