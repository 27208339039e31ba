// The network send over an engine of the caller's choice: SendToScales runs it over this
// platform's engine; the tests run the same steps over every engine that builds here.
#pragma once

#include <cstddef>
#include <vector>

#include "core/socket_engine.h"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

// SendToScales (vudaduv_transport.h) with its I/O in engine, which it runs. engine serves this
// one call.
std::vector<ScaleResult> SendToScalesOver(SocketEngine& engine, const std::vector<ScaleJob>& jobs,
                                          const SendSettings& settings,
                                          const SendObserver& observer);

// The same with at most connections open at once (at least 1), whatever the open-file limit:
// SendToScalesOver takes the number the limit allows (socket_system.h).
std::vector<ScaleResult> SendToScalesWithin(SocketEngine& engine, const std::vector<ScaleJob>& jobs,
                                            const SendSettings& settings,
                                            const SendObserver& observer, std::size_t connections);

}  // namespace vudaduv::transport
