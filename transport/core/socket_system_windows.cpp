#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <limits>

#include "core/socket_system.h"

namespace vudaduv::transport::net {

std::size_t ConnectionsWithinFileLimit(std::size_t) {
    // Windows sets no per-process limit on sockets.
    return std::numeric_limits<std::size_t>::max();
}

void KeepFromChildProcesses(std::intptr_t socket) {
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace vudaduv::transport::net
