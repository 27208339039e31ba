#include "loopback_fleet.h"

#include <thread>
#include <vector>

#include "asio/executor_work_guard.hpp"
#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/read_until.hpp"
#include "asio/streambuf.hpp"
#include "asio/write.hpp"
#include "scripted_peer.h"

namespace transport_test {

namespace {

using asio::ip::tcp;

// One connection: reads a command line, answers it, and so on until the other side ends.
class FleetConnection : public std::enable_shared_from_this<FleetConnection> {
  public:
    FleetConnection(tcp::socket socket, std::string tag)
        : socket_(std::move(socket)), tag_(std::move(tag)) {}

    void ReadCommand() {
        asio::async_read_until(
            socket_, input_, '\n',
            [self = shared_from_this()](const asio::error_code& error, std::size_t length) {
                if (!error) self->Answer(length);
            });
    }

  private:
    void Answer(std::size_t length) {
        std::string command(asio::buffers_begin(input_.data()),
                            asio::buffers_begin(input_.data()) + static_cast<long>(length));
        input_.consume(length);
        reply_ = ScaleReply(command.substr(0, command.find_first_of("\r\n"))) + tag_ + "\r\n";
        asio::async_write(socket_, asio::buffer(reply_),
                          [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                              if (!error) self->ReadCommand();
                          });
    }

    tcp::socket socket_;
    std::string tag_;
    asio::streambuf input_;
    std::string reply_;
};

}  // namespace

struct LoopbackFleet::Impl {
    asio::io_context loop{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{loop.get_executor()};
    std::vector<tcp::acceptor> scales;
    std::thread thread;

    void Accept(std::size_t scale) {
        scales[scale].async_accept(
            [this, scale](const asio::error_code& error, tcp::socket socket) {
                if (error) return;  // the fleet is stopping
                std::make_shared<FleetConnection>(std::move(socket), Tag(scale))->ReadCommand();
                Accept(scale);
            });
    }
};

LoopbackFleet::LoopbackFleet(std::size_t scales) : impl_(std::make_unique<Impl>()) {
    for (std::size_t i = 0; i < scales; ++i) {
        impl_->scales.emplace_back(impl_->loop, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
        impl_->Accept(i);
    }
    impl_->thread = std::thread([this] { impl_->loop.run(); });
}

LoopbackFleet::~LoopbackFleet() {
    impl_->loop.stop();
    impl_->thread.join();
}

std::size_t LoopbackFleet::Size() const {
    return impl_->scales.size();
}

std::uint16_t LoopbackFleet::Port(std::size_t scale) const {
    return impl_->scales[scale].local_endpoint().port();
}

std::string LoopbackFleet::Tag(std::size_t scale) {
    return "s" + std::to_string(scale);
}

}  // namespace transport_test
