// The virtual scale over TCP on Asio, for the systems without the epoll loop of
// scale_tcp_server_linux.cpp: every scale it serves, every connection and every reply delay on
// one event loop, run by one thread, however many scales and connections there are.
//
// A fleet of thousands must cost less CPU per reply than whatever talks to it, or a test at that
// size measures the fleet. So the path of a reply takes no timer of its own and no allocation:
// the delay is the same for every reply, so the replies waiting for it are due in the order they
// were queued, and one queue and one timer serve them all; a reply is written at once, without
// waiting for the socket, which almost always takes a short line whole.
#include <array>
#include <asio.hpp>
#include <list>

#include "scale_platform.h"
#include "scale_tcp_server_common.h"
#include "vudaduv_asio_loop.h"

namespace vudaduv::scale {

namespace {

using asio::ip::tcp;

constexpr std::size_t kReadChunk = 4096;

class Connection;

// The replies waiting for the reply delay, and the one timer that wakes the loop for the first.
class DelayQueue {
  public:
    explicit DelayQueue(asio::io_context& loop) : timer_(loop) {}

    void Add(std::shared_ptr<Connection> connection, Clock::time_point due);
    void Clear() {
        waiting_.Clear();
        timer_.cancel();
    }

  private:
    void Arm();
    void SendDue();

    asio::steady_timer timer_;
    DueQueue<std::shared_ptr<Connection>> waiting_;
    bool armed_ = false;
};

// One connection's socket and its pending operations; its replies are ScaleConnection's. Lives
// as long as one of its operations is pending or it waits in the delay queue.
//
// A read is always pending while the peer may send, so that no readiness the loop reports is
// lost; it pauses only while the peer does not take the replies (they would pile up), and the
// first read after a pause looks at the socket at once.
class Connection : public ScaleConnection<Connection>,
                   public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, ScaleMemory& memory, std::chrono::milliseconds replyDelay,
               DelayQueue& delays)
        : ScaleConnection(memory, replyDelay), socket_(std::move(socket)), delays_(delays) {
        asio::error_code ignored;
        socket_.non_blocking(true, ignored);
        socket_.set_option(tcp::no_delay(true), ignored);
    }

    void Start() { WaitForCommands(); }

    void Close() {
        asio::error_code ignored;
        socket_.close(ignored);
    }

    // The socket calls of ScaleConnection.

    bool TrySend(std::string_view bytes, std::size_t& sent) {
        asio::error_code error;
        sent = socket_.write_some(asio::buffer(bytes.data(), bytes.size()), error);
        return !error || error == asio::error::would_block || error == asio::error::try_again;
    }

    // The rest goes from a copy: the replies may grow meanwhile (a read under way still answers
    // what it took), which would move them under the pending write.
    void WaitForRoom() {
        rest_.assign(Unwritten());
        asio::async_write(socket_, asio::buffer(rest_),
                          [self = shared_from_this()](asio::error_code failed, std::size_t more) {
                              if (failed) return self->Abandon();
                              self->Wrote(more);
                          });
    }

    void WaitForDelay(Clock::time_point due) { delays_.Add(shared_from_this(), due); }

    void RepliesSent() {
        if (paused_ && !ended_) {
            paused_ = false;
            ReadNow();
        }
    }

    // The peer takes no more replies: the connection ends once nothing of it is pending.
    void Abandon() {
        ended_ = true;
        Close();
    }

  private:
    // Asio's reactors (epoll, kqueue, select) try a read at once when one is started, which
    // costs a system call that finds nothing for every command; waiting for readiness first
    // does not. With completion ports a read is what waits.
#if defined(ASIO_HAS_IOCP)
    void WaitForCommands() {
        socket_.async_read_some(
            asio::buffer(buffer_),
            [self = shared_from_this()](asio::error_code error, std::size_t got) {
                if (error) return self->EndOfCommands();
                self->Take(std::string_view(self->buffer_.data(), got));
                self->ReadOn();
            });
    }

    void ReadNow() {
        WaitForCommands();
    }
#else
    void WaitForCommands() {
        socket_.async_wait(tcp::socket::wait_read,
                           [self = shared_from_this()](asio::error_code error) {
                               if (error) return self->EndOfCommands();
                               self->ReadNow();
                           });
    }

    // A read shorter than the buffer took everything there was; what comes later makes the
    // socket ready again.
    void ReadNow() {
        for (;;) {
            asio::error_code error;
            std::size_t got = socket_.read_some(asio::buffer(buffer_), error);
            if (error == asio::error::would_block || error == asio::error::try_again) break;
            if (error) return EndOfCommands();
            Take(std::string_view(buffer_.data(), got));
            if (got < buffer_.size()) break;
        }
        ReadOn();
    }
#endif

    void ReadOn() {
        if (PileUp()) {
            paused_ = true;
        } else {
            WaitForCommands();
        }
    }

    // The peer sends no more (or went): the replies owed still go.
    void EndOfCommands() {
        ended_ = true;
    }

    tcp::socket socket_;
    DelayQueue& delays_;
    std::array<char, kReadChunk> buffer_{};
    std::string rest_;     // what a write that waits for room has yet to send
    bool paused_ = false;  // no read pending, for the pile of replies
    bool ended_ = false;   // no read pending, for good
};

