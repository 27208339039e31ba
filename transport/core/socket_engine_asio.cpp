// The engine over Asio: its event loop (I/O completion ports on Windows), a socket, a resolver
// and a timer per channel, and a serial port for a channel that serves a line. Every platform
// builds it; Windows runs on it.
#include <array>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/serial_port.hpp"
#include "asio/steady_timer.hpp"
#include "asio/write.hpp"
#include "core/reply_exchange.h"
#include "core/serial_line.h"
#include "core/socket_engine.h"
#include "core/socket_system.h"
#include "vudaduv_asio_loop.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

namespace {

using asio::ip::tcp;
// Bound to the loop's own executor type: every wait skips the type-erased executor's work.
using Executor = asio::io_context::executor_type;
using Socket = asio::basic_stream_socket<tcp, Executor>;
using Resolver = asio::ip::basic_resolver<tcp, Executor>;
using Timer = asio::basic_waitable_timer<EngineClock, asio::wait_traits<EngineClock>, Executor>;
using SerialPort = asio::basic_serial_port<Executor>;

// A held line's handle as the port takes it: a descriptor, or a HANDLE (a pointer).
template <typename Native = SerialPort::native_handle_type>
Native PortHandle(std::intptr_t handle) {
    if constexpr (std::is_pointer_v<Native>) {
        return reinterpret_cast<Native>(handle);
    } else {
        return static_cast<Native>(handle);
    }
}

// Each wait carries the generation it was started in: a wait of a connection closed since, or
// of an alarm set anew, completes (aborted) and tells nothing.
class AsioChannel final : public Channel {
  public:
    AsioChannel(asio::io_context& loop, ChannelEvents& owner)
        : owner_(owner), socket_(loop), resolver_(loop), timer_(loop), port_(loop) {}

    ~AsioChannel() override {
        Close();
        CancelAlarm();
    }

    void Resolve(const std::string& host, std::uint16_t port) override {
        resolver_.async_resolve(
            host, std::to_string(port), Resolver::numeric_service,
            [this, generation = connection_](const asio::error_code& error,
                                             const Resolver::results_type& results) {
                if (generation != connection_) return;
                std::vector<Endpoint> endpoints;
                try {
                    for (const auto& entry : results) endpoints.push_back(entry.endpoint());
                } catch (...) {
                    owner_.Resolved(asio::error::no_memory, {});
                    return;
                }
                owner_.Resolved(error, std::move(endpoints));
            });
    }

    std::error_code Connect(const Endpoint& endpoint) override {
        asio::error_code error;
        socket_.open(endpoint.protocol(), error);
        if (error) return error;
        net::KeepFromChildProcesses(static_cast<std::intptr_t>(socket_.native_handle()));
        socket_.set_option(tcp::no_delay(true), error);  // a nicety; fine if refused
        socket_.async_connect(endpoint,
                              [this, generation = connection_](const asio::error_code& failed) {
                                  if (generation != connection_) return;
                                  if (!failed) {
                                      // Writes are tried at once only on a socket that never blocks
                                      // the loop.
                                      asio::error_code blocking;
                                      socket_.non_blocking(true, blocking);
                                      writeAtOnce_ = !blocking;
                                  }
                                  owner_.Connected(failed);
                              });
        return {};
    }

    std::int32_t OpenLine(const std::string& device, std::uint32_t baud,
                          std::string& cause) override {
        Close();
        std::int32_t code = line_.Open(device, baud, cause);
        if (code != WQDS_OK) return code;
        asio::error_code error;
        port_.assign(PortHandle(line_.Handle()), error);
        if (error) {
            cause = error.message();
            line_.Close();
            return WQDS_INTERNAL;
        }
        onLine_ = true;
        return WQDS_OK;
    }

    void DiscardLineInput() noexcept override {
        ++connection_;  // the waits under way tell nothing
        asio::error_code ignored;
        port_.cancel(ignored);
        line_.DiscardInput();
    }

    // A command line almost always fits the socket's buffer: written at once, it waits for no
    // completion. A line's bytes go as the port completes them.
    WriteStatus Write(const char* bytes, std::size_t count, std::error_code& error) override {
        if (onLine_) {
            asio::async_write(
                port_, asio::buffer(bytes, count),
                [this, generation = connection_](const asio::error_code& failed, std::size_t) {
                    if (generation == connection_) owner_.Written(failed);
                });
            return WriteStatus::kPending;
        }
        std::size_t written = 0;
        if (writeAtOnce_) {
            written = socket_.write_some(asio::buffer(bytes, count), error);
            if (error && error != asio::error::would_block && error != asio::error::try_again) {
                return WriteStatus::kFailed;
            }
            error.clear();
            if (written == count) return WriteStatus::kDone;
        }
        asio::async_write(
            socket_, asio::buffer(bytes + written, count - written),
            [this, generation = connection_](const asio::error_code& failed, std::size_t) {
                if (generation == connection_) owner_.Written(failed);
            });
        return WriteStatus::kPending;
    }

    void Receive() override {
        auto told = [this, generation = connection_](const asio::error_code& error,
                                                     std::size_t received) {
            if (generation != connection_) return;
            if (error == asio::error::eof) {
                owner_.Received({}, piece_.data(), 0);
            } else {
                owner_.Received(error, piece_.data(), error ? 0 : received);
            }
        };
        if (onLine_) {
            port_.async_read_some(asio::buffer(piece_), told);
        } else {
            socket_.async_read_some(asio::buffer(piece_), told);
        }
    }

    void Close() noexcept override {
        ++connection_;
        asio::error_code ignored;
        socket_.close(ignored);
        if (onLine_) {
            line_.Release();  // its settings put back; the port closes it
            port_.close(ignored);
            onLine_ = false;
        }
        resolver_.cancel();
        writeAtOnce_ = false;
    }

    void SetAlarm(EngineClock::time_point when) override {
        timer_.expires_at(when);
        timer_.async_wait([this, generation = ++alarm_](const asio::error_code& error) {
            if (!error && generation == alarm_) owner_.AlarmRang();
        });
    }

    void CancelAlarm() noexcept override {
        ++alarm_;
        try {
            timer_.cancel();  // throws only on failures that a timer never reports
        } catch (...) {
            // the wait ends with the loop, and tells nothing
        }
    }

  private:
    ChannelEvents& owner_;
    std::uint64_t connection_ = 0;
    std::uint64_t alarm_ = 0;
    bool writeAtOnce_ = false;  // the socket is non-blocking: a write returns at once
    Socket socket_;
    Resolver resolver_;
    Timer timer_;
    SerialPort port_;
    serial::HeldLine line_;  // port_'s, when the channel serves a serial line
    bool onLine_ = false;
    // Asio fills a read's buffer while the loop runs on (on Windows): one per channel.
    std::array<char, ReplyLineReader::kReadPiece> piece_{};
};

class AsioEngine final : public SocketEngine {
  public:
    AsioEngine() : loop_(vudaduv::kLoopConcurrency) {}

    std::unique_ptr<Channel> NewChannel(ChannelEvents& owner) override {
        return std::make_unique<AsioChannel>(loop_, owner);
    }

    void Run() override {
        loop_.restart();
        loop_.run();
    }

    void Stop() noexcept override { loop_.stop(); }

  private:
    asio::io_context loop_;
};

}  // namespace

std::unique_ptr<SocketEngine> MakeAsioEngine() {
    return std::make_unique<AsioEngine>();
}

}  // namespace vudaduv::transport
