#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace vudaduv::platform {

LocalTime GetLocalClock() {
    time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) return LocalTime{1970, 1, 1, 0, 0};
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min};
}

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteFile(const char* path, const std::string& bytes, int mode) {
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | mode, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (close(fd) != 0) ok = false;
    return ok;
}

}  // namespace

bool ReadFileBytes(const char* path, std::string& out) {
    out.clear();
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
}

bool ReplaceFileBytes(const char* path, const std::string& bytes) {
    return WriteFile(path, bytes, O_TRUNC);
}

bool AppendFileBytes(const char* path, const std::string& bytes) {
    return WriteFile(path, bytes, O_APPEND);
}

}  // namespace vudaduv::platform
