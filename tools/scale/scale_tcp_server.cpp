// The virtual scale over TCP: every scale it serves, every connection and every reply delay on
// one event loop, run by one thread, however many scales and connections there are.
#include <asio.hpp>

#include <array>
#include <list>
#include <thread>

#include "scale_line_reader.h"
#include "scale_platform.h"
#include "scale_socket.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

namespace {

using asio::ip::tcp;

constexpr std::size_t kReadChunk = 4096;

// A failed accept (out of files, say) is tried again after a pause rather than at once, which
// would spin while the connection waits in the backlog.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(50);

// What serving count scales takes of the open-file limit: a listener and one connection each,
// and some to spare for the rest of the process.
constexpr std::size_t kFilesPerScale = 2;
constexpr std::size_t kSpareFiles = 32;

std::vector<ScaleMemory*> OneMemory(ScaleMemory& memory) {
    return {&memory};
}

// One connection: reads command lines, answers them through the reader and sends each reply,
// after the reply delay, before it reads on, as a scale that answers one command at a time.
// Lives as long as one of its operations is pending.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, ScaleMemory& memory, std::chrono::milliseconds replyDelay)
        : socket_(std::move(socket)),
          delayTimer_(socket_.get_executor()),
          reader_(memory),
          replyDelay_(replyDelay) {}

    void Start() { ReadMore(); }

    void Close() {
        asio::error_code ignored;
        socket_.close(ignored);
        delayTimer_.cancel();
    }

  private:
    void ReadMore() {
        socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](
                                                           asio::error_code error, std::size_t got) {
            if (error) return;  // the peer went, or the server stops
            self->replies_ = self->reader_.Answers(std::string_view(self->buffer_.data(), got));
            self->replied_ = 0;
            self->ReplyNext();
        });
    }

    void ReplyNext() {
        if (replied_ == replies_.size()) return ReadMore();
        if (replyDelay_.count() == 0) return WriteNext();
        delayTimer_.expires_after(replyDelay_);
        delayTimer_.async_wait([self = shared_from_this()](asio::error_code error) {
            if (!error) self->WriteNext();
        });
    }

    // Without a delay every pending reply goes at once; with one, a line at a time.
    void WriteNext() {
        std::size_t end = replies_.size();
        if (replyDelay_.count() != 0) {
            std::size_t lineEnd = replies_.find('\n', replied_);
            if (lineEnd != std::string::npos) end = lineEnd + 1;
        }
        asio::async_write(socket_, asio::buffer(replies_.data() + replied_, end - replied_),
                          [self = shared_from_this()](asio::error_code error, std::size_t sent) {
                              if (error) return;
                              self->replied_ += sent;
                              self->ReplyNext();
                          });
    }

    tcp::socket socket_;
    asio::steady_timer delayTimer_;
    CommandLineReader reader_;
    std::chrono::milliseconds replyDelay_;
    std::array<char, kReadChunk> buffer_{};
    std::string replies_;
    std::size_t replied_ = 0;
};

struct Listener {
    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    ScaleMemory& memory;

