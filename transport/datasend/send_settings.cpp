#include "datasend/send_settings.h"

#include <algorithm>

#include "common/record_lists.h"

namespace vudaduv::transport {

namespace {

enum SettingIndex : std::size_t {
    kReplyTimeout = 0,
    kConnectTimeout = 1,
    kRetries = 2,
    kDefaultPort = 3,
    kLongestReply = 4,
    kFirstRetryPause = 5,
};

constexpr std::uint32_t kNoRetry = 0xFFFFFFFFu;
constexpr std::uint32_t kLongestRetryPauseMs = 8000;

std::uint32_t ValueOrDefault(const WQValueList& values, std::size_t index, std::uint32_t fallback) {
    std::uint32_t value = ReadValue(values, index);
    return value == 0 ? fallback : value;
}

}  // namespace

SendSettings ReadSendSettings(const WQValueList& values) {
    SendSettings settings;
    settings.replyTimeoutMs = ValueOrDefault(values, kReplyTimeout, settings.replyTimeoutMs);
    settings.connectTimeoutMs = ValueOrDefault(values, kConnectTimeout, settings.connectTimeoutMs);
    std::uint32_t retries = ValueOrDefault(values, kRetries, 2);
    settings.tries = retries == kNoRetry ? 1 : std::uint64_t{retries} + 1;
    settings.defaultPort = ValueOrDefault(values, kDefaultPort, settings.defaultPort);
    settings.longestReply = ValueOrDefault(values, kLongestReply, 65536);
    settings.firstRetryPauseMs =
        ValueOrDefault(values, kFirstRetryPause, settings.firstRetryPauseMs);
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
