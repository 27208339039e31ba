// The reply-line reader of both transports on any byte stream: the first input byte sets the
// longest reply line, the second how the stream arrives in pieces and how it ends, the rest is
// the stream. However the bytes arrive, the reader gives the lines ended by LF in order, each
// without its LF and a CR before it, until one is longer than the limit; an unended tail gives
// the stream's end, or "too long" once it holds more than the limit and a CR.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "core/reply_exchange.h"
#include "fuzz_driver.h"

using vudaduv::transport::ByteStream;
using vudaduv::transport::Deadline;
using vudaduv::transport::ReplyLineReader;
using vudaduv::transport::ReplyStatus;
using vudaduv::transport::StreamStatus;

namespace {

// Hands out the stream in pieces of random size, then reports its end.
class PieceStream : public ByteStream {
  public:
    PieceStream(std::string_view bytes, unsigned seed, StreamStatus end)
        : bytes_(bytes), random_(seed + 1), largest_(seed % 2 == 0 ? 8 : 9000), end_(end) {}

    StreamStatus WriteAll(const std::string&, const Deadline&) override {
        return StreamStatus::kOk;
    }

    StreamStatus ReadSome(char* buffer, std::size_t capacity, const Deadline&,
                          std::size_t& received) override {
        if (bytes_.empty()) return end_;
        received = std::min<std::size_t>({bytes_.size(), capacity, 1 + random_() % largest_});
        std::memcpy(buffer, bytes_.data(), received);
        bytes_.remove_prefix(received);
        return StreamStatus::kOk;
    }

  private:
    std::string_view bytes_;
    std::minstd_rand random_;
    std::size_t largest_;
    StreamStatus end_;
};

ReplyStatus EndStatus(StreamStatus end) {
    return end == StreamStatus::kClosed ? ReplyStatus::kClosed : ReplyStatus::kTimeout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    uint8_t limit = input.Byte();
    uint64_t longest = limit == 0xFF ? 65536 : limit;
    unsigned seed = input.Byte();
    StreamStatus end = seed & 0x80 ? StreamStatus::kClosed : StreamStatus::kTimeout;
    std::string_view stream = input.Rest();

    PieceStream pieces(stream, seed, end);
    ReplyLineReader reader(longest);
    Deadline deadline(1000);
    std::string reply;
    for (std::size_t lineFeed = stream.find('\n'); lineFeed != std::string_view::npos;
         lineFeed = stream.find('\n')) {
        std::string_view line = stream.substr(0, lineFeed);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ReplyStatus status = reader.ReadReplyLine(pieces, deadline, reply);
        if (line.size() > longest) {
            FuzzCheck(status == ReplyStatus::kTooLong, "a line over the limit is too long");
            return 0;
        }
        FuzzCheck(status == ReplyStatus::kReply && reply == line,
                  "a line within the limit comes whole, without its line end");
        stream.remove_prefix(lineFeed + 1);
    }
    ReplyStatus status = reader.ReadReplyLine(pieces, deadline, reply);
    FuzzCheck(status == (stream.size() > longest + 1 ? ReplyStatus::kTooLong : EndStatus(end)),
              "an unended tail gives the stream's end unless it is already too long");
    return 0;
}
