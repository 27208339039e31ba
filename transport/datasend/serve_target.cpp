#include "datasend/serve_target.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "common/reply_exchange.h"
#include "datasend/target_address.h"
#include "net/socket.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

namespace {

std::int32_t ConnectResultCode(net::ConnectStatus status) {
    switch (status) {
        case net::ConnectStatus::kConnected:
            return WQDS_OK;
        case net::ConnectStatus::kBadAddress:
            return WQDS_BAD_ADDRESS;
        case net::ConnectStatus::kRefused:
            return WQDS_REFUSED;
        case net::ConnectStatus::kTimeout:
            return WQDS_TIMEOUT;
        case net::ConnectStatus::kClosed:
            return WQDS_CLOSED;
        case net::ConnectStatus::kFailed:
            break;
    }
    return WQDS_INTERNAL;
}

std::int32_t ReplyResultCode(ReplyStatus status) {
    switch (status) {
        case ReplyStatus::kReply:
            return WQDS_OK;
        case ReplyStatus::kTimeout:
            return WQDS_TIMEOUT;
        case ReplyStatus::kClosed:
            return WQDS_CLOSED;
        case ReplyStatus::kTooLong:
            return WQDS_REPLY_TOO_LONG;
        case ReplyStatus::kFailed:
            break;
    }
    return WQDS_INTERNAL;
}

// The failures that a new connection may cure.
bool IsWorthARetry(std::int32_t code) {
    return code == WQDS_REFUSED || code == WQDS_TIMEOUT || code == WQDS_CLOSED;
}

// One connection: connects, then sends the commands from the first unanswered one on.
std::int32_t SendOverOneConnection(const TargetAddress& address,
                                   const std::vector<std::string>& commands,
                                   const SendSettings& settings,
                                   std::vector<std::string>& replies) {
    net::StreamSocket socket;
    std::int32_t code = ConnectResultCode(
        socket.Connect(address.host, address.port, Deadline(settings.connectTimeoutMs)));
    if (code != WQDS_OK) return code;
    ReplyLineReader reader(settings.longestReply);
    while (replies.size() < commands.size()) {
        std::string reply;
        code = ReplyResultCode(ExchangeCommand(socket, reader, commands[replies.size()],
                                               settings.replyTimeoutMs, reply));
        if (code != WQDS_OK) return code;
        replies.push_back(std::move(reply));
    }
    return WQDS_OK;
}

std::int32_t SendWithRetries(const TargetAddress& address, const std::vector<std::string>& commands,
                             const SendSettings& settings, TargetOutcome& outcome) {
    std::int32_t code = WQDS_OK;
    for (std::uint64_t tried = 0; tried < settings.tries; ++tried) {
        if (tried > 0) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(PauseBeforeRetryMs(settings, tried)));
        }
        code = SendOverOneConnection(address, commands, settings, outcome.replies);
        // A name that does not resolve gave no address to connect to.
        if (code != WQDS_BAD_ADDRESS) ++outcome.connections;
        if (!IsWorthARetry(code)) break;
    }
    return code;
}

}  // namespace

TargetOutcome ServeTarget(const std::string& address, const std::vector<std::string>& commands,
                          const SendSettings& settings,
                          std::chrono::steady_clock::time_point callStart) noexcept {
    TargetOutcome outcome;
    try {
        TargetAddress parsed;
        if (!ParseTargetAddress(address, settings.defaultPort, parsed)) {
            outcome.code = WQDS_BAD_ADDRESS;
        } else {
            outcome.code = SendWithRetries(parsed, commands, settings, outcome);
        }
    } catch (...) {
        outcome.code = WQDS_INTERNAL;  // memory ran out; the replies so far are kept
    }
    outcome.milliseconds = MillisecondsSince(callStart);
    return outcome;
}

std::uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
    return static_cast<std::uint32_t>(
        std::clamp<decltype(elapsed)>(elapsed, 0, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace vudaduv::transport
