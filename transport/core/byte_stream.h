// What a blocking exchange needs of a connection to a scale: write bytes, read some bytes, each
// bounded by a deadline. The serial line implements it in its platform layer; the network send
// does not use it, its sockets are served by the event loop (core/send_to_scales.cpp).
#pragma once

#include <cstddef>
#include <string>

#include "core/deadline.h"

namespace vudaduv::transport {

enum class StreamStatus {
    kOk,       // the bytes were moved
    kTimeout,  // the deadline passed first
    kClosed,   // the other end closed or hung up
    kFailed,   // any other failure of this machine
};

class ByteStream {
  public:
    virtual ~ByteStream() = default;

    // Writes all of bytes before the deadline.
    virtual StreamStatus WriteAll(const std::string& bytes, const Deadline& deadline) = 0;

    // Waits until the deadline for at least one byte and reads what is there, at most capacity
    // bytes. kOk always comes with received > 0.
    virtual StreamStatus ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                                  std::size_t& received) = 0;
};

}  // namespace vudaduv::transport
