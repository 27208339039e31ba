// What the TCP transport needs of the system beyond Asio's portable sockets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vudaduv::transport::net {

// How many sockets a call that wants sockets of them may hold open at once. On POSIX systems a
// soft limit of open files too low for them is raised first, as far as the hard limit allows, so
// that a call to a thousand scales is not cut short by a limit that was only a default; a limit
// that is high enough is left alone (a host that still waits with select() on descriptors below
// 1024 keeps them there as long as its calls are small). Of the limit, the call leaves alone the
// descriptors open when it starts and kFilesLeftFree more, for what the rest of the process opens
// meanwhile. At least 1; no cap (SIZE_MAX) where the system sets no limit per process.
std::size_t ConnectionsWithinFileLimit(std::size_t sockets);

// The descriptors a call leaves free beside those open when it starts: the engine's own wake-up
// and the resolver thread's files and sockets (about six), the C library's and the sanitizers'
// passing needs, and a file or two of the host's other threads, with room to spare.
constexpr std::size_t kFilesLeftFree = 32;

// Keeps a socket from being inherited by child processes that the host starts.
void KeepFromChildProcesses(std::intptr_t socket);

}  // namespace vudaduv::transport::net
