#include "c_entry/send_settings.h"

#include "c_entry/record_lists.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kDefaultRetries = 2;

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

}  // namespace vudaduv::transport
