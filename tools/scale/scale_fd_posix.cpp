#include "scale_fd_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vudaduv::scale::platform {

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr int kWriteWaitMs = 50;  // how often a blocked write looks at the stop flag

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a peer that has gone must not kill the process
#else
constexpr int kSendFlags = 0;
#endif

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

FdStream::FdStream(int fd, FdKind kind) : fd_(fd), kind_(kind) {
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

long FdStream::WriteSome(std::string_view bytes) {
    if (kind_ == FdKind::kSocket) return send(fd_, bytes.data(), bytes.size(), kSendFlags);
    return write(fd_, bytes.data(), bytes.size());
}

bool FdStream::Write(std::string_view bytes, const std::atomic<bool>& stop) {
    while (!bytes.empty()) {
        long sent = WriteSome(bytes);
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
