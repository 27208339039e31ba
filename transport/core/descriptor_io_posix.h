// The POSIX side of waiting on a descriptor with poll() and moving bytes through it, for the
// serial line (serial_line_posix.cpp). Sockets do not come here: the event loop serves them. Not
// for Windows: there the line waits its own way (serial_line_windows.cpp).
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "core/byte_stream.h"
#include "core/deadline.h"

namespace vudaduv::transport::posix {

enum class Readiness { kReady, kTimeout, kHungUp, kFailed };

// Waits until fd is ready for events (POLLIN or POLLOUT) or reports an error, until the
// deadline. kHungUp when the other end hung up and nothing of events is possible.
Readiness WaitReady(int fd, short events, const Deadline& deadline);

// One system call that moves bytes: the count moved, or -1 with errno set.
using ReadCall = ssize_t (*)(int fd, char* buffer, std::size_t size);
using WriteCall = ssize_t (*)(int fd, const char* bytes, std::size_t size);

// How an errno of such a call (other than EINTR and EAGAIN) ends the transfer.
using ErrorStatus = StreamStatus (*)(int error);

// Waits for input and reads once: kOk with received > 0, or why nothing came.
StreamStatus ReadWhenReady(int fd, char* buffer, std::size_t capacity, const Deadline& deadline,
                           ReadCall read, ErrorStatus errorStatus, std::size_t& received);

// Writes all of bytes, waiting for room as often as needed.
StreamStatus WriteAllWhenReady(int fd, const std::string& bytes, const Deadline& deadline,
                               WriteCall write, ErrorStatus errorStatus);

}  // namespace vudaduv::transport::posix
