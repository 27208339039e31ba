// What a scale's session needs of the I/O beneath it: resolve a name, connect to an address (or
// open a serial line), write a command, be handed the bytes that come, one alarm, close. An engine
// runs the call's loop and serves every session's channel in it; the session's steps
// (send_to_scales.cpp) know nothing of how.
//
// Two engines: on Linux an epoll set of the engine's own (socket_engine_epoll_linux.cpp), whose
// wait is the call's only wait, so a command costs a write, a wait and a read; elsewhere Asio
// (socket_engine_asio.cpp), which builds on every platform. MakeSocketEngine picks (one place:
// socket_engine_choice.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "asio/ip/tcp.hpp"

namespace vudaduv::transport {

using EngineClock = std::chrono::steady_clock;
using Endpoint = asio::ip::tcp::endpoint;  // an address and port, as a sockaddr

// What a channel's owner is told. Every word comes from the engine's Run, never from inside a
// call the owner made to its channel, so an owner is never re-entered. Errors are in Asio's system
// category, so that they compare equal to asio::error's.
class ChannelEvents {
  public:
    // The name's addresses (one at least), or why there are none.
    virtual void Resolved(const std::error_code& error,
                          std::vector<Endpoint> endpoints) noexcept = 0;
    // The connection that Connect started is made (no error) or failed.
    virtual void Connected(const std::error_code& error) noexcept = 0;
    // A write that waited for room went whole (no error), or failed.
    virtual void Written(const std::error_code& error) noexcept = 0;
    // What one Receive asked for: count > 0 bytes; count 0 with no error is the end of the
    // stream; an error that the connection failed. The bytes are valid during the call only.
    virtual void Received(const std::error_code& error, const char* bytes,
                          std::size_t count) noexcept = 0;
    // The time set by SetAlarm has come.
    virtual void AlarmRang() noexcept = 0;

  protected:
    ~ChannelEvents() = default;
};

enum class WriteStatus {
    kDone,     // every byte went at once
    kPending,  // the rest goes as room comes; Written tells the end
    kFailed,   // the connection failed: the error says why
};

// One session's I/O: a connection at a time (or a name being resolved), and one alarm. Lives
// until the engine's Run has returned.
class Channel {
  public:
    virtual ~Channel() = default;

    // Resolves host (a name) for port; Resolved tells the result.
    virtual void Resolve(const std::string& host, std::uint16_t port) = 0;

    // Opens a socket for the endpoint's family and starts connecting; Connected tells how it
    // went. An error, and no word later, when no socket could be opened.
    virtual std::error_code Connect(const Endpoint& endpoint) = 0;

    // Opens the serial line device at baud for this channel alone (serial_line.h's HeldLine), in
    // place of a connection: WQDS_OK, after which Write, Receive and Close serve the line as they
    // serve a socket (a line that hangs up fails a read or a write, like a drop); otherwise a
    // WQDS_ code and its cause, with nothing open. No word comes of it.
    virtual std::int32_t OpenLine(const std::string& device, std::uint32_t baud,
                                  std::string& cause) = 0;

    // Gives up the read asked for and a write under way on the open line, which stays open, and
    // drops what it received and nobody read yet: nothing more is told of them.
    virtual void DiscardLineInput() noexcept = 0;

    // Writes bytes on the connected socket; they must stay valid until the write is done.
    virtual WriteStatus Write(const char* bytes, std::size_t count, std::error_code& error) = 0;

    // Asks for the next bytes that come (Received), once.
    virtual void Receive() = 0;

    // Closes the connection and gives up a resolution: nothing that was waited for is told.
    virtual void Close() noexcept = 0;

    // Rings AlarmRang at when (at once when it has passed), in place of any alarm set before.
    virtual void SetAlarm(EngineClock::time_point when) = 0;
    virtual void CancelAlarm() noexcept = 0;
};

class SocketEngine {
  public:
    virtual ~SocketEngine() = default;

    // A channel that tells owner; owner outlives it.
    virtual std::unique_ptr<Channel> NewChannel(ChannelEvents& owner) = 0;

    // Serves the channels until nothing waits any more (no connection, resolution or alarm) or
    // Stop. Throws std::system_error when the engine's own wait fails.
    virtual void Run() = 0;

    // Makes Run return after the word it is telling; for the owners, from inside Run.
    virtual void Stop() noexcept = 0;
};

// Throws std::system_error when the system gives no engine.
std::unique_ptr<SocketEngine> MakeAsioEngine();
#ifdef __linux__
std::unique_ptr<SocketEngine> MakeEpollEngine();
#endif

// This platform's engine.
std::unique_ptr<SocketEngine> MakeSocketEngine();

}  // namespace vudaduv::transport
