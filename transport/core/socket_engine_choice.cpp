// Which engine serves a network send here: Linux has its own (a command costs a write, a wait
// and a read there); Asio serves every other platform.
#include "core/socket_engine.h"

namespace vudaduv::transport {

std::unique_ptr<SocketEngine> MakeSocketEngine() {
#ifdef __linux__
    return MakeEpollEngine();
#else
    return MakeAsioEngine();
#endif
}

}  // namespace vudaduv::transport
