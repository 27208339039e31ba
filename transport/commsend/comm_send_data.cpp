// COMMSendData: the command list over a serial line that the application opened, one reply
// per command, a command sent again when its reply does not come.
#include <cstdint>
#include <string>
#include <vector>

#include "common/record_lists.h"
#include "common/reply_exchange.h"
#include "common/upload_append.h"
#include "serial/serial_line.h"
#include "wqcommsend.h"

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

// Sends the commands in order until one fails; replies gets every reply that came.
std::int32_t SendOverLine(serial::SerialLine& line, const std::vector<std::string>& commands,
                          std::vector<std::string>& replies) {
    ReplyLineReader reader(kLongestReply);
    for (const std::string& command : commands) {
        std::string reply;
        ReplyStatus status = ExchangeWithResends(line, reader, command, reply);
        if (status != ReplyStatus::kReply) return LineResultCode(status);
        replies.push_back(std::move(reply));
    }
    return WQCS_OK;
}

std::int32_t SendOverLink(const WQCOMM& command) {
    if (!serial::IsOpenLine(command.link)) return WQCS_BAD_REQUEST;
    std::vector<std::string> commands = ReadCommandLines(command.lines);
    if (commands.empty()) return WQCS_OK;
    serial::SerialLine line(command.link);
    std::vector<std::string> replies;
    std::int32_t code = SendOverLine(line, commands, replies);
    // Lost replies outweigh a failing line: the application must know they are gone.
    if (!AppendRepliesToUploadFile(replies)) return WQCS_UPLOAD_FILE;
    return code;
}

}  // namespace

}  // namespace vudaduv::transport

extern "C" WQCOMMSEND_API int32_t WQ_CALL COMMSendData(const WQCOMM* request,
                                                       const WQCOMM* command) {
    if (request == nullptr || command == nullptr) return WQCS_BAD_REQUEST;
    try {
        return vudaduv::transport::SendOverLink(*command);
    } catch (...) {
        return WQCS_INTERNAL;  // memory ran out
    }
}
