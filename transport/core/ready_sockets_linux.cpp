#include <unistd.h>

#include <cerrno>

#include "core/ready_sockets.h"

namespace vudaduv::transport {

namespace {

int OpenEpollSet() {
    int set = epoll_create1(EPOLL_CLOEXEC);
    if (set < 0) throw std::system_error(errno, std::system_category(), "epoll_create1");
    return set;
}

}  // namespace

ReadySockets::ReadySockets(asio::io_context& loop) : set_(OpenEpollSet()), descriptor_(loop) {
    asio::error_code error;
    descriptor_.assign(set_, error);
    if (error) {
        close(set_);
        throw std::system_error(error, "epoll set");
    }
}

ReadySockets::~ReadySockets() = default;  // the descriptor closes the set

std::error_code ReadySockets::Watch(int socket, Watcher& watcher) {
    // Edge-triggered for reading and writing at once: a socket joins once and is never changed;
    // "writable" is told only after a write found the socket full and room came.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.ptr = &watcher;
    if (epoll_ctl(set_, EPOLL_CTL_ADD, socket, &event) != 0) {
        return {errno, std::system_category()};
    }
    ++watched_;
    if (!awaiting_) Await();
    return {};
}

void ReadySockets::Forget(int socket, const Watcher& watcher) noexcept {
    epoll_ctl(set_, EPOLL_CTL_DEL, socket, nullptr);
    for (int i = told_; i < taken_; ++i) {
        if (batch_[static_cast<std::size_t>(i)].data.ptr == &watcher) {
            batch_[static_cast<std::size_t>(i)].data.ptr = nullptr;
        }
    }
    if (watched_ > 0) --watched_;
    // A wait left pending with nothing to watch would keep the loop running.
    if (watched_ == 0 && awaiting_) {
        asio::error_code ignored;
        descriptor_.cancel(ignored);
    }
}

void ReadySockets::Await() {
    descriptor_.async_wait(Descriptor::wait_read, [this](const asio::error_code& error) {
        awaiting_ = false;
        if (!error) {
            TellReady();
        } else if (error != asio::error::operation_aborted) {
            return;  // the set itself failed: the watchers' time-outs end their waits
        }
        if (watched_ > 0 && !awaiting_) Await();
    });
    awaiting_ = true;
}

// Tells every watcher what came, batch by batch, until the set has nothing more.
void ReadySockets::TellReady() noexcept {
    for (;;) {
        int count = epoll_wait(set_, batch_.data(), kEventsPerWait, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        taken_ = count;
        for (told_ = 0; told_ < taken_;) {
            const epoll_event& event = batch_[static_cast<std::size_t>(told_++)];
            if (event.data.ptr != nullptr) {
                static_cast<Watcher*>(event.data.ptr)->OnReady(event.events);
            }
        }
        told_ = taken_ = 0;
        if (count < kEventsPerWait) return;
    }
}

}  // namespace vudaduv::transport
