#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
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

// Writes all of bytes; done counts what reached the file, also when a write fails part-way.
bool WriteAll(int fd, std::string_view bytes, std::size_t& done) {
    done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// An appending write leaves the offset at its end: cuts the file back to where the last
// `appended` bytes began.
bool CutBackAppend(int fd, std::size_t appended) {
    off_t end = lseek(fd, 0, SEEK_CUR);
    return end >= 0 && ftruncate(fd, end - static_cast<off_t>(appended)) == 0;
}

// Where a write of path lands: symbolic links followed, to a file that need not exist yet. A
// chain too long is left as it is; opening it then fails.
std::string FollowLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        char target[4096];
        ssize_t n = readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return path;
        std::string next(target, static_cast<std::size_t>(n));
        std::size_t slash = path.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next.insert(0, path, 0, slash + 1);
        path = std::move(next);
    }
    return path;
}

// A new file beside path, under a name of its own, open for writing.
int CreateFileBeside(const std::string& path, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + "." + std::to_string(getpid()) + "." + std::to_string(attempt) + ".tmp";
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The rename is on the disk once its directory is; a directory that cannot be flushed changes
// nothing about the file's contents.
void FlushDirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool ReadFileBytes(const char* path, std::string& out) {
    out.clear();
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Room for the whole file at once: growing by doubling would need up to three times its size.
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 0) {
        out.reserve(static_cast<std::size_t>(info.st_size));
    }
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

FileReplacement::FileReplacement(const char* path) : target_(FollowLinks(path)) {
    struct stat old {};
    bool exists = stat(target_.c_str(), &old) == 0;
    // A file that its owner made read-only stays as it is.
    if (exists && faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return;
    int fd = CreateFileBeside(target_, temporary_);
    if (fd < 0) return;
    handle_ = fd;
    ok_ = !exists || fchmod(fd, old.st_mode & 0777) == 0;
}

FileReplacement::~FileReplacement() {
    Discard();
}

void FileReplacement::Discard() {
    if (handle_ == -1) return;
    close(static_cast<int>(handle_));
    unlink(temporary_.c_str());
    handle_ = -1;
    ok_ = false;
}

bool FileReplacement::Write(std::string_view bytes) {
    std::size_t written = 0;
    ok_ = ok_ && WriteAll(static_cast<int>(handle_), bytes, written);
    return ok_;
}

bool FileReplacement::Commit() {
    if (handle_ == -1) return false;
    int fd = static_cast<int>(handle_);
    bool ok = ok_ && fsync(fd) == 0;
    handle_ = -1;
    if (close(fd) != 0) ok = false;
    ok = ok && rename(temporary_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        unlink(temporary_.c_str());
        return false;
    }
    FlushDirectoryOf(target_);
    return true;
}

bool ReplaceFileBytes(const char* path, const std::string& bytes) {
    FileReplacement replacement(path);
    return replacement.Write(bytes) && replacement.Commit();
}

bool AppendFileBytes(const char* path, const std::string& bytes) {
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    std::size_t written = 0;
    bool ok = WriteAll(fd, bytes, written);
    if (!ok && written > 0) CutBackAppend(fd, written);  // part of the bytes is worse than none
    if (close(fd) != 0) ok = false;
    return ok;
}

FileLock::FileLock(const char* path) {
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;  // from the start, length 0: the whole file, however long
    int result = 0;
    while ((result = fcntl(fd, F_SETLKW, &whole)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        close(fd);
        return;
    }
    handle_ = fd;
}

// Closing the file drops the lock.
FileLock::~FileLock() {
    if (handle_ != -1) close(static_cast<int>(handle_));
}

}  // namespace vudaduv::platform
