// The TCP transport's socket on Windows, over Winsock 2.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <string>

#include "net/socket_system.h"

namespace vudaduv::transport::net {

namespace {

SOCKET SocketOf(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

bool IsTransient(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

StreamStatus SocketErrorStatus(int error) {
    // Whatever else goes wrong on a connected socket leaves it unusable, like a drop.
    return error == WSAENOBUFS ? StreamStatus::kFailed : StreamStatus::kClosed;
}

ConnectStatus ConnectErrorStatus(int error) {
    switch (error) {
        case WSAETIMEDOUT:
            return ConnectStatus::kTimeout;
        case WSAECONNRESET:  // the handshake was done: the scale is there and hung up at once
        case WSAECONNABORTED:
            return ConnectStatus::kClosed;
        case WSAENOBUFS:
        case WSAEMFILE:
        case WSA_NOT_ENOUGH_MEMORY:
        case WSANOTINITIALISED:
            return ConnectStatus::kFailed;
        default:
            return ConnectStatus::kRefused;
    }
}

enum class Awaited { kInput, kRoom, kConnection };
enum class Readiness { kReady, kTimeout, kFailed };

// Waits with select() until the socket is ready for what is awaited, until the deadline. A
// connection attempt is over when the socket is writable (connected) or in the exception set
// (failed); select() reports both, where WSAPoll on older systems misses a failed connect.
Readiness WaitReady(SOCKET connection, Awaited awaited, const Deadline& deadline) {
    for (;;) {
        fd_set watched{};
        watched.fd_count = 1;
        watched.fd_array[0] = connection;
        fd_set failed = watched;
        int milliseconds = deadline.RemainingMilliseconds();
        timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
        int ready = select(0, awaited == Awaited::kInput ? &watched : nullptr,
                           awaited == Awaited::kInput ? nullptr : &watched,
                           awaited == Awaited::kConnection ? &failed : nullptr, &wait);
        if (ready == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
        if (ready == SOCKET_ERROR) return Readiness::kFailed;
        return ready == 0 ? Readiness::kTimeout : Readiness::kReady;
    }
}

StreamStatus StreamStatusOf(Readiness readiness) {
    switch (readiness) {
        case Readiness::kReady:
            return StreamStatus::kOk;
        case Readiness::kTimeout:
            return StreamStatus::kTimeout;
        case Readiness::kFailed:
            break;
    }
    return StreamStatus::kFailed;
}

// The outcome of a non-blocking connect once the socket is ready: its pending error.
ConnectStatus PendingConnectStatus(SOCKET connection) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(connection, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
        0) {
        return ConnectStatus::kFailed;
    }
    return error == 0 ? ConnectStatus::kConnected : ConnectErrorStatus(error);
}

// send() and recv() take an int count.
int CountFor(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

namespace os {

// Winsock is started once per process, on the first connection, and left running until the
// process ends: stopping it while another thread of the host uses sockets would break them.
bool SocketsStarted() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool ResolveFailedHere(int resolved) {
    return resolved == EAI_MEMORY || resolved == WSANOTINITIALISED;
}

std::intptr_t OpenSocket(const addrinfo& address, ConnectStatus& failure) {
    SOCKET candidate = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (candidate == INVALID_SOCKET) {
        // A family this machine does not speak (IPv6 switched off) is as good as unreachable.
        failure =
            WSAGetLastError() == WSAEAFNOSUPPORT ? ConnectStatus::kRefused : ConnectStatus::kFailed;
        return kClosed;
    }
    return static_cast<std::intptr_t>(candidate);
}

bool PrepareSocket(std::intptr_t socket) {
    SOCKET connection = SocketOf(socket);
    u_long on = 1;
    if (ioctlsocket(connection, FIONBIO, &on) != 0) return false;
    SetHandleInformation(reinterpret_cast<HANDLE>(connection), HANDLE_FLAG_INHERIT, 0);
    BOOL noDelay = TRUE;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);  // a nicety; fine if refused
    return true;
}

ConnectStatus ConnectPrepared(std::intptr_t socket, const addrinfo& address,
                              const Deadline& deadline) {
    SOCKET connection = SocketOf(socket);
    if (connect(connection, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        return ConnectStatus::kConnected;
    }
    if (!IsTransient(WSAGetLastError())) return ConnectErrorStatus(WSAGetLastError());
    switch (WaitReady(connection, Awaited::kConnection, deadline)) {
        case Readiness::kTimeout:
            return ConnectStatus::kTimeout;
        case Readiness::kFailed:
            return ConnectStatus::kFailed;
        case Readiness::kReady:
            break;
    }
    return PendingConnectStatus(connection);
}

void CloseSocket(std::intptr_t socket) {
    closesocket(SocketOf(socket));
}

}  // namespace os

StreamStatus StreamSocket::WriteAll(const std::string& bytes, const Deadline& deadline) {
    if (handle_ == os::kClosed) return StreamStatus::kClosed;
    SOCKET connection = SocketOf(handle_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        StreamStatus waited = StreamStatusOf(WaitReady(connection, Awaited::kRoom, deadline));
        if (waited != StreamStatus::kOk) return waited;
        int count = send(connection, bytes.data() + done, CountFor(bytes.size() - done), 0);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count == 0) {
            return StreamStatus::kClosed;
        } else if (!IsTransient(WSAGetLastError())) {
            return SocketErrorStatus(WSAGetLastError());
        }
    }
    return StreamStatus::kOk;
}

StreamStatus StreamSocket::ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                                    std::size_t& received) {
    received = 0;
    if (handle_ == os::kClosed) return StreamStatus::kClosed;
    SOCKET connection = SocketOf(handle_);
    for (;;) {
        StreamStatus waited = StreamStatusOf(WaitReady(connection, Awaited::kInput, deadline));
        if (waited != StreamStatus::kOk) return waited;
        int count = recv(connection, buffer, CountFor(capacity), 0);
        if (count > 0) {
            received = static_cast<std::size_t>(count);
            return StreamStatus::kOk;
        }
        if (count == 0) return StreamStatus::kClosed;
        if (!IsTransient(WSAGetLastError())) return SocketErrorStatus(WSAGetLastError());
    }
}

}  // namespace vudaduv::transport::net