    Listener(asio::io_context& loop, ScaleMemory& m) : acceptor(loop), retryTimer(loop), memory(m) {}
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

std::string ShowAddress(const std::string& host, uint16_t port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

struct TcpScaleServer::Impl {
    std::vector<ScaleMemory*> memories;
    ServerOptions options;
    std::vector<uint16_t> ports;
    std::unique_ptr<asio::io_context> loop;
    std::vector<std::unique_ptr<Listener>> listeners;
    std::list<std::weak_ptr<Connection>> connections;  // touched on the loop's thread only
    std::size_t pruneAt = 0;
    std::thread thread;

    Impl(std::vector<ScaleMemory*> m, ServerOptions o)
        : memories(std::move(m)), options(std::move(o)) {}

    bool EnoughFiles(std::string& error) const {
        std::size_t wanted = kFilesPerScale * memories.size() + kSpareFiles;
        std::size_t limit = platform::RaiseOpenFileLimit(wanted);
        if (limit >= wanted) return true;
        error = "serving " + std::to_string(memories.size()) + " scale(s) takes " +
                std::to_string(wanted) +
                " open files (a listener and a connection each), but this process may open " +
                "only " + std::to_string(limit);
        return false;
    }

    // The scales' ports: consecutive from the one asked for, or all free ones (0).
    bool PortsFit(std::string& error) const {
        if (options.port == 0 || options.port + (memories.size() - 1) <= 65535) return true;
        error = std::to_string(memories.size()) + " consecutive ports from " +
                std::to_string(options.port) + " go past 65535";
        return false;
    }

    bool Listen(Listener& listener, const tcp::endpoint& endpoint, std::string& error) {
        tcp::acceptor& acceptor = listener.acceptor;
        asio::error_code failure;
        const char* step = "socket";
        acceptor.open(endpoint.protocol(), failure);
        if (!failure) {
            platform::PrepareToListen(acceptor.native_handle());
            step = "bind";
            acceptor.bind(endpoint, failure);
        }
        if (!failure) {
            step = "listen";
            acceptor.listen(asio::socket_base::max_listen_connections, failure);
        }
        if (!failure) return true;
        error = "cannot listen on " + ShowAddress(options.host, endpoint.port()) + ": " + step +
                ": " + failure.message();
        return false;
    }

    bool ListenAll(std::string& error) {
        asio::error_code failure;
        asio::ip::address address = asio::ip::make_address(options.host, failure);
        if (failure) {
            error = "cannot listen on " + options.host + ": not a numeric IPv4 or IPv6 address";
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
        loop.reset();
    }

    void Accept(Listener& listener) {
        listener.acceptor.async_accept([this, &listener](asio::error_code error,
                                                         tcp::socket socket) {
            if (!listener.acceptor.is_open()) return;
            if (error) {
                listener.retryTimer.expires_after(kAcceptRetryPause);
                listener.retryTimer.async_wait([this, &listener](asio::error_code stopped) {
                    if (!stopped) Accept(listener);
                });
                return;
            }
            auto connection = std::make_shared<Connection>(std::move(socket), listener.memory,
                                                           options.replyDelay);
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
        for (auto& weak : connections) {
            if (std::shared_ptr<Connection> connection = weak.lock()) connection->Close();
        }
    }
};

TcpScaleServer::TcpScaleServer(ScaleMemory& memory, ServerOptions options)
    : TcpScaleServer(OneMemory(memory), std::move(options)) {}

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
    if (impl.memories.empty()) {
        error = "no scale to serve";
        return false;
    }
    impl.ports.clear();
    impl.loop = std::make_unique<asio::io_context>(1);
    if (!impl.PortsFit(error) || !impl.EnoughFiles(error) || !impl.ListenAll(error)) {
        impl.ports.clear();
        impl.Forget();
        return false;
    }
    for (auto& listener : impl.listeners) impl.Accept(*listener);
    impl.thread = std::thread([loop = impl.loop.get()] { RunUntilDone(*loop); });
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

ScaleFleet::ScaleFleet(std::size_t count, ServerOptions options)
    : memories_(MakeMemories(count, options.mode)),
      server_(MemoriesOf(memories_), std::move(options)) {}

std::vector<std::unique_ptr<ScaleMemory>> ScaleFleet::MakeMemories(std::size_t count,
                                                                   TextMode mode) {
    std::vector<std::unique_ptr<ScaleMemory>> memories;
    memories.reserve(count);
    for (std::size_t i = 0; i < count; ++i) memories.push_back(std::make_unique<ScaleMemory>(mode));
    return memories;
}

std::vector<ScaleMemory*> ScaleFleet::MemoriesOf(
    const std::vector<std::unique_ptr<ScaleMemory>>& memories) {
    std::vector<ScaleMemory*> pointers;
    for (const auto& memory : memories) pointers.push_back(memory.get());
    return pointers;
}

}  // namespace vudaduv::scale
