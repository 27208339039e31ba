#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "os.h"

namespace vudaduv::cli::os {

void UseRawStandardStreams() {}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool ReadAllBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    int fd = path.empty() ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    if (!path.empty()) close(fd);
    return n == 0;
}

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

struct SpeedRow {
    uint32_t baud;
    speed_t speed;
};

constexpr SpeedRow kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

const SpeedRow* FindSpeed(uint32_t baud) {
    for (const SpeedRow& row : kSpeeds) {
        if (row.baud == baud) return &row;
    }
    return nullptr;
}

}  // namespace

void HoldStopSignals() {
    sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal() {
    sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    return signal;
}

bool MakeTempDirectory(const std::string& prefix, std::string& path, std::string& error) {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        error = std::string("cannot create a directory like ") + pattern + ": " + strerror(errno);
        return false;
    }
    path = buffer.data();
    return true;
}

bool ChangeDirectory(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return ".";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

void RemoveFileAndDirectory(const std::string& directory, const std::string& fileName) {
    unlink((directory + "/" + fileName).c_str());
    rmdir(directory.c_str());
}

bool SerialSpeedKnown(uint32_t baud) {
    return FindSpeed(baud) != nullptr;
}

bool OpenSerialLine(const std::string& device, uint32_t baud, uint32_t& link, std::string& error) {
    const SpeedRow* speed = FindSpeed(baud);
    if (speed == nullptr) {
        error = "unsupported speed " + std::to_string(baud);
        return false;
    }
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + device + ": " + strerror(errno);
        return false;
    }
    struct termios settings {};
    if (tcgetattr(fd, &settings) != 0) {
        error = device + " is not a serial line: " + strerror(errno);
        close(fd);
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed->speed);
    cfsetospeed(&settings, speed->speed);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        error = "cannot configure " + device + ": " + strerror(errno);
        close(fd);
        return false;
    }
    link = static_cast<uint32_t>(fd);
    return true;
}

void CloseSerialLine(uint32_t link) {
    close(static_cast<int>(link));
}

}  // namespace vudaduv::cli::os
