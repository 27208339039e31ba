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
    std::uint32_t firstRetryPauseMs = 500;
};

// A missing entry or 0 keeps the default; a retry count of 0xFFFFFFFF means no retry.
SendSettings ReadSendSettings(const WQValueList& values);

// How long to wait before retry number retry (1 for the first retry): the first pause, doubled
// for each further retry, at most 8000 ms, so that a scale that is restarting has time to come
// back.
std::uint32_t PauseBeforeRetryMs(const SendSettings& settings, std::uint64_t retry);

}  // namespace vudaduv::transport
