// The network send over an engine of the caller's choice: SendToScales runs it over this
// platform's engine; the tests run the same steps over every engine that builds here.
#pragma once

#include <vector>

#include "core/socket_engine.h"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

// SendToScales (vudaduv_transport.h) with its I/O in engine, which it runs. engine serves this
// one call.
std::vector<ScaleResult> SendToScalesOver(SocketEngine& engine, const std::vector<ScaleJob>& jobs,
                                          const SendSettings& settings,
                                          const SendObserver& observer);

}  // namespace vudaduv::transport
