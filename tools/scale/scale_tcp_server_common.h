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

// The scales' ports: consecutive from firstPort, or all free ones (0); false with a message when
// they would go past the last port.
bool PortsFit(uint16_t firstPort, std::size_t scales, std::string& error);

// Raises the open-file limit as far as serving the scales takes; false with a message when the
// system does not allow that far.
bool EnoughFiles(std::size_t scales, std::string& error);

std::string NotAnAddress(const std::string& host);
std::string CannotListen(const std::string& host, uint16_t port, const char* step,
                         const std::string& reason);

}  // namespace vudaduv::scale
