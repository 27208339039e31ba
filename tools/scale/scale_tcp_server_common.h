// What the TCP server's two event loops share: the Asio one (scale_tcp_server_asio.cpp) and the
// epoll one (scale_tcp_server_linux.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vudaduv::scale {

// Reading pauses while this much of a peer's replies is unsent.
constexpr std::size_t kMaxUnsentReplies = 64 * 1024;

// A failed accept (out of files, say) is tried again after a pause rather than at once, which
// would spin while the connection waits in the backlog.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(50);

// Whether this many scales from firstPort can be served here: at least one, ports that fit and
// enough files (the limit raised as far as it takes); false with a message.
bool MayServe(uint16_t firstPort, std::size_t scales, std::string& error);

std::string NotAnAddress(const std::string& host);
std::string CannotListen(const std::string& host, uint16_t port, const char* step,
                         const std::string& reason);

}  // namespace vudaduv::scale
