#include "core/descriptor_io_posix.h"

#include <errno.h>

namespace vudaduv::transport::posix {

namespace {

bool IsTransient(int error) {
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

StreamStatus StreamStatusOf(Readiness readiness) {
    switch (readiness) {
        case Readiness::kTimeout:
            return StreamStatus::kTimeout;
        case Readiness::kHungUp:
            return StreamStatus::kClosed;
        case Readiness::kReady:
            return StreamStatus::kOk;
        case Readiness::kFailed:
            break;
    }
    return StreamStatus::kFailed;
}

}  // namespace

Readiness WaitReady(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, deadline.RemainingMilliseconds());
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Readiness::kFailed;
        if (ready == 0) return Readiness::kTimeout;
        if ((entry.revents & POLLNVAL) != 0) return Readiness::kFailed;
        // An error is left for the read or write to report with its errno.
        if ((entry.revents & (events | POLLERR)) != 0) return Readiness::kReady;
        return Readiness::kHungUp;
    }
}

StreamStatus ReadWhenReady(int fd, char* buffer, std::size_t capacity, const Deadline& deadline,
                           ReadCall read, ErrorStatus errorStatus, std::size_t& received) {
    received = 0;
    for (;;) {
        StreamStatus waited = StreamStatusOf(WaitReady(fd, POLLIN, deadline));
        if (waited != StreamStatus::kOk) return waited;
        ssize_t count = read(fd, buffer, capacity);
        if (count > 0) {
            received = static_cast<std::size_t>(count);
            return StreamStatus::kOk;
        }
        if (count == 0) return StreamStatus::kClosed;
        if (!IsTransient(errno)) return errorStatus(errno);
    }
}

StreamStatus WriteAllWhenReady(int fd, const std::string& bytes, const Deadline& deadline,
                               WriteCall write, ErrorStatus errorStatus) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        StreamStatus waited = StreamStatusOf(WaitReady(fd, POLLOUT, deadline));
        if (waited != StreamStatus::kOk) return waited;
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count == 0) {
            return StreamStatus::kClosed;
        } else if (!IsTransient(errno)) {
            return errorStatus(errno);
        }
    }
    return StreamStatus::kOk;
}

}  // namespace vudaduv::transport::posix
