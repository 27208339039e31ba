#include "scale_fd_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vudaduv::scale::platform {

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr int kWriteWaitMs = 50;  // how often a blocked write looks at the stop flag

bool WaitFor(int fd, short events, int waitMs) {
    pollfd entry{fd, events, 0};
    return poll(&entry, 1, waitMs) > 0;
}

}  // namespace

void MakeNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

FdStream::FdStream(int fd) : fd_(fd) {
    MakeNonBlocking(fd_);
}

FdStream::~FdStream() {
    close(fd_);
}

ReadStatus FdStream::Read(std::string& out, int waitMs) {
    if (!WaitFor(fd_, POLLIN, waitMs)) return ReadStatus::kNothingYet;
    char buffer[kReadChunk];
    ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got > 0) {
        out.append(buffer, static_cast<std::size_t>(got));
        return ReadStatus::kData;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return ReadStatus::kNothingYet;
    }
    return ReadStatus::kClosed;
}

bool FdStream::Write(std::string_view bytes, const std::atomic<bool>& stop) {
    while (!bytes.empty()) {
        ssize_t sent = write(fd_, bytes.data(), bytes.size());
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (stop.load()) return false;
            WaitFor(fd_, POLLOUT, kWriteWaitMs);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace vudaduv::scale::platform
