// Ctrl-C (SIGINT) and SIGTERM during a send: instead of ending the process they set a flag that
// the transport reads, so that the replies that had arrived can still be shown.
#pragma once

#include <atomic>

namespace vudaduv::cli {

// While one lives, SIGINT and SIGTERM set Flag() instead of ending the process; the signals'
// earlier handling comes back when it ends. One at a time.
class StopRequest {
  public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    const std::atomic<bool>* Flag() const;
    bool Requested() const;
    // The exit status of a run stopped by the signal, as shells report it: 128 + its number
    // (130 for Ctrl-C).
    int ExitStatus() const;
};

}  // namespace vudaduv::cli
