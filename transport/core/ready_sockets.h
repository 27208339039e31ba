// Linux: the connected sockets of one send, watched by an epoll set of their own that the event
// loop waits on as one descriptor.
//
// Asio reads a socket at once whenever a read starts and waits for readiness only when that read
// finds nothing; a command's reply is never there yet when the command has just gone, so every
// command cost a read that found nothing, and waiting for readiness instead costs a change of the
// loop's epoll set per command. Here each connection joins the set once, edge-triggered, and is
// read only when the set says bytes came: one read per reply, one wait of the loop per batch of
// ready sockets. Connecting, resolving and the time-outs stay with Asio.
#pragma once

#ifdef __linux__

#include <sys/epoll.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <system_error>

#include "asio/io_context.hpp"
#include "asio/posix/basic_stream_descriptor.hpp"
#include "core/reply_exchange.h"

namespace vudaduv::transport {

class ReadySockets {
  public:
    // Told what epoll reported for its socket (EPOLLIN, EPOLLOUT, EPOLLERR, EPOLLHUP, ...).
    class Watcher {
      public:
        virtual void OnReady(std::uint32_t events) noexcept = 0;

      protected:
        ~Watcher() = default;
    };

    // Throws std::system_error when the system gives no epoll set.
    explicit ReadySockets(asio::io_context& loop);
    ~ReadySockets();
    ReadySockets(const ReadySockets&) = delete;
    ReadySockets& operator=(const ReadySockets&) = delete;

    // Watches a connected socket for reading and writing until Forget; the watcher is told of
    // every change from now on, and of the socket's state at once when bytes are already there.
    std::error_code Watch(int socket, Watcher& watcher);

    // One piece for every read on the loop's thread, whose bytes are taken at once: the
    // watchers keep no buffer of their own, so thousands of them stay small.
    std::array<char, ReplyLineReader::kReadPiece>& ReadPiece() { return readPiece_; }

    // Before the socket is closed: no word of it reaches its watcher any more, not even one
    // already taken from the set.
    void Forget(int socket, const Watcher& watcher) noexcept;

  private:
    static constexpr int kEventsPerWait = 256;

    void Await();
    void TellReady() noexcept;

    using Descriptor = asio::posix::basic_stream_descriptor<asio::io_context::executor_type>;

    int set_ = -1;
    Descriptor descriptor_;
    std::size_t watched_ = 0;
    bool awaiting_ = false;
    // The batch being told, and how far: a watcher forgotten meanwhile is struck from the rest.
    std::array<epoll_event, kEventsPerWait> batch_{};
    int told_ = 0;
    int taken_ = 0;
    std::array<char, ReplyLineReader::kReadPiece> readPiece_{};
};

}  // namespace vudaduv::transport

#endif
