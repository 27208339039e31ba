#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "os.h"
#include "os_serial.h"

namespace vudaduv::cli::os {

void UseRawStandardStreams() {}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

bool LocalTimeOf(std::time_t when, std::tm& local, long& offsetSeconds) {
    if (localtime_r(&when, &local) == nullptr) return false;
    offsetSeconds = local.tm_gmtoff;
    return true;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool AppendLocked(const std::string& path, const std::string& bytes, std::string& error) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = strerror(errno);
        return false;
    }
    // flock is released when the descriptor closes, also when the process dies.
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = strerror(errno);
            close(fd);
            return false;
        }
    }
    struct stat before {};
    if (fstat(fd, &before) != 0) error = strerror(errno);
    // A last line left open is closed first, so that the new lines stand on lines of their own.
    char last = '\n';
    std::string text = bytes;
    if (error.empty() && before.st_size > 0 && pread(fd, &last, 1, before.st_size - 1) == 1 &&
        last != '\n') {
        text.insert(0, "\r\n");
    }
    std::size_t written = 0;
    while (error.empty() && written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? strerror(errno) : "nothing more could be written";
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (!error.empty() && written > 0 && ftruncate(fd, before.st_size) != 0) {
        error += " (and the part written could not be taken back)";
    }
    if (close(fd) != 0 && error.empty()) error = strerror(errno);
    return error.empty();
}

std::string LocaleCharset() {
    const char* locale = setlocale(LC_CTYPE, "");
    // The C and POSIX locales say nothing of a character set: text is taken as UTF-8 there, as
    // current language runtimes take it.
    std::string charset = "UTF-8";
    if (locale != nullptr && strcmp(locale, "C") != 0 && strcmp(locale, "POSIX") != 0) {
        charset = nl_langinfo(CODESET);
    }
    setlocale(LC_CTYPE, "C");  // the tool itself works on bytes
    return charset;
}

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The terminal speed of a baud rate SerialSpeedKnown accepts.
speed_t TerminalSpeed(uint32_t baud) {
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
            return B0;  // not reached: OpenSerialLine checks the speed first
    }
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

bool OpenSerialLineAtKnownSpeed(const std::string& device, uint32_t baud, uint32_t& link,
                                std::string& error) {
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
    cfsetispeed(&settings, TerminalSpeed(baud));
    cfsetospeed(&settings, TerminalSpeed(baud));
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
