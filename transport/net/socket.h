// The platform layer of the TCP transport: one client stream socket. Connecting is shared
// (socket.cpp, over socket_system.h); reading and writing have one implementation per system
// (socket_posix.cpp, socket_windows.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "common/byte_stream.h"
#include "common/deadline.h"

namespace vudaduv::transport::net {

enum class ConnectStatus {
    kConnected,
    kBadAddress,  // the host cannot be resolved
    kRefused,     // refused, or the host or network cannot be reached
    kTimeout,     // no connection before the deadline
    kClosed,      // the scale took the connection and reset it at once
    kFailed,      // any other failure of this machine
};

// A connected socket that never raises a signal when the other end is gone.
class StreamSocket final : public ByteStream {
  public:
    StreamSocket() = default;
    ~StreamSocket() override;
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // Closes any earlier connection, resolves host (a name, an IPv4 address or an IPv6 address
    // without brackets) and connects to the first of its addresses that accepts, all before the
    // deadline. The status is that of the last address tried.
    ConnectStatus Connect(const std::string& host, std::uint16_t port, const Deadline& deadline);

    void Close();

    StreamStatus WriteAll(const std::string& bytes, const Deadline& deadline) override;
    StreamStatus ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                          std::size_t& received) override;

  private:
    std::intptr_t handle_ = -1;  // a descriptor, or a SOCKET on Windows; -1 when closed
};

}  // namespace vudaduv::transport::net
