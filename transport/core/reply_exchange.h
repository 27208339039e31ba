// The discipline both transports follow: write one command line whole, then read exactly one
// reply line, ended by LF with an optional CR before it, within the reply time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/byte_stream.h"

namespace vudaduv::transport {

enum class ReplyStatus {
    kReply,    // a whole reply line came
    kTimeout,  // no whole reply line before the deadline
    kClosed,   // the other end closed or hung up first
    kTooLong,  // the reply line is longer than the limit
    kFailed,   // any other failure of this machine
};

// What the bytes received so far hold for the next reply line.
enum class PendingReply {
    kWhole,       // a whole line, now taken
    kIncomplete,  // no LF yet: more bytes are needed
    kTooLong,     // the line is longer than the limit, whatever comes next
};

// Splits the bytes of one connection into reply lines. Bytes that arrive after a reply's LF
// are kept for the next reply, so a scale that answers in one burst loses nothing. A blocking
// caller lets it read (ReadReplyLine); an event loop hands it what arrived (AddReceived) and
// asks for the line (TakeReplyLine).
class ReplyLineReader {
  public:
    // Bytes are read in pieces of this size, so the bytes kept never outgrow the limit by more.
    static constexpr std::size_t kReadPiece = 4096;

    // longest: the longest reply line accepted, in bytes, without its CR LF.
    explicit ReplyLineReader(std::uint64_t longest) : longest_(longest) {}

    // Reads the next reply line into reply, without its LF and the CR before it.
    ReplyStatus ReadReplyLine(ByteStream& stream, const Deadline& deadline, std::string& reply);

    // Takes the next reply line, without its LF and the CR before it, when it is all there.
    PendingReply TakeReplyLine(std::string& reply);

    // Keeps count bytes that arrived. Handed over a piece of at most kReadPiece at a time, a
    // line over the limit is noticed before much more than the limit is kept.
    void AddReceived(const char* bytes, std::size_t count);

    // Forgets bytes received but not yet taken: they belong to a connection or a request that
    // was given up.
    void DiscardPending();

  private:
    bool TooLongForALine() const;

    std::uint64_t longest_;
    std::string pending_;
    std::size_t scanned_ = 0;  // the first bytes of pending_ that are known to hold no LF
};

// Writes command whole and reads its one reply, both within replyTimeoutMs.
ReplyStatus ExchangeCommand(ByteStream& stream, ReplyLineReader& reader, const std::string& command,
                            std::uint32_t replyTimeoutMs, std::string& reply);

}  // namespace vudaduv::transport
