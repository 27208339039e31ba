// What the TCP server's two engines share: the Asio one (scale_tcp_server_asio.cpp) and the epoll
// one (scale_tcp_server_linux.cpp). The server's frame (starting, stopping, the loop's thread and
// its CPU clock) is scale_tcp_server.cpp's; a connection's replies are ScaleConnection's. Each
// engine keeps the wait and the socket calls: listening, accepting, reading and writing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scale_line_reader.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

using Clock = std::chrono::steady_clock;

// Reading pauses while this much of a peer's replies is unsent.
constexpr std::size_t kMaxUnsentReplies = 64 * 1024;

// A failed accept (out of files, say) is tried again after a pause rather than at once, which
// would spin while the connection waits in the backlog.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(50);

// Whether this many scales from firstPort can be served here: at least one, ports that fit and
// enough files (the limit raised as far as it takes); false with a message.
bool MayServe(uint16_t firstPort, std::size_t scales, std::string& error);

// The port the scale-th scale listens on: consecutive from firstPort, or a free one each (0).
uint16_t ScalePort(uint16_t firstPort, std::size_t scale);

std::string NotAnAddress(const std::string& host);
std::string CannotListen(const std::string& host, uint16_t port, const char* step,
                         const std::string& reason);

// An event loop that serves the scales: one per Start, run by the server's one thread.
class TcpServerEngine {
  public:
    virtual ~TcpServerEngine() = default;
    // Listens for memories[i] on ScalePort(options.port, i), appending each port bound to
    // ports; false with a message naming the address (then the engine is dropped unrun).
    virtual bool Listen(const std::vector<ScaleMemory*>& memories, const ServerOptions& options,
                        std::vector<uint16_t>& ports, std::string& error) = 0;
    virtual void Run() = 0;   // on the loop's thread, until Halt; every socket is closed by then
    virtual void Halt() = 0;  // from another thread
    virtual void Post(std::function<void()> task) = 0;  // runs task on the loop's thread
};

// The engine of this build.
std::unique_ptr<TcpServerEngine> MakeTcpServerEngine(const ServerOptions& options);

// Items that fall due in the order they are added, as after a pause the same for all: one queue
// in that order serves them all, and the loop wakes for the first.
template <typename Item>
class DueQueue {
  public:
    void Add(Item item, Clock::time_point due) { waiting_.push_back({due, std::move(item)}); }
    bool Empty() const { return waiting_.empty(); }
    Clock::time_point NextDue() const {
        return waiting_.empty() ? Clock::time_point::max() : waiting_.front().due;
    }
    // Takes the first item when it is due by now.
    bool TakeDue(Clock::time_point now, Item& item) {
        if (waiting_.empty() || waiting_.front().due > now) return false;
        item = std::move(waiting_.front().item);
        waiting_.pop_front();
        return true;
    }
    void Clear() { waiting_.clear(); }

  private:
    struct Waiting {
        Clock::time_point due;
        Item item;
    };
    std::deque<Waiting> waiting_;
};

// One connection's replies, whichever engine serves it: the bytes read are answered through the
// reader and each reply goes after the reply delay, in order, as a scale that answers one command
// at a time. A reply is written at once as far as the socket takes it; only the rest waits for
// room, and reading pauses meanwhile (PileUp), so the replies stay where the write left them.
//
// Socket is the engine's connection, derived from this one; it gives
//   bool TrySend(std::string_view bytes, std::size_t& sent)  sends what the socket takes now;
//                                                false when the peer is gone
//   void WaitForRoom()                         the socket takes the rest of Unwritten() later,
//                                                and the engine calls Wrote
//   void WaitForDelay(Clock::time_point due)  the engine calls SendNextLine at due
//   void RepliesSent()                         every reply has gone: reading may go on
//   void Abandon()                             the peer takes no more replies
template <typename Socket>
class ScaleConnection {
  public:
    ScaleConnection(ScaleMemory& memory, std::chrono::milliseconds replyDelay)
        : reader_(memory), replyDelay_(replyDelay) {}

    // Answers bytes from the peer; the replies set off unless some are already on their way.
    void Take(std::string_view bytes) {
        reader_.AppendAnswers(bytes, replies_);
        if (!replying_ && replied_ < replies_.size()) {
            replying_ = true;
            ReplyNext(Clock::now());
        }
    }

    // The reply delay of the next line is over.
    void SendNextLine(Clock::time_point now) {
        std::size_t lineEnd = replies_.find('\n', replied_);
        Write(lineEnd == std::string::npos ? replies_.size() : lineEnd + 1, now);
    }

    // The socket took sent more bytes of the write that waited for room.
    void Wrote(std::size_t sent) {
        replied_ += sent;
        if (replied_ < writeEnd_) return;
        writing_ = false;
        ReplyNext(Clock::now());
    }

    // What the write that waits for room has yet to send.
    std::string_view Unwritten() const {
        return std::string_view(replies_).substr(replied_, writeEnd_ - replied_);
    }

    // Unsent replies the peer is not taking.
    bool PileUp() const { return writing_ || replies_.size() - replied_ > kMaxUnsentReplies; }
    bool Replying() const { return replying_; }  // in the delay queue or writing
    bool Writing() const { return writing_; }    // a write waits for room in the socket

  private:
    Socket& Self() { return static_cast<Socket&>(*this); }

    void ReplyNext(Clock::time_point now) {
        if (replied_ == replies_.size()) {
            replies_.clear();
            replied_ = 0;
            replying_ = false;
            return Self().RepliesSent();
        }
        if (replyDelay_.count() == 0) return Write(replies_.size(), now);
        Self().WaitForDelay(now + replyDelay_);
    }

    // Writes the replies up to end.
    void Write(std::size_t end, Clock::time_point now) {
        std::size_t sent = 0;
        std::string_view bytes = std::string_view(replies_).substr(replied_, end - replied_);
        if (!Self().TrySend(bytes, sent)) return Self().Abandon();
        replied_ += sent;
        if (replied_ == end) return ReplyNext(now);
        writing_ = true;
        writeEnd_ = end;
        Self().WaitForRoom();
    }

    CommandLineReader reader_;
    std::chrono::milliseconds replyDelay_;
    std::string replies_;
    std::size_t replied_ = 0;
    std::size_t writeEnd_ = 0;  // while writing: where the write in progress ends
    bool replying_ = false;
    bool writing_ = false;
};

}  // namespace vudaduv::scale
