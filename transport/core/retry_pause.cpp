#include "core/retry_pause.h"

#include <algorithm>

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kLongestRetryPauseMs = 8000;

}  // namespace

std::uint32_t PauseBeforeRetryMs(const SendSettings& settings, std::uint64_t retry) {
    std::uint64_t pause = std::min(settings.firstRetryPauseMs, kLongestRetryPauseMs);
    for (std::uint64_t doubling = 1; doubling < retry && pause < kLongestRetryPauseMs; ++doubling) {
        pause *= 2;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(pause, kLongestRetryPauseMs));
}

}  // namespace vudaduv::transport
