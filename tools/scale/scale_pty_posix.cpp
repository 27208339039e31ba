// The pseudo-terminal for the virtual scale on POSIX systems.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "scale_fd_posix.h"
#include "scale_platform.h"

namespace vudaduv::scale::platform {

namespace {

bool MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool DevicePathOf(int master, std::string& path) {
#ifdef __linux__
    char name[256];  // ptsname_r: ptsname is not safe with several scales starting at once
    if (ptsname_r(master, name, sizeof name) != 0) return false;
    path = name;
#else
    const char* name = ptsname(master);
    if (name == nullptr) return false;
    path = name;
#endif
    return true;
}

// Holds the device side open for the scale's whole life, so that the master never sees the
// line hang up between one user of the device and the next.
class PosixPseudoTerminal : public PseudoTerminal {
  public:
    PosixPseudoTerminal(int master, int device, std::string path)
        : master_(master), device_(device), path_(std::move(path)) {}
    ~PosixPseudoTerminal() override { close(device_); }
    PosixPseudoTerminal(const PosixPseudoTerminal&) = delete;
    PosixPseudoTerminal& operator=(const PosixPseudoTerminal&) = delete;

    std::string DevicePath() const override { return path_; }
    Stream& Master() override { return master_; }

  private:
    FdStream master_;
    int device_;
    std::string path_;
};

}  // namespace

std::unique_ptr<PseudoTerminal> OpenPseudoTerminal(std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = SystemError("posix_openpt");
        return nullptr;
    }
    std::string path;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || !DevicePathOf(master, path)) {
        error = SystemError("pseudo-terminal set-up");
        close(master);
        return nullptr;
    }
    int device = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (device < 0 || !MakeRaw(device)) {
        error = SystemError(path.c_str());
        if (device >= 0) close(device);
        close(master);
        return nullptr;
    }
    return std::make_unique<PosixPseudoTerminal>(master, device, std::move(path));
}

std::unique_ptr<Stream> OpenSerialDevice(const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        error = SystemError(path.c_str());
        return nullptr;
    }
    if (isatty(fd) && !MakeRaw(fd)) {
        error = SystemError(path.c_str());
        close(fd);
        return nullptr;
    }
    return std::make_unique<FdStream>(fd);
}

}  // namespace vudaduv::scale::platform
