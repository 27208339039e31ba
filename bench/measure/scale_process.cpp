#include "scale_process.h"

#include <dirent.h>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace vudaduv::bench {

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// The run time of one thread in nanoseconds, the first figure of its schedstat.
double ThreadSeconds(const std::string& path) {
    std::ifstream file(path);
    unsigned long long nanoseconds = 0;
    return file >> nanoseconds ? static_cast<double>(nanoseconds) / 1e9 : 0.0;
}

}  // namespace

ScaleProcess::~ScaleProcess() {
    Stop();
}

bool ScaleProcess::Start(const std::string& program, std::size_t count, int replyDelayMs,
                         const std::vector<std::string>& preload, std::string& error) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        close(in[0]);
        close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string countText = std::to_string(count);
    std::string delayText = std::to_string(replyDelayMs);
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>("--count"),
                               countText.data(),
                               const_cast<char*>("--reply-delay"),
                               delayText.data(),
                               nullptr};
    int status = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    if (status != 0) {
        pid_ = -1;
        close(out[0]);
        error = program + ": " + std::strerror(status);
        Stop();
        return false;
    }
    // A scale process that ends early must not end this one by a write to its closed input.
    signal(SIGPIPE, SIG_IGN);
    std::string lines;
    for (const std::string& line : preload) lines += line + "\n";
    lines += "\n";
    bool written = WriteAll(input_, lines);
    std::FILE* addresses = fdopen(out[0], "r");
    char line[256];
    while (written && addresses_.size() < count && std::fgets(line, sizeof line, addresses)) {
        std::string address(line);
        while (!address.empty() && (address.back() == '\n' || address.back() == '\r')) {
            address.pop_back();
        }
        std::size_t colon = address.rfind(':');
        if (colon == std::string::npos) break;
        addresses_.push_back(address);
        ports_.push_back(static_cast<uint16_t>(std::atoi(address.c_str() + colon + 1)));
    }
    std::fclose(addresses);
    if (addresses_.size() != count) {
        error = program + " gave " + std::to_string(addresses_.size()) + " of " +
                std::to_string(count) + " scale addresses";
        Stop();
        return false;
    }
    return true;
}

double ScaleProcess::CpuSeconds() const {
    if (pid_ < 0) return 0;
    std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    double seconds = 0;
    if (DIR* directory = opendir(tasks.c_str())) {
        while (dirent* entry = readdir(directory)) {
            if (entry->d_name[0] == '.') continue;
            seconds += ThreadSeconds(tasks + "/" + entry->d_name + "/schedstat");
        }
        closedir(directory);
    }
    return seconds;
}

void ScaleProcess::Stop() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    addresses_.clear();
    ports_.clear();
}

std::string ProgramBesideThisOne(const std::string& name) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return name;
    std::string self(path, static_cast<std::size_t>(length));
    std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? name : self.substr(0, slash + 1) + name;
}

long StatusKb(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    std::size_t length = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':') {
            return std::atol(line.c_str() + length + 1);
        }
    }
    return 0;
}

bool ResetPeakMemory() {
#ifdef __GLIBC__
    // What the last run freed and the allocator kept resident would be taken again unseen: the
    // next run's peak would leave out as much of its own.
    malloc_trim(0);
#endif
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return clearRefs.good() && StatusKb("VmHWM") != 0;
}

}  // namespace vudaduv::bench
