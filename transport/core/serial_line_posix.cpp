#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "core/descriptor_io_posix.h"
#include "core/serial_line.h"
#include "vudaduv_transport.h"

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

// The terminal speed of a baud rate SerialBaudSupported accepts.
speed_t TerminalSpeed(std::uint32_t baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return B0;
    }
}

// The code and cause of a device that open() refused.
std::int32_t OpenFailure(int error, std::string& cause) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            cause = "no such device";
            return WQDS_BAD_ADDRESS;
        case EBUSY:  // held with TIOCEXCL
            cause = "in use by another process";
            return WQDS_REFUSED;
        case EACCES:
        case EPERM:
            cause = "permission denied";
            return WQDS_REFUSED;
        case EMFILE:
        case ENFILE:
        case ENOMEM:
            cause = std::strerror(error);
            return WQDS_INTERNAL;
        default:
            cause = std::strerror(error);
            return WQDS_REFUSED;
    }
}

// Raw, 8N1, no flow control, at the speed; reads that never wait for a count of bytes.
bool SetRaw(int fd, const termios& found, std::uint32_t baud) {
    termios settings = found;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD | CS8;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    speed_t speed = TerminalSpeed(baud);
    return speed != B0 && cfsetispeed(&settings, speed) == 0 &&
           cfsetospeed(&settings, speed) == 0 && tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

struct HeldLine::Saved {
    termios settings{};
};

HeldLine::HeldLine() : handle_(-1) {}

HeldLine::~HeldLine() {
    Close();
}

std::int32_t HeldLine::Open(const std::string& device, std::uint32_t baud, std::string& cause) {
    Close();
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenFailure(errno, cause);
    auto saved = std::make_unique<Saved>();
    std::int32_t code = WQDS_OK;
    if (tcgetattr(fd, &saved->settings) != 0) {
        cause = "not a serial line";
        code = WQDS_BAD_ADDRESS;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // TIOCEXCL keeps out only those without privileges: the lock keeps out every process
        // that asks for it.
        cause = errno == EWOULDBLOCK ? "in use by another process" : std::strerror(errno);
        code = WQDS_REFUSED;
    } else if (!SetRaw(fd, saved->settings, baud)) {
        cause = "the line does not take " + std::to_string(baud) + " baud";
        code = WQDS_REFUSED;
    }
    if (code != WQDS_OK) {
        close(fd);
        return code;
    }
    ioctl(fd, TIOCEXCL);     // a nicety beside the lock; fine if refused
    tcflush(fd, TCIOFLUSH);  // what came before this run answers nothing of it
    handle_ = fd;
    saved_ = std::move(saved);
    return WQDS_OK;
}

void HeldLine::DiscardInput() noexcept {
    if (handle_ >= 0) tcflush(static_cast<int>(handle_), TCIFLUSH);
}

void HeldLine::Release() noexcept {
    if (handle_ < 0) return;
    int fd = static_cast<int>(handle_);
    // Exclusive use stays with the terminal, not with this descriptor: a line that some other
    // process keeps open (a modem manager, the virtual scale's pseudo-terminal) would refuse the
    // next run.
    ioctl(fd, TIOCNXCL);
    if (saved_) tcsetattr(fd, TCSANOW, &saved_->settings);  // a line gone takes none: fine
    handle_ = -1;
    saved_.reset();
}

void HeldLine::Close() noexcept {
    if (handle_ < 0) return;
    int fd = static_cast<int>(handle_);
    Release();
    close(fd);  // and the lock with it
}

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

namespace vudaduv::transport {

std::string SerialLineIdentity(const std::string& device) {
    char* real = realpath(device.c_str(), nullptr);
    if (real == nullptr) return device;
    std::string path = real;
    free(real);
    return path;
}

}  // namespace vudaduv::transport
