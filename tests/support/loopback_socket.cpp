#include "loopback_socket.h"

#include <array>
#include <asio.hpp>
#include <chrono>

namespace vudaduv::testing {

using asio::ip::tcp;

struct LoopbackStream::Impl {
    asio::io_context io{1};
    tcp::socket socket{io};
};

LoopbackStream::LoopbackStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

LoopbackStream::~LoopbackStream() = default;

// A read that runs out of time is cancelled; bytes it took meanwhile still count.
ReadStatus LoopbackStream::Read(std::string& out, int waitMs) {
    std::array<char, 4096> buffer;
    asio::error_code failure = asio::error::would_block;
    std::size_t got = 0;
    impl_->socket.async_read_some(asio::buffer(buffer),
                                  [&](asio::error_code error, std::size_t count) {
                                      failure = error;
                                      got = count;
                                  });
    impl_->io.restart();
    impl_->io.run_for(std::chrono::milliseconds(waitMs));
    if (!impl_->io.stopped()) {
        asio::error_code ignored;
        impl_->socket.cancel(ignored);
        impl_->io.restart();
        impl_->io.run();
    }
    out.append(buffer.data(), got);
    if (got > 0) return ReadStatus::kData;
    if (!failure || failure == asio::error::operation_aborted) return ReadStatus::kNothingYet;
    return ReadStatus::kClosed;
}

bool LoopbackStream::Write(std::string_view bytes) {
    asio::error_code failure;
    asio::write(impl_->socket, asio::buffer(bytes.data(), bytes.size()), failure);
    return !failure;
}

bool LoopbackStream::EndWrites() {
    asio::error_code failure;
    impl_->socket.shutdown(tcp::socket::shutdown_send, failure);
    return !failure;
}

std::unique_ptr<LoopbackStream> ConnectTcp(const std::string& host, uint16_t port,
                                           std::string& error) {
    asio::error_code failure;
    asio::ip::address address = asio::ip::make_address(host, failure);
    auto impl = std::make_unique<LoopbackStream::Impl>();
    if (!failure) impl->socket.connect(tcp::endpoint(address, port), failure);
    if (failure) {
        error = "connect to " + host + ":" + std::to_string(port) + ": " + failure.message();
        return nullptr;
    }
    return std::unique_ptr<LoopbackStream>(new LoopbackStream(std::move(impl)));
}

struct HeldPort::Impl {
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
};

HeldPort::HeldPort(std::unique_ptr<Impl> impl, uint16_t port)
    : impl_(std::move(impl)), port_(port) {}

HeldPort::~HeldPort() = default;

// Without SO_REUSEADDR: a port that another socket holds is not taken.
std::unique_ptr<HeldPort> ListenTcp(const std::string& host, uint16_t port, std::string& error) {
    asio::error_code failure;
    asio::ip::address address = asio::ip::make_address(host, failure);
    auto impl = std::make_unique<HeldPort::Impl>();
    tcp::endpoint endpoint(address, port);
    if (!failure) impl->acceptor.open(endpoint.protocol(), failure);
    if (!failure) impl->acceptor.bind(endpoint, failure);
    if (!failure) impl->acceptor.listen(asio::socket_base::max_listen_connections, failure);
    tcp::endpoint bound;
    if (!failure) bound = impl->acceptor.local_endpoint(failure);
    if (failure) {
        error = "listen on " + host + ":" + std::to_string(port) + ": " + failure.message();
        return nullptr;
    }
    return std::unique_ptr<HeldPort>(new HeldPort(std::move(impl), bound.port()));
}

bool LocalhostIsLoopback() {
    asio::io_context io{1};
    tcp::resolver resolver(io);
    asio::error_code failure;
    auto results = resolver.resolve("localhost", "", failure);
    if (failure) return false;
    for (const auto& entry : results) {
        if (entry.endpoint().address() == asio::ip::make_address_v4("127.0.0.1")) return true;
    }
    return false;
}

}  // namespace vudaduv::testing
