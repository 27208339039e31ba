// The scales of one SendData call, all served together: each gets the whole command list over a
// connection of its own, reconnecting after a refusal, a time-out or a drop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Told of each target as it is done, with its index in addresses and its final outcome.
using TargetDone = std::function<void(std::size_t index, const TargetOutcome& outcome)>;

// Sends every command to the scale at each address and collects the replies; outcomes come in
// the order of addresses. One event loop on the calling thread serves every target over
// non-blocking sockets, with no thread per target and no cap on their number. A retry waits its
// pause, reconnects and resumes with the command that got no reply, so each command is answered
// once. A target that fails, even for want of a socket, never stops the others. done (when set)
// is called on this thread once for every target, as it finishes.
std::vector<TargetOutcome> ServeAllTargets(const std::vector<std::string>& addresses,
                                           const std::vector<std::string>& commands,
                                           const SendSettings& settings,
                                           std::chrono::steady_clock::time_point callStart,
                                           const TargetDone& done = {});

}  // namespace vudaduv::transport
