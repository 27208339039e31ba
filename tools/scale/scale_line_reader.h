// Cuts a byte stream into command lines and answers each one, whatever the chunks look like.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scale_platform.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

class CommandLineReader {
  public:
    explicit CommandLineReader(ScaleMemory& memory) : memory_(memory) {}

    // Takes the next bytes of the stream and returns the reply lines, each with CR LF, for the
    // command lines they complete. A line that grows past the limit is answered "0eTOOLONG" at
    // once and the rest of it, up to its LF, is dropped.
    std::string Answers(std::string_view bytes);
    // The same, appended to replies, so that a server can keep one buffer per connection.
    void AppendAnswers(std::string_view bytes, std::string& replies);

  private:
    ScaleMemory& memory_;
    std::string pending_;
    bool discarding_ = false;
};

// When the bytes of a line at a speed have gone: each byte takes 10 bits' time.
class PacedLine {
  public:
    explicit PacedLine(std::uint32_t baud) : baud_(baud) {}
    // The bytes start at from, or when the bytes before them have gone if that is later; returns
    // when the last has gone. from itself when the line takes no time.
    std::chrono::steady_clock::time_point Carry(std::size_t bytes,
                                                std::chrono::steady_clock::time_point from);

  private:
    std::uint32_t baud_;
    std::chrono::steady_clock::time_point freeAt_{};
};

// Answers the command lines of one stream until the peer goes or stop is set; looks at stop
// at least every kServeTickMs. With a pace, a command is answered only once its bytes would have
// come at the line's speed and the reply delay has passed, and a reply's bytes are written as
// the line would carry them.
constexpr int kServeTickMs = 50;
// The bytes are counted in carried, when given, as they are carried.
void ServeStream(ScaleMemory& memory, platform::Stream& stream, const std::atomic<bool>& stop,
                 const LinePace& pace = {}, std::atomic<std::uint64_t>* carried = nullptr);

}  // namespace vudaduv::scale
