#include <signal.h>
#include <sys/resource.h>

#include "file_size_limit.h"

namespace vudaduv::testing {

// The soft limit and the signal's handling as they were, for the rest of the test program.
struct FileSizeLimit::Saved {
    struct rlimit limit {};
    struct sigaction signal {};
};

FileSizeLimit::FileSizeLimit() = default;

FileSizeLimit::~FileSizeLimit() {
    if (!saved_) return;
    setrlimit(RLIMIT_FSIZE, &saved_->limit);
    sigaction(SIGXFSZ, &saved_->signal, nullptr);
}

// With the signal ignored, the write past the cap fails with EFBIG, as on a full disk it fails
// with ENOSPC, instead of ending the process.
bool FileSizeLimit::Set(std::uint64_t bytes) {
    if (!saved_) {
        auto saved = std::make_unique<Saved>();
        if (getrlimit(RLIMIT_FSIZE, &saved->limit) != 0) return false;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        if (sigaction(SIGXFSZ, &ignore, &saved->signal) != 0) return false;
        saved_ = std::move(saved);
    }
    if (saved_->limit.rlim_max != RLIM_INFINITY && bytes > saved_->limit.rlim_max) return false;
    struct rlimit limit = saved_->limit;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace vudaduv::testing
