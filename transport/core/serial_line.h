// The platform layer of the serial transport: a serial line that the application opened and
// configured, borrowed for one send. One implementation per system: serial_line_posix.cpp (a
// descriptor, waited on with poll()) and serial_line_windows.cpp (a HANDLE).
#pragma once

#include <cstdint>
#include <string>

#include "core/byte_stream.h"
#include "core/deadline.h"

namespace vudaduv::transport::serial {

// True when link names a line open for reading and writing in this process.
bool IsOpenLine(std::uint32_t link);

// Reads and writes the line without changing its settings, and never closes it.
class SerialLine final : public ByteStream {
  public:
    explicit SerialLine(std::uint32_t link) : link_(link) {}

    StreamStatus WriteAll(const std::string& bytes, const Deadline& deadline) override;
    StreamStatus ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                          std::size_t& received) override;

    // Drops what the line received but nobody read yet, so that a late answer to a command
    // that is sent again cannot pass for the answer to the repeat.
    void DiscardInput();

  private:
    std::uint32_t link_;
};

}  // namespace vudaduv::transport::serial
