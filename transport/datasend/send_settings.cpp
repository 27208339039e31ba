#include "datasend/send_settings.h"

#include "common/record_lists.h"

namespace vudaduv::transport {

namespace {

enum SettingIndex : std::size_t {
    kReplyTimeout = 0,
    kConnectTimeout = 1,
    kRetries = 2,
    kDefaultPort = 3,
    kLongestReply = 4,
};

constexpr std::uint32_t kNoRetry = 0xFFFFFFFFu;

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
    return settings;
}

}  // namespace vudaduv::transport
