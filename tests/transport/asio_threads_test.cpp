// Every file that uses Asio must take the same kind of thread and mutex: a timer thread started
// as one kind and joined as the other outlives its loop. <memory> and <thread> come first here,
// as they do in many files, because on MinGW they bring in <pthread.h>.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <type_traits>

#include "asio/io_context.hpp"

namespace {

TEST(AsioThreads, EveryFileTakesTheSystemsOwnThreads) {
#ifdef _WIN32
    EXPECT_TRUE((std::is_same_v<asio::detail::thread, asio::detail::win_thread>));
    EXPECT_TRUE((std::is_same_v<asio::detail::mutex, asio::detail::win_mutex>));
#else
    EXPECT_TRUE((std::is_same_v<asio::detail::thread, asio::detail::posix_thread>));
#endif
}

}  // namespace
