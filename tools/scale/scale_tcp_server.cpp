// The virtual scale over TCP: one thread accepts, one thread per connection answers.
#include <list>
#include <mutex>
#include <thread>

#include "scale_line_reader.h"
#include "scale_platform.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

namespace {

struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

}  // namespace

struct TcpScaleServer::Impl {
    ScaleMemory& memory;
    ServerOptions options;
    std::unique_ptr<platform::TcpListener> listener;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::list<Connection> connections;  // touched by the acceptor, then by Stop after the join

    Impl(ScaleMemory& m, ServerOptions o) : memory(m), options(std::move(o)) {}

    void JoinFinishedConnections() {
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Serve(std::unique_ptr<platform::Stream> stream) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([this, done, owned = std::move(stream)]() {
            ServeStream(memory, *owned, stopping);
            done->store(true);
        });
        connections.push_back(Connection{std::move(thread), done});
    }

    void AcceptUntilStopped() {
        while (!stopping.load()) {
            std::unique_ptr<platform::Stream> stream = listener->Accept(kServeTickMs);
            JoinFinishedConnections();
            if (stream) Serve(std::move(stream));
        }
    }
};

TcpScaleServer::TcpScaleServer(ScaleMemory& memory, ServerOptions options)
    : impl_(std::make_unique<Impl>(memory, std::move(options))) {}

TcpScaleServer::~TcpScaleServer() {
    Stop();
}

bool TcpScaleServer::Start(std::string& error) {
    if (impl_->acceptor.joinable()) {
        error = "the scale is already listening";
        return false;
    }
    impl_->listener = platform::ListenTcp(impl_->options.host, impl_->options.port, error);
    if (!impl_->listener) return false;
    impl_->port = impl_->listener->Port();
    impl_->stopping.store(false);
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->AcceptUntilStopped(); });
    return true;
}

uint16_t TcpScaleServer::Port() const {
    return impl_->port;
}

void TcpScaleServer::Stop() {
    impl_->stopping.store(true);
    if (impl_->acceptor.joinable()) impl_->acceptor.join();
    for (Connection& connection : impl_->connections) connection.thread.join();
    impl_->connections.clear();
    impl_->listener.reset();
}

}  // namespace vudaduv::scale
