// Cuts a byte stream into command lines and answers each one, whatever the chunks look like.
#pragma once

#include <atomic>
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

// Answers the command lines of one stream until the peer goes or stop is set; looks at stop
// at least every kServeTickMs.
constexpr int kServeTickMs = 50;
void ServeStream(ScaleMemory& memory, platform::Stream& stream, const std::atomic<bool>& stop);

}  // namespace vudaduv::scale
