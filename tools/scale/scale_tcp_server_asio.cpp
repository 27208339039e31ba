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
#include <deque>
#include <future>
#include <list>
#include <thread>

#include "scale_line_reader.h"
#include "scale_platform.h"
#include "scale_tcp_server_common.h"
#include "virtual_scale.h"
#include "vudaduv_asio_loop.h"

namespace vudaduv::scale {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;

class Connection;

// The replies waiting for the reply delay, in the order they fall due, and the one timer that
// wakes the loop for the first of them.
class DelayQueue {
  public:
    DelayQueue(asio::io_context& loop, std::chrono::milliseconds delay)
        : timer_(loop), delay_(delay) {}

    std::chrono::milliseconds Delay() const { return delay_; }
    void Add(std::shared_ptr<Connection> connection, Clock::time_point now);
    void Clear() {
        waiting_.clear();
        timer_.cancel();
    }

  private:
    struct Waiting {
        Clock::time_point due;
        std::shared_ptr<Connection> connection;
    };

    void Arm();
    void SendDue();

    asio::steady_timer timer_;
    std::chrono::milliseconds delay_;
    std::deque<Waiting> waiting_;
    bool armed_ = false;
};

// One connection: reads command lines as they come, answers them through the reader and sends
// each reply after the reply delay, in order, as a scale that answers one command at a time.
// Lives as long as one of its operations is pending or it waits in the delay queue.
//
// A read is always pending while the peer may send, so that no readiness the loop reports is
// lost; it pauses only while the peer does not take the replies (they would pile up), and the
// first read after a pause looks at the socket at once.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, ScaleMemory& memory, DelayQueue& delays)
        : socket_(std::move(socket)), reader_(memory), delays_(delays) {
        asio::error_code ignored;
        socket_.non_blocking(true, ignored);
        socket_.set_option(tcp::no_delay(true), ignored);
    }

    void Start() { WaitForCommands(); }

    void Close() {
        asio::error_code ignored;
        socket_.close(ignored);
    }

    // The reply delay of the next line is over.
    void SendNextLine(Clock::time_point now) {
        std::size_t lineEnd = replies_.find('\n', replied_);
        std::size_t end = lineEnd == std::string::npos ? replies_.size() : lineEnd + 1;
        Write(end, now);
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
                self->Take(got);
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
            Take(got);
            if (got < buffer_.size()) break;
        }
        ReadOn();
    }
#endif

    void Take(std::size_t got) {
        reader_.AppendAnswers(std::string_view(buffer_.data(), got), replies_);
        if (!replying_ && replied_ < replies_.size()) {
            replying_ = true;
            ReplyNext(Clock::now());
        }
    }

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

    // Unsent replies the peer is not taking.
    bool PileUp() const {
        return writing_ || replies_.size() - replied_ > kMaxUnsentReplies;
    }

    void ReplyNext(Clock::time_point now) {
        if (replied_ == replies_.size()) return RepliesSent();
        if (delays_.Delay().count() == 0) return Write(replies_.size(), now);
        delays_.Add(shared_from_this(), now);
    }

    void RepliesSent() {
        replies_.clear();
        replied_ = 0;
        replying_ = false;
        if (paused_ && !ended_) {
            paused_ = false;
            ReadNow();
        }
    }

    // Writes the replies up to end: at once as far as the socket takes them, the rest when it
    // can take more (reading pauses meanwhile, so the replies stay where the write left them).
    void Write(std::size_t end, Clock::time_point now) {
        asio::error_code error;
        std::size_t sent =
            socket_.write_some(asio::buffer(replies_.data() + replied_, end - replied_), error);
        if (error && error != asio::error::would_block && error != asio::error::try_again) {
            return Abandon();
        }
        replied_ += sent;
        if (replied_ == end) return ReplyNext(now);
        writing_ = true;
        asio::async_write(socket_, asio::buffer(replies_.data() + replied_, end - replied_),
                          [self = shared_from_this()](asio::error_code failed, std::size_t more) {
                              self->writing_ = false;
                              if (failed) return self->Abandon();
                              self->replied_ += more;
                              self->ReplyNext(Clock::now());
                          });
    }

    // The peer takes no more replies: the connection ends once nothing of it is pending.
    void Abandon() {
        ended_ = true;
        asio::error_code ignored;
        socket_.close(ignored);
    }

    tcp::socket socket_;
    CommandLineReader reader_;
    DelayQueue& delays_;
    std::array<char, kReadChunk> buffer_{};
    std::string replies_;
    std::size_t replied_ = 0;
    bool replying_ = false;  // in the delay queue or writing
    bool writing_ = false;   // a write waits for room in the socket
    bool paused_ = false;    // no read pending, for the pile of replies
    bool ended_ = false;     // no read pending, for good
};

void DelayQueue::Add(std::shared_ptr<Connection> connection, Clock::time_point now) {
    waiting_.push_back({now + delay_, std::move(connection)});
    if (!armed_) Arm();
}

void DelayQueue::Arm() {
    armed_ = true;
    timer_.expires_at(waiting_.front().due);
    timer_.async_wait([this](asio::error_code error) {
        armed_ = false;
        if (!error) SendDue();
    });
}