void DelayQueue::Add(std::shared_ptr<Connection> connection, Clock::time_point due) {
    waiting_.Add(std::move(connection), due);
    if (!armed_) Arm();
}

void DelayQueue::Arm() {
    armed_ = true;
    timer_.expires_at(waiting_.NextDue());
    timer_.async_wait([this](asio::error_code error) {
        armed_ = false;
        if (!error) SendDue();
    });
}

// Every reply due by now goes; a connection whose next line waits again goes back at the end
// of the queue, where its due time belongs.
void DelayQueue::SendDue() {
    Clock::time_point now = Clock::now();
    std::shared_ptr<Connection> connection;
    while (waiting_.TakeDue(now, connection)) connection->SendNextLine(now);
    if (!waiting_.Empty() && !armed_) Arm();
}

struct Listener {
    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    ScaleMemory& memory;

    Listener(asio::io_context& loop, ScaleMemory& m)
        : acceptor(loop), retryTimer(loop), memory(m) {}
};

class AsioEngine final : public TcpServerEngine {
  public:
    explicit AsioEngine(std::chrono::milliseconds delay) : replyDelay_(delay) {}

    bool Listen(const std::vector<ScaleMemory*>& memories, const ServerOptions& options,
                std::vector<uint16_t>& ports, std::string& error) override {
        asio::error_code failure;
        asio::ip::address address = asio::ip::make_address(options.host, failure);
        if (failure) {
            error = NotAnAddress(options.host);
            return false;
        }
        for (std::size_t i = 0; i < memories.size(); ++i) {
            listeners_.push_back(std::make_unique<Listener>(loop_, *memories[i]));
            tcp::endpoint endpoint(address, ScalePort(options.port, i));
            if (!ListenOn(*listeners_.back(), endpoint, options.host, error)) return false;
            ports.push_back(listeners_.back()->acceptor.local_endpoint(failure).port());
        }
        for (auto& listener : listeners_) Accept(*listener);
        return true;
    }

    // A handler that fails (out of memory) loses its connection, not the whole server.
    void Run() override {
        for (;;) {
            try {
                loop_.run();
                return;
            } catch (const std::exception&) {
            }
        }
    }

    // With nothing left to wait for, the loop's thread returns.
    void Halt() override {
        asio::post(loop_, [this] { CloseAll(); });
    }

    void Post(std::function<void()> task) override { asio::post(loop_, std::move(task)); }

  private:
    bool ListenOn(Listener& listener, const tcp::endpoint& endpoint, const std::string& host,
                  std::string& error) {
        tcp::acceptor& acceptor = listener.acceptor;
        asio::error_code failure;
        const char* step = "socket";
        acceptor.open(endpoint.protocol(), failure);
        if (!failure) {
            platform::PrepareToListen(static_cast<std::uintptr_t>(acceptor.native_handle()));
            step = "bind";
            acceptor.bind(endpoint, failure);
        }
        if (!failure) {
            step = "listen";
            acceptor.listen(asio::socket_base::max_listen_connections, failure);
        }
        if (!failure) return true;
        error = CannotListen(host, endpoint.port(), step, failure.message());
        return false;
    }

    void Accept(Listener& listener) {
        listener.acceptor.async_accept(
            [this, &listener](asio::error_code error, tcp::socket socket) {
                if (!listener.acceptor.is_open()) return;
                if (error) {
                    listener.retryTimer.expires_after(kAcceptRetryPause);
                    listener.retryTimer.async_wait([this, &listener](asio::error_code stopped) {
                        if (!stopped) Accept(listener);
                    });
                    return;
                }
                auto connection = std::make_shared<Connection>(std::move(socket), listener.memory,
                                                               replyDelay_, delays_);
                Remember(connection);
                connection->Start();
                Accept(listener);
            });
    }

    // Keeps a handle on every open connection for CloseAll, dropping the ended ones now and
    // then, so the list stays within twice the open ones.
    void Remember(const std::shared_ptr<Connection>& connection) {
        if (connections_.size() >= pruneAt_) {
            connections_.remove_if([](const std::weak_ptr<Connection>& c) { return c.expired(); });
            pruneAt_ = 2 * connections_.size() + 16;
        }
        connections_.push_back(connection);
    }

    void CloseAll() {
        for (auto& listener : listeners_) {
            asio::error_code ignored;
            listener->acceptor.close(ignored);
            listener->retryTimer.cancel();
        }
        delays_.Clear();
        for (auto& weak : connections_) {
            if (std::shared_ptr<Connection> connection = weak.lock()) connection->Close();
        }
    }

    // The loop goes last: the sockets and timers below are its.
    const std::chrono::milliseconds replyDelay_;
    asio::io_context loop_{vudaduv::kLoopConcurrency};
    DelayQueue delays_{loop_};
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::list<std::weak_ptr<Connection>> connections_;  // touched on the loop's thread only
    std::size_t pruneAt_ = 0;
};

}  // namespace

std::unique_ptr<TcpServerEngine> MakeTcpServerEngine(const ServerOptions& options) {
    return std::make_unique<AsioEngine>(options.replyDelay);
}

}  // namespace vudaduv::scale
