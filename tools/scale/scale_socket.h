// The socket calls beneath the scale's TCP that differ between systems. The rest (resolving,
// binding, listening, connecting) is the same BSD-socket API everywhere and lives in
// scale_socket.cpp; scale_socket_posix.cpp and scale_socket_windows.cpp fill in this layer.
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
#include <memory>
#include <string>

#include "scale_platform.h"

namespace vudaduv::scale::platform {

#ifdef _WIN32
using SocketHandle = SOCKET;
using SocketLength = int;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
using SocketLength = socklen_t;
inline const SocketHandle kNoSocket = -1;
#endif

// Makes sockets usable in this process (Winsock is started once); false with a message if not.
bool StartSockets(std::string& error);

// The text of a getaddrinfo status.
std::string AddressErrorText(int status);

// The text of the last socket error with a lead-in, for error messages.
std::string SocketError(const char* what);

void CloseSocket(SocketHandle socket);
void MakeNonBlocking(SocketHandle socket);

// A stream that takes socket over, non-blocking.
std::unique_ptr<Stream> SocketStream(SocketHandle socket);

// The local port socket is bound to; 0 when it cannot be told.
std::uint16_t BoundPort(SocketHandle socket);

}  // namespace vudaduv::scale::platform
