#include "datasend/send_settings.h"

#include <algorithm>

#include "common/record_lists.h"

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kDefaultRetries = 2;
constexpr std::uint32_t kLongestRetryPauseMs = 8000;

std::uint32_t ValueOrDefault(const WQValueList& values, std::size_t index, std::uint32_t fallback) {
    std::uint32_t value = ReadValue(values, index);
    return value == 0 ? fallback : value;
}

}  // namespace

SendSettings ReadSendSettings(const WQValueList& values) {
    SendSettings settings;
    settings.replyTimeoutMs =
        ValueOrDefault(values, WQDS_VALUE_REPLY_TIMEOUT, settings.replyTimeoutMs);
    settings.connectTimeoutMs =
        ValueOrDefault(values, WQDS_VALUE_CONNECT_TIMEOUT, settings.connectTimeoutMs);
    std::uint32_t retries = ValueOrDefault(values, WQDS_VALUE_RETRIES, kDefaultRetries);
    settings.tries = retries == WQDS_NO_RETRIES ? 1 : std::uint64_t{retries} + 1;
    settings.defaultPort = ValueOrDefault(values, WQDS_VALUE_PORT, settings.defaultPort);
    settings.longestReply = ValueOrDefault(values, WQDS_VALUE_LONGEST_REPLY,
                                           static_cast<std::uint32_t>(settings.longestReply));
    settings.firstRetryPauseMs =
        ValueOrDefault(values, WQDS_VALUE_RETRY_PAUSE, settings.firstRetryPauseMs);
    return settings;
}

std::uint32_t PauseBeforeRetryMs(const SendSettings& settings, std::uint64_t retry) {
    std::uint64_t pause = std::min(settings.firstRetryPauseMs, kLongestRetryPauseMs);
    for (std::uint64_t doubling = 1; doubling < retry && pause < kLongestRetryPauseMs; ++doubling) {
        pause *= 2;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(pause, kLongestRetryPauseMs));
}

}  // namespace vudaduv::transport
