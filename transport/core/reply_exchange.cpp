#include "core/reply_exchange.h"

namespace vudaduv::transport {

namespace {

ReplyStatus ReplyStatusOf(StreamStatus status) {
    switch (status) {
        case StreamStatus::kTimeout:
            return ReplyStatus::kTimeout;
        case StreamStatus::kClosed:
            return ReplyStatus::kClosed;
        case StreamStatus::kOk:
        case StreamStatus::kFailed:
            break;
    }
    return ReplyStatus::kFailed;
}

}  // namespace

bool ReplyLineReader::TooLongForALine() const {
    // Without an LF yet, the line holds every pending byte but perhaps a last CR.
    return pending_.size() > longest_ + 1;
}

PendingReply ReplyLineReader::TakeReplyLine(std::string& reply) {
    std::size_t lineFeed = pending_.find('\n', scanned_);
    if (lineFeed == std::string::npos) {
        scanned_ = pending_.size();
        return TooLongForALine() ? PendingReply::kTooLong : PendingReply::kIncomplete;
    }
    std::size_t length = lineFeed;
    if (length > 0 && pending_[length - 1] == '\r') --length;
    if (length > longest_) return PendingReply::kTooLong;
    reply.assign(pending_, 0, length);
    pending_.erase(0, lineFeed + 1);
    scanned_ = 0;
    return PendingReply::kWhole;
}

void ReplyLineReader::AddReceived(const char* bytes, std::size_t count) {
    pending_.append(bytes, count);
}

ReplyStatus ReplyLineReader::ReadReplyLine(ByteStream& stream, const Deadline& deadline,
                                           std::string& reply) {
    for (;;) {
        switch (TakeReplyLine(reply)) {
            case PendingReply::kWhole:
                return ReplyStatus::kReply;
            case PendingReply::kTooLong:
                return ReplyStatus::kTooLong;
            case PendingReply::kIncomplete:
                break;
        }
        char piece[kReadPiece];
        std::size_t received = 0;
        StreamStatus status = stream.ReadSome(piece, sizeof piece, deadline, received);
        if (status != StreamStatus::kOk) return ReplyStatusOf(status);
        AddReceived(piece, received);
    }
}

void ReplyLineReader::DiscardPending() {
    pending_.clear();
    scanned_ = 0;
}

ReplyStatus ExchangeCommand(ByteStream& stream, ReplyLineReader& reader, const std::string& command,
                            std::uint32_t replyTimeoutMs, std::string& reply) {
    Deadline deadline(replyTimeoutMs);
    StreamStatus written = stream.WriteAll(command, deadline);
    if (written != StreamStatus::kOk) return ReplyStatusOf(written);
    return reader.ReadReplyLine(stream, deadline, reply);
}

}  // namespace vudaduv::transport
