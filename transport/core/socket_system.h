// What the TCP transport needs of the system beyond Asio's portable sockets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vudaduv::transport::net {

// Lets this process hold the sockets of a call beside the files it already has: on POSIX
// systems a soft limit of open files that is too low for them is raised, as far as the hard
// limit allows, so that a call to a thousand scales is not cut short by a limit that was only a
// default. A limit that is high enough is left alone: a host that still waits with select() on
// descriptors below 1024 keeps them there as long as its calls are small.
void RaiseOpenFileLimit(std::size_t sockets);

// Keeps a socket from being inherited by child processes that the host starts.
void KeepFromChildProcesses(std::intptr_t socket);

}  // namespace vudaduv::transport::net
