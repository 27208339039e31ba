// The discipline both transports follow: write one command line whole, then read exactly one
// reply line, ended by LF with an optional CR before it, within the reply time-out.
#pragma once

#include <cstdint>
#include <string>

#include "common/byte_stream.h"

namespace vudaduv::transport {

enum class ReplyStatus {
    kReply,    // a whole reply line came
    kTimeout,  // no whole reply line before the deadline
    kClosed,   // the other end closed or hung up first
    kTooLong,  // the reply line is longer than the limit
    kFailed,   // any other failure of this machine
};

// Splits the bytes of one connection into reply lines. Bytes that arrive after a reply's LF
// are kept for the next reply, so a scale that answers in one burst loses nothing.
class ReplyLineReader {
  public:
    // longest: the longest reply line accepted, in bytes, without its CR LF.
    explicit ReplyLineReader(std::uint64_t longest) : longest_(longest) {}

    // Reads the next reply line into reply, without its LF and the CR before it.
    ReplyStatus ReadReplyLine(ByteStream& stream, const Deadline& deadline, std::string& reply);

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
