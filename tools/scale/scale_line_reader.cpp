#include "scale_line_reader.h"

namespace vudaduv::scale {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kTooLongReply = "0eTOOLONG\r\n";

// A line may hold one CR before its LF on top of the longest command.
constexpr std::size_t kMaxPendingBytes = kMaxCommandLineBytes + 1;

}  // namespace

std::string CommandLineReader::Answers(std::string_view bytes) {
    std::string replies;
    AppendAnswers(bytes, replies);
    return replies;
}

void CommandLineReader::AppendAnswers(std::string_view bytes, std::string& replies) {
    while (!bytes.empty()) {
        std::size_t lineEnd = bytes.find('\n');
        std::string_view piece = bytes.substr(0, lineEnd);
        bytes.remove_prefix(lineEnd == std::string_view::npos ? bytes.size() : lineEnd + 1);
        if (!discarding_) {
            std::size_t room = kMaxPendingBytes - pending_.size();
            pending_.append(piece.substr(0, room));
            if (piece.size() > room) {
                replies.append(kTooLongReply);
                pending_.clear();
                discarding_ = true;
            }
        }
        if (lineEnd == std::string_view::npos) break;
        if (!discarding_) {
            replies.append(memory_.Answer(pending_)).append(kLineEnd);
        }
        pending_.clear();
        discarding_ = false;
    }
}

void ServeStream(ScaleMemory& memory, platform::Stream& stream, const std::atomic<bool>& stop) {
    CommandLineReader reader(memory);
    std::string bytes;
    while (!stop.load()) {
        bytes.clear();
        platform::ReadStatus status = stream.Read(bytes, kServeTickMs);
        if (status == platform::ReadStatus::kClosed) return;
        std::string replies = reader.Answers(bytes);
        if (!replies.empty() && !stream.Write(replies, stop)) return;
    }
}

}  // namespace vudaduv::scale
