// The scripted scale over Asio: one event loop on a thread, one read-answer chain a connection.
#include <asio.hpp>

#include "tool_process.h"

namespace vudaduv::cli::test {

namespace {

using Answer = std::function<std::string(const std::string&)>;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(asio::ip::tcp::socket socket, const Answer& answer)
        : socket_(std::move(socket)), answer_(answer) {}

    void ReadLine() {
        auto self = shared_from_this();
        asio::async_read_until(socket_, pending_, '\n', [self](asio::error_code error, std::size_t n) {
            if (error) return;
            std::string line(asio::buffers_begin(self->pending_.data()),
                             asio::buffers_begin(self->pending_.data()) +
                                 static_cast<std::ptrdiff_t>(n - 1));
            self->pending_.consume(n);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            self->Reply(self->answer_(line));
        });
    }

  private:
    void Reply(const std::string& reply) {
        if (reply.empty()) {
            ReadLine();
            return;
        }
        auto self = shared_from_this();
        auto bytes = std::make_shared<std::string>(reply + "\r\n");
        asio::async_write(socket_, asio::buffer(*bytes),
                          [self, bytes](asio::error_code error, std::size_t) {
                              if (!error) self->ReadLine();
                          });
    }

    asio::ip::tcp::socket socket_;
    asio::streambuf pending_;
    const Answer& answer_;
};

}  // namespace

struct ScriptedScale::Impl {
    explicit Impl(Answer answerLines)
        : answer(std::move(answerLines)),
          acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {}

    void Accept() {
        acceptor.async_accept([this](asio::error_code error, asio::ip::tcp::socket socket) {
            if (error) return;
            std::make_shared<Connection>(std::move(socket), answer)->ReadLine();
            Accept();
        });
    }

    Answer answer;
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor;
    std::thread thread;
};

ScriptedScale::ScriptedScale(Answer answer) : impl_(std::make_unique<Impl>(std::move(answer))) {
    impl_->Accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

ScriptedScale::~ScriptedScale() {
    impl_->io.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

unsigned ScriptedScale::Port() const {
    return impl_->acceptor.local_endpoint().port();
}

}  // namespace vudaduv::cli::test
