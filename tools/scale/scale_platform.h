// The thin layer between the virtual scale and the operating system, for what Asio does not do:
// the open-file limit, a listener's socket options, a thread's CPU clock and the byte stream over
// a pseudo-terminal. One implementation per system: scale_system_posix.cpp and
// scale_pty_posix.cpp (with scale_fd_posix.cpp) on POSIX systems; scale_system_windows.cpp and
// scale_pty_windows.cpp on Windows, where the pseudo-terminal reports that it is not available.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vudaduv::scale::platform {

enum class ReadStatus { kData, kNothingYet, kClosed };

// A byte stream over a pseudo-terminal or a serial device; closes itself when destroyed.
class Stream {
  public:
    virtual ~Stream() = default;
    // Waits at most waitMs for bytes and appends those that came.
    virtual ReadStatus Read(std::string& out, int waitMs) = 0;
    // Writes every byte; false when the peer has gone or stop was set while waiting.
    virtual bool Write(std::string_view bytes, const std::atomic<bool>& stop) = 0;
};

// Raises the limit of files (and sockets) this process may have open to wanted, or as close to
// it as the system allows; returns the limit now in effect. Systems without such a limit return
// SIZE_MAX.
std::size_t RaiseOpenFileLimit(std::size_t wanted);

// Readies a socket (a descriptor or a SOCKET) to be bound as a listener.
void PrepareToListen(std::uintptr_t socket);

// The CPU time (user and system) the calling thread has spent so far.
std::chrono::nanoseconds ThreadCpuTime();

class PseudoTerminal {
  public:
    virtual ~PseudoTerminal() = default;
    virtual std::string DevicePath() const = 0;  // the side a serial transport opens
    virtual Stream& Master() = 0;                // the side the scale serves
};

// A pseudo-terminal whose device side is raw (no echo, no line editing, no CR/LF mapping).
std::unique_ptr<PseudoTerminal> OpenPseudoTerminal(std::string& error);

// Opens a serial device (or a pseudo-terminal's device side) raw, as a serial transport would.
std::unique_ptr<Stream> OpenSerialDevice(const std::string& path, std::string& error);

}  // namespace vudaduv::scale::platform
