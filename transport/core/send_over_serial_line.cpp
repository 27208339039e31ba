// SendOverSerialLine: the command list over a serial line that the application opened, one reply
// per command, a command sent again when its reply does not come.
#include <cstdint>
#include <string>
#include <vector>

#include "core/reply_exchange.h"
#include "core/serial_line.h"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kReplyTimeoutMs = 3000;
constexpr int kSendsPerCommand = 3;  // the first and two more on time-out
constexpr std::uint64_t kLongestReply = 65536;

std::int32_t LineResultCode(ReplyStatus status) {
    switch (status) {
        case ReplyStatus::kReply:
            return WQCS_OK;
        case ReplyStatus::kTimeout:
            return WQCS_TIMEOUT;
        case ReplyStatus::kClosed:
            return WQCS_CLOSED;
        case ReplyStatus::kTooLong:
            return WQCS_REPLY_TOO_LONG;
        case ReplyStatus::kFailed:
            break;
    }
    return WQCS_INTERNAL;
}

// Sends command and reads its reply; sends it again while the reply does not come.
ReplyStatus ExchangeWithResends(serial::SerialLine& line, ReplyLineReader& reader,
                                const std::string& command, std::string& reply) {
    ReplyStatus status = ReplyStatus::kTimeout;
    for (int send = 0; send < kSendsPerCommand; ++send) {
        status = ExchangeCommand(line, reader, command, kReplyTimeoutMs, reply);
        if (status != ReplyStatus::kTimeout) break;
        line.DiscardInput();
        reader.DiscardPending();
    }
    return status;
}

}  // namespace

SerialResult SendOverSerialLine(std::uint32_t link, const std::vector<std::string>& commands) {
    SerialResult result;
    if (!serial::IsOpenLine(link)) {
        result.code = WQCS_BAD_REQUEST;
        return result;
    }
    serial::SerialLine line(link);
    ReplyLineReader reader(kLongestReply);
    for (const std::string& command : commands) {
        if (command.empty()) continue;  // nothing on the wire, so nothing could answer it
        std::string reply;
        ReplyStatus status = ExchangeWithResends(line, reader, command, reply);
        if (status != ReplyStatus::kReply) {
            result.code = LineResultCode(status);
            return result;
        }
        result.replies.push_back(std::move(reply));
    }
    return result;
}

}  // namespace vudaduv::transport
