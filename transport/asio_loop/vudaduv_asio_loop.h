// How this project's Asio event loops are made: the transport core's and the virtual fleet's.
#pragma once

#include "asio/io_context.hpp"

namespace vudaduv {

// Sockets and timers are touched by the loop's own thread alone, so on Linux its reactor runs
// without locks. On Windows the completion port takes work posted from other threads (the
// resolver's, a stop) through the loop's locks, which must stay.
#ifdef _WIN32
constexpr int kLoopConcurrency = 1;
#else
constexpr int kLoopConcurrency = ASIO_CONCURRENCY_HINT_UNSAFE_IO;
#endif

}  // namespace vudaduv
