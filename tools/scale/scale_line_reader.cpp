#include "scale_line_reader.h"

#include <algorithm>
#include <thread>

namespace vudaduv::scale {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kTooLongReply = "0eTOOLONG\r\n";

// A line may hold one CR before its LF on top of the longest command.
constexpr std::size_t kMaxPendingBytes = kMaxCommandLineBytes + 1;

using Clock = std::chrono::steady_clock;

// A paced reply goes in pieces of about this long on the line, each when its time comes.
constexpr std::chrono::milliseconds kPacedPiece{2};

// Waits until when, looking at stop every tick; false when stop was set.
bool WaitUntil(Clock::time_point when, const std::atomic<bool>& stop) {
    while (Clock::now() < when) {
        if (stop.load()) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(
            when - Clock::now(), std::chrono::milliseconds(kServeTickMs)));
    }
    return !stop.load();
}

// Writes replies as a line at the pace carries them: a piece, then the next when the line has
// carried the one before. The pieces keep to the line's own schedule, so that a wait that ends
// late does not put off every piece after it.
bool WritePaced(platform::Stream& stream, const std::string& replies, PacedLine& line,
                std::uint32_t baud, const std::atomic<bool>& stop) {
    std::size_t piece = std::max<std::size_t>(1, baud / 10 * kPacedPiece.count() / 1000);
    Clock::time_point start = Clock::now();
    for (std::size_t done = 0; done < replies.size(); done += piece) {
        std::size_t size = std::min(piece, replies.size() - done);
        if (!stream.Write(std::string_view(replies).substr(done, size), stop)) return false;
        if (!WaitUntil(line.Carry(size, start), stop)) return false;
    }
    return true;
}

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

Clock::time_point PacedLine::Carry(std::size_t bytes, Clock::time_point from) {
    if (baud_ == 0) return from;
    Clock::time_point start = std::max(from, freeAt_);
    // 10 bits a byte: a start bit, 8 data bits, a stop bit.
    freeAt_ = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                          10.0 * static_cast<double>(bytes) / static_cast<double>(baud_)));
    return freeAt_;
}

void ServeStream(ScaleMemory& memory, platform::Stream& stream, const std::atomic<bool>& stop,
                 const LinePace& pace, std::atomic<std::uint64_t>* carried) {
    CommandLineReader reader(memory);
    PacedLine inbound(pace.baud);
    PacedLine outbound(pace.baud);
    bool paced = pace.baud != 0 || pace.replyDelay.count() != 0;
    std::string bytes;
    while (!stop.load()) {
        bytes.clear();
        platform::ReadStatus status = stream.Read(bytes, kServeTickMs);
        if (status == platform::ReadStatus::kClosed) return;
        if (bytes.empty()) continue;
        if (carried != nullptr) *carried += bytes.size();
        // The bytes read now would have come one after the other at the line's speed.
        Clock::time_point arrived = inbound.Carry(bytes.size(), Clock::now());
        std::string replies = reader.Answers(bytes);
        if (replies.empty()) continue;
        if (carried != nullptr) *carried += replies.size();
        if (!paced) {
            if (!stream.Write(replies, stop)) return;
            continue;
        }
        if (!WaitUntil(arrived + pace.replyDelay, stop) ||
            !WritePaced(stream, replies, outbound, pace.baud, stop)) {
            return;
        }
    }
}

}  // namespace vudaduv::scale
