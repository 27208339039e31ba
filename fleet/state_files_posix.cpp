// The state directory's files on POSIX systems: durable writes, renames and the lock (flock,
// which the system drops when its holder dies, a kill -9 included).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "state_files.h"

namespace vudaduv::fleet {

namespace {

std::string SystemError() {
    return std::strerror(errno);
}

bool WriteWhole(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

class PosixLock : public FileLock {
  public:
    explicit PosixLock(int fd) : fd_(fd) {}
    ~PosixLock() override { ::close(fd_); }

  private:
    int fd_;
};

}  // namespace

std::filesystem::path FsPath(const std::string& path) {
    return std::filesystem::path(path);
}

std::string PathText(const std::filesystem::path& path) {
    return path.string();
}

bool ReadFileIfThere(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code code;
    if (!std::filesystem::exists(path, code)) return false;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = path + ": cannot be read";
        return false;
    }
    bytes = all.str();
    return true;
}

void RemoveFileIfThere(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = SystemError();
        return false;
    }
    bool ok = WriteWhole(fd, bytes);
    if (!ok) error = SystemError();
    ::close(fd);
    return ok;
}

bool AppendToFile(const std::string& path, std::uintmax_t keep, std::string_view bytes,
                  std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + ": " + SystemError();
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0;
    off_t at = static_cast<off_t>(
        std::min<std::uintmax_t>(keep, ok ? static_cast<std::uintmax_t>(status.st_size) : 0));
    ok = ok && ::ftruncate(fd, at) == 0 && ::lseek(fd, at, SEEK_SET) == at && WriteWhole(fd, bytes);
    if (!ok) {
        error = path + ": " + SystemError();
        // A part written to a full disk keeps it full, and is no confirmed line.
        if (::ftruncate(fd, at) != 0) error += " (and it could not be cut back)";
    }
    ::close(fd);
    return ok;
}

bool RemoveFile(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    error = path + ": " + SystemError();
    return false;
}

bool FlushToDisk(const std::vector<std::string>& paths, std::string& error) {
#ifdef __linux__
    // Several files: one flush of the whole file system costs what one file's does.
    if (paths.size() > 1) {
        int fd = ::open(paths[0].c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = fd >= 0 && ::syncfs(fd) == 0;
        if (!ok) error = SystemError();
        if (fd >= 0) ::close(fd);
        return ok;
    }
#endif
    for (const std::string& path : paths) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = fd >= 0 && ::fsync(fd) == 0;
        if (!ok) error = path + ": " + SystemError();
        if (fd >= 0) ::close(fd);
        if (!ok) return false;
    }
    return true;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = SystemError();
    return false;
}

std::unique_ptr<FileLock> TryLockFile(const std::string& path, std::string& error, bool& held) {
    held = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + ": " + SystemError();
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool busy = errno == EWOULDBLOCK;
        error = busy ? "" : path + ": " + SystemError();
        char holder[32] = {};
        ssize_t n = busy ? ::pread(fd, holder, sizeof holder - 1, 0) : 0;
        if (busy) {
            held = true;
            std::string pid(holder, n > 0 ? static_cast<std::size_t>(n) : 0);
            error = LockHolderText(pid, std::to_string(::getpid()), path);
        }
        ::close(fd);
        return nullptr;
    }
    std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        error = path + ": " + SystemError();
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixLock>(fd);
}

}  // namespace vudaduv::fleet
