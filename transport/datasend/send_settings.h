// The settings of one SendData call, read from the target record's values (see wqdatasend.h).
#pragma once

#include <cstdint>

#include "vudaduv.h"

namespace vudaduv::transport {

struct SendSettings {
    std::uint32_t replyTimeoutMs = 3000;
    std::uint32_t connectTimeoutMs = 3000;
    std::uint64_t tries = 3;             // the first try and the retries, per target
    std::uint32_t defaultPort = 4001;    // may be out of range: then addresses need a port
    std::uint64_t longestReply = 65536;  // bytes, without CR LF
};

// A missing entry or 0 keeps the default; a retry count of 0xFFFFFFFF means no retry.
SendSettings ReadSendSettings(const WQValueList& values);

}  // namespace vudaduv::transport
