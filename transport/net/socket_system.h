// What the TCP transport needs of the system beyond Asio's portable sockets.
#pragma once

#include <cstdint>

namespace vudaduv::transport::net {

// Lets this process hold as many sockets as the system allows (on POSIX systems the soft limit
// of open files goes up to the hard one), so that a call to a thousand scales is not cut short
// by a limit that was only a default.
void RaiseOpenFileLimit();

// Keeps a socket from being inherited by child processes that the host starts.
void KeepFromChildProcesses(std::intptr_t socket);

}  // namespace vudaduv::transport::net
