// The calls of the TCP transport that differ between systems. StreamSocket's connecting
// (resolving, then trying each address in turn) is the same everywhere and lives in socket.cpp;
// socket_posix.cpp and socket_windows.cpp fill in this layer and do the reading and writing.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>

#include "common/deadline.h"
#include "net/socket.h"

namespace vudaduv::transport::net::os {

constexpr std::intptr_t kClosed = -1;  // what a socket handle holds when there is none

// False when sockets cannot be used in this process (Winsock is started once, on first use).
bool SocketsStarted();

// A getaddrinfo failure that lies with this machine (no memory, no sockets), not with the name.
bool ResolveFailedHere(int resolved);

// A new socket for address; kClosed with failure set when none can be made.
std::intptr_t OpenSocket(const addrinfo& address, ConnectStatus& failure);

// Non-blocking, not inherited by child processes, no SIGPIPE, commands sent at once.
bool PrepareSocket(std::intptr_t socket);

// Connects a prepared socket to address, waiting until the deadline for the outcome.
ConnectStatus ConnectPrepared(std::intptr_t socket, const addrinfo& address,
                              const Deadline& deadline);

void CloseSocket(std::intptr_t socket);

}  // namespace vudaduv::transport::net::os
