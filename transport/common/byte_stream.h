// What both transports need of a connection to a scale: write bytes, read some bytes, each
// bounded by a deadline. A socket and a serial line each implement it in the platform layer.
#pragma once

#include <cstddef>
#include <string>

#include "common/deadline.h"

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
