// How long the network send waits before it connects to a scale again.
#pragma once

#include <cstdint>

#include "vudaduv_transport.h"

namespace vudaduv::transport {

// How long to wait before retry number retry (1 for the first retry): the first pause, doubled
// for each further retry, at most 8000 ms, so that a scale that is restarting has time to come
// back.
std::uint32_t PauseBeforeRetryMs(const SendSettings& settings, std::uint64_t retry);

}  // namespace vudaduv::transport