// Every reply due by now goes; a connection whose next line waits again goes back at the end
// of the queue, where its due time belongs.
void DelayQueue::SendDue() {
    Clock::time_point now = Clock::now();
    while (!waiting_.empty() && waiting_.front().due <= now) {
        std::shared_ptr<Connection> connection = std::move(waiting_.front().connection);
        waiting_.pop_front();
        connection->SendNextLine(now);
    }
    if (!waiting_.empty() && !armed_) Arm();
}

struct Listener {
    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    ScaleMemory& memory;

    Listener(asio::io_context& loop, ScaleMemory& m)
        : acceptor(loop), retryTimer(loop), memory(m) {}
};

// A handler that fails (out of memory) loses its connection, not the whole server.
void RunUntilDone(asio::io_context& loop) {
    for (;;) {
        try {
            loop.run();
            return;
        } catch (const std::exception&) {
        }
    }
}

}  // namespace

struct TcpScaleServer::Impl {
    std::vector<ScaleMemory*> memories;
    ServerOptions options;
    std::vector<uint16_t> ports;
    std::unique_ptr<asio::io_context> loop;
    std::unique_ptr<DelayQueue> delays;
    std::vector<std::unique_ptr<Listener>> listeners;
    std::list<std::weak_ptr<Connection>> connections;  // touched on the loop's thread only
    std::size_t pruneAt = 0;
    std::thread thread;
    std::chrono::nanoseconds lastCpuTime{0};  // the loop's thread's, written as it ends

    Impl(std::vector<ScaleMemory*> m, ServerOptions o)
        : memories(std::move(m)), options(std::move(o)) {}

    bool Listen(Listener& listener, const tcp::endpoint& endpoint, std::string& error) {
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
        error = CannotListen(options.host, endpoint.port(), step, failure.message());
        return false;
    }

    bool ListenAll(std::string& error) {
        asio::error_code failure;
        asio::ip::address address = asio::ip::make_address(options.host, failure);
        if (failure) {
            error = NotAnAddress(options.host);
            return false;
        }
        for (std::size_t i = 0; i < memories.size(); ++i) {
            uint16_t port = options.port == 0 ? 0 : static_cast<uint16_t>(options.port + i);
            listeners.push_back(std::make_unique<Listener>(*loop, *memories[i]));
            if (!Listen(*listeners.back(), tcp::endpoint(address, port), error)) return false;
            ports.push_back(listeners.back()->acceptor.local_endpoint(failure).port());
        }
        return true;
    }

    void Forget() {
        listeners.clear();
        connections.clear();
        delays.reset();
        loop.reset();
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
                auto connection =
                    std::make_shared<Connection>(std::move(socket), listener.memory, *delays);
                Remember(connection);
                connection->Start();
                Accept(listener);
            });
    }

    // Keeps a handle on every open connection for CloseAll, dropping the ended ones now and
    // then, so the list stays within twice the open ones.
    void Remember(const std::shared_ptr<Connection>& connection) {
        if (connections.size() >= pruneAt) {
            connections.remove_if([](const std::weak_ptr<Connection>& c) { return c.expired(); });
            pruneAt = 2 * connections.size() + 16;
        }
        connections.push_back(connection);
    }

    // Runs on the loop: with nothing left to wait for, the loop's thread returns.
    void CloseAll() {
        for (auto& listener : listeners) {
            asio::error_code ignored;
            listener->acceptor.close(ignored);
            listener->retryTimer.cancel();
        }
        delays->Clear();
        for (auto& weak : connections) {
            if (std::shared_ptr<Connection> connection = weak.lock()) connection->Close();
        }
    }
};

TcpScaleServer::TcpScaleServer(std::vector<ScaleMemory*> memories, ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(memories), std::move(options))) {}

TcpScaleServer::~TcpScaleServer() {
    Stop();
}

bool TcpScaleServer::Start(std::string& error) {
    Impl& impl = *impl_;
    if (impl.thread.joinable()) {
        error = "the scale is already listening";
        return false;
    }
    impl.ports.clear();
    impl.loop = std::make_unique<asio::io_context>(vudaduv::kLoopConcurrency);
    impl.delays = std::make_unique<DelayQueue>(*impl.loop, impl.options.replyDelay);
    if (!MayServe(impl.options.port, impl.memories.size(), error) || !impl.ListenAll(error)) {
        impl.ports.clear();
        impl.Forget();
        return false;
    }
    for (auto& listener : impl.listeners) impl.Accept(*listener);
    impl.thread = std::thread([&impl] {
        RunUntilDone(*impl.loop);
        impl.lastCpuTime = platform::ThreadCpuTime();
    });
    return true;
}

uint16_t TcpScaleServer::Port() const {
    return impl_->ports.empty() ? 0 : impl_->ports.front();
}

const std::vector<uint16_t>& TcpScaleServer::Ports() const {
    return impl_->ports;
}

void TcpScaleServer::Stop() {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) return;
    asio::post(*impl.loop, [&impl] { impl.CloseAll(); });
    impl.thread.join();
    impl.Forget();
}

std::chrono::nanoseconds TcpScaleServer::CpuTime() const {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) return impl.lastCpuTime;
    std::promise<std::chrono::nanoseconds> reading;
    std::future<std::chrono::nanoseconds> read = reading.get_future();
    asio::post(*impl.loop, [&reading] { reading.set_value(platform::ThreadCpuTime()); });
    return read.get();
}

}  // namespace vudaduv::scale
