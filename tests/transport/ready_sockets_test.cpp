// The epoll set a send's connected sockets join (Linux): who is told what, over real socket pairs.
#include "core/ready_sockets.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "asio/io_context.hpp"

namespace transport_test {
namespace {

using vudaduv::transport::ReadySockets;

// One end watched, the other the scale's; both closed at the end.
struct SocketPair {
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0); }
    ~SocketPair() {
        close(ends[0]);
        close(ends[1]);
    }
    void ScaleSends(const char* bytes) const { ASSERT_GT(write(ends[1], bytes, 2), 0); }
    int ends[2] = {-1, -1};
};

// Counts what it is told and runs a step of its owner's at the first word.
struct Recorder final : ReadySockets::Watcher {
    void OnReady(std::uint32_t events) noexcept override {
        ++told;
        last = events;
        if (onFirst) std::exchange(onFirst, nullptr)();
    }
    int told = 0;
    std::uint32_t last = 0;
    std::function<void()> onFirst;
};

// Two scales ready in the same batch: whichever is told first ends the other's session, as a
// time-out or a failure would (the session is freed then). The forgotten one hears nothing more.
TEST(ReadySockets, AWatcherForgottenWhileItsBatchIsToldHearsNothingMore) {
    asio::io_context loop;
    ReadySockets ready(loop);
    SocketPair pairs[2];
    Recorder watchers[2];
    int toldFirst = -1;
    for (int i = 0; i < 2; ++i) {
        watchers[i].onFirst = [&, i] {
            toldFirst = i;
            ready.Forget(pairs[1 - i].ends[0], watchers[1 - i]);
            ready.Forget(pairs[i].ends[0], watchers[i]);  // nothing left: the loop ends
        };
        pairs[i].ScaleSends("0v");
        ASSERT_FALSE(ready.Watch(pairs[i].ends[0], watchers[i]));
    }
    loop.run();
    ASSERT_NE(toldFirst, -1);
    EXPECT_EQ(watchers[toldFirst].told, 1);
    EXPECT_EQ(watchers[1 - toldFirst].told, 0);
}

// Edge-triggered, the end of the stream that came with the last bytes is told once, with them.
TEST(ReadySockets, BytesAndTheEndAfterThemAreToldTogether) {
    asio::io_context loop;
    ReadySockets ready(loop);
    SocketPair pair;
    Recorder watcher;
    watcher.onFirst = [&] { ready.Forget(pair.ends[0], watcher); };
    pair.ScaleSends("0v");
    shutdown(pair.ends[1], SHUT_WR);
    ASSERT_FALSE(ready.Watch(pair.ends[0], watcher));
    loop.run();
    EXPECT_EQ(watcher.told, 1);
    EXPECT_TRUE(watcher.last & EPOLLIN);
    EXPECT_TRUE(watcher.last & EPOLLRDHUP);
}

}  // namespace
}  // namespace transport_test
