#include "common/reply_exchange.h"

namespace vudaduv::transport {

namespace {

// Read in pieces of this size, so that the buffer never outgrows the limit by more than that.
constexpr std::size_t kReadPiece = 4096;

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

ReplyStatus ReplyLineReader::ReadReplyLine(ByteStream& stream, const Deadline& deadline,
                                           std::string& reply) {
    for (;;) {
        std::size_t lineFeed = pending_.find('\n', scanned_);
        if (lineFeed != std::string::npos) {
            std::size_t length = lineFeed;
            if (length > 0 && pending_[length - 1] == '\r') --length;
            if (length > longest_) return ReplyStatus::kTooLong;
            reply.assign(pending_, 0, length);
            pending_.erase(0, lineFeed + 1);
            scanned_ = 0;
            return ReplyStatus::kReply;
        }
        scanned_ = pending_.size();
        if (TooLongForALine()) return ReplyStatus::kTooLong;
        char piece[kReadPiece];
        std::size_t received = 0;
        StreamStatus status = stream.ReadSome(piece, sizeof piece, deadline, received);
        if (status != StreamStatus::kOk) return ReplyStatusOf(status);
        pending_.append(piece, received);
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
