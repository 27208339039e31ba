#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <climits>

#include "core/descriptor_io_posix.h"
#include "core/serial_line.h"

namespace vudaduv::transport::serial {

namespace {

// The application may have left the line blocking. Once poll() reports room, a terminal takes
// at least this much without waiting, so a stalled line cannot hold a write past the deadline.
constexpr std::size_t kWritePiece = 256;

ssize_t WriteSome(int fd, const char* bytes, std::size_t size) {
    return write(fd, bytes, size < kWritePiece ? size : kWritePiece);
}

// Reads no more than is waiting, so that a blocking line set to wait for more bytes (VMIN)
// than the reply holds returns at once.
ssize_t ReadSomeBytes(int fd, char* buffer, std::size_t size) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0 &&
        static_cast<std::size_t>(waiting) < size) {
        size = static_cast<std::size_t>(waiting);
    }
    return read(fd, buffer, size);
}

StreamStatus LineErrorStatus(int error) {
    // A terminal whose other side is gone answers EIO.
    return error == EIO ? StreamStatus::kClosed : StreamStatus::kFailed;
}

int Descriptor(std::uint32_t link) {
    return static_cast<int>(link);
}

}  // namespace

bool IsOpenLine(std::uint32_t link) {
    if (link > static_cast<std::uint32_t>(INT_MAX)) return false;
    int flags = fcntl(Descriptor(link), F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) == O_RDWR;
}

StreamStatus SerialLine::WriteAll(const std::string& bytes, const Deadline& deadline) {
    return posix::WriteAllWhenReady(Descriptor(link_), bytes, deadline, WriteSome, LineErrorStatus);
}

StreamStatus SerialLine::ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                                  std::size_t& received) {
    return posix::ReadWhenReady(Descriptor(link_), buffer, capacity, deadline, ReadSomeBytes,
                                LineErrorStatus, received);
}

void SerialLine::DiscardInput() {
    tcflush(Descriptor(link_), TCIFLUSH);  // not a terminal: nothing to drop
}

}  // namespace vudaduv::transport::serial
