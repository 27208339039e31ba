// The platform layer of the serial transport: a serial line that the application opened and
// configured, borrowed for one send; and a line that the core opens itself for a scale named
// "serial:DEVICE@BAUD", held alone while it is served. One implementation per system:
// serial_line_posix.cpp (a descriptor, waited on with poll() or the engine's epoll set) and
// serial_line_windows.cpp (a HANDLE).
#pragma once

#include <cstdint>
#include <memory>
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

// A serial line the core opened for a scale and holds alone while it is served: raw, 8 data
// bits, no parity, one stop bit, no flow control, at the address's speed, reads and writes that
// never block (POSIX: O_NONBLOCK; Windows: overlapped). Another process that tries the line is
// refused (POSIX: TIOCEXCL and an flock() of the device; Windows: no sharing). Closing puts back
// the settings the line had.
class HeldLine {
  public:
    HeldLine();
    ~HeldLine();
    HeldLine(const HeldLine&) = delete;
    HeldLine& operator=(const HeldLine&) = delete;

    // WQDS_OK; or, with nothing held, WQDS_BAD_ADDRESS ("no such device", "not a serial line"),
    // WQDS_REFUSED ("in use by another process", "permission denied", "the line does not take
    // 230400 baud") or WQDS_INTERNAL, and the cause in a few words.
    std::int32_t Open(const std::string& device, std::uint32_t baud, std::string& cause);

    // The descriptor (POSIX) or HANDLE (Windows) while the line is held.
    std::intptr_t Handle() const { return handle_; }

    // Drops what the line received and nobody read: a late answer to a command asked for again.
    void DiscardInput() noexcept;

    // Puts the settings back and closes the line; nothing when none is held.
    void Close() noexcept;

    // Puts the settings back and lets go of the handle, which whoever took it closes.
    void Release() noexcept;

  private:
    struct Saved;  // the line's settings as Open found them
    std::intptr_t handle_;
    std::unique_ptr<Saved> saved_;
};

}  // namespace vudaduv::transport::serial
