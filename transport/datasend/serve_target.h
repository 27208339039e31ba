// One scale of a SendData call: the whole command list over one connection, reconnecting after
// a refusal, a time-out or a drop.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "datasend/send_settings.h"

namespace vudaduv::transport {

struct TargetOutcome {
    std::int32_t code = 0;             // a WQDS_ code
    std::vector<std::string> replies;  // one per answered command, in command order
    std::uint32_t connections = 0;     // tries that got as far as an address to connect to
    std::uint32_t milliseconds = 0;    // from the start of the call until the target was done
};

// Sends every command to the scale at address and collects the replies. A retry waits its pause,
// reconnects and resumes with the command that got no reply, so each command is answered once.
TargetOutcome ServeTarget(const std::string& address, const std::vector<std::string>& commands,
                          const SendSettings& settings,
                          std::chrono::steady_clock::time_point callStart) noexcept;

// Whole milliseconds from start until now, at most the largest uint32_t.
std::uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace vudaduv::transport
