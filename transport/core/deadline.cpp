#include "core/deadline.h"

#include <limits>

namespace vudaduv::transport {

Deadline::Deadline(std::uint32_t milliseconds)
    : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)) {}

int Deadline::RemainingMilliseconds() const {
    auto left = end_ - std::chrono::steady_clock::now();
    if (left <= left.zero()) return 0;
    auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (milliseconds > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return static_cast<int>(milliseconds);
}

}  // namespace vudaduv::transport
