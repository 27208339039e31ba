#include "stop_request.h"

#include <csignal>

namespace vudaduv::cli {

namespace {

// Lock-free, so that a signal handler may set it.
std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
    stopSignal.store(signal);
    stopRequested.store(true);
}

using Handler = void (*)(int);
Handler previousInterrupt = SIG_DFL;
Handler previousTerminate = SIG_DFL;

}  // namespace

StopRequest::StopRequest() {
    stopRequested.store(false);
    previousInterrupt = std::signal(SIGINT, OnStopSignal);
    previousTerminate = std::signal(SIGTERM, OnStopSignal);
}

StopRequest::~StopRequest() {
    std::signal(SIGINT, previousInterrupt == SIG_ERR ? SIG_DFL : previousInterrupt);
    std::signal(SIGTERM, previousTerminate == SIG_ERR ? SIG_DFL : previousTerminate);
}

const std::atomic<bool>* StopRequest::Flag() const {
    return &stopRequested;
}

bool StopRequest::Requested() const {
    return stopRequested.load();
}

int StopRequest::ExitStatus() const {
    return 128 + stopSignal.load();
}

}  // namespace vudaduv::cli
