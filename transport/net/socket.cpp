// Connecting the TCP transport's socket: the same on every system, over socket_system.h.
#include <string>

#include "net/socket_system.h"

namespace vudaduv::transport::net {

namespace {

ConnectStatus ConnectToAddress(const addrinfo& address, const Deadline& deadline,
                               std::intptr_t& connected) {
    ConnectStatus status = ConnectStatus::kFailed;
    std::intptr_t candidate = os::OpenSocket(address, status);
    if (candidate == os::kClosed) return status;
    status = os::PrepareSocket(candidate) ? os::ConnectPrepared(candidate, address, deadline)
                                          : ConnectStatus::kFailed;
    if (status == ConnectStatus::kConnected) {
        connected = candidate;
    } else {
        os::CloseSocket(candidate);
    }
    return status;
}

}  // namespace

StreamSocket::~StreamSocket() {
    Close();
}

void StreamSocket::Close() {
    if (handle_ == os::kClosed) return;
    os::CloseSocket(handle_);
    handle_ = os::kClosed;
}

ConnectStatus StreamSocket::Connect(const std::string& host, std::uint16_t port,
                                    const Deadline& deadline) {
    Close();
    if (!os::SocketsStarted()) return ConnectStatus::kFailed;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    std::string service = std::to_string(port);
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (os::ResolveFailedHere(resolved)) return ConnectStatus::kFailed;
    if (resolved != 0 || found == nullptr) return ConnectStatus::kBadAddress;
    ConnectStatus status = ConnectStatus::kRefused;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        std::intptr_t connected = os::kClosed;
        status = ConnectToAddress(*address, deadline, connected);
        if (status == ConnectStatus::kConnected) {
            handle_ = connected;
            break;
        }
        if (status == ConnectStatus::kTimeout) break;  // the time for every address is spent
    }
    freeaddrinfo(found);
    return status;
}

}  // namespace vudaduv::transport::net
