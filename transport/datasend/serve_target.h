// One scale of a SendData call: the whole command list over one connection, reconnecting after
// a refusal, a time-out or a drop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "datasend/send_settings.h"

namespace vudaduv::transport {

struct TargetOutcome {
    std::int32_t code = 0;             // a WQDS_ code
    std::vector<std::string> replies;  // one per answered command, in command order
};

// Sends every command to the scale at address and collects the replies. A retry reconnects and
// resumes with the command that got no reply, so each command is answered once.
TargetOutcome ServeTarget(const std::string& address, const std::vector<std::string>& commands,
                          const SendSettings& settings) noexcept;

}  // namespace vudaduv::transport
