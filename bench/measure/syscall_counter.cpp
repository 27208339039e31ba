#include "syscall_counter.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#ifdef __linux__
#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace vudaduv::bench {

namespace {

#ifdef __linux__
// The tracepoint's id, from tracefs where it is mounted today or where it used to be; 0 when
// neither can be read.
uint64_t SysEnterId() {
    for (const char* path : {"/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
                             "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id"}) {
        std::ifstream file(path);
        uint64_t id = 0;
        if (file >> id) return id;
    }
    return 0;
}
#endif

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

SyscallCounter::SyscallCounter() {
#ifdef __linux__
    uint64_t id = SysEnterId();
    if (id == 0) {
        whyNot_ =
            "the tracepoint raw_syscalls:sys_enter is not readable under "
            "/sys/kernel/tracing (no tracefs, or no permission)";
        return;
    }
    perf_event_attr attr{};
    attr.size = sizeof attr;
    attr.type = PERF_TYPE_TRACEPOINT;
    attr.config = id;
    attr.inherit = 1;
    // A process started while counting (a fleet of scales) is not this process's work.
    attr.inherit_thread = 1;
    long fd = syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC);
    if (fd < 0) {
        whyNot_ = std::string("perf_event_open(raw_syscalls:sys_enter): ") + std::strerror(errno);
        return;
    }
    fd_ = static_cast<int>(fd);
#else
    whyNot_ = "system calls are counted on Linux only";
#endif
}

SyscallCounter::~SyscallCounter() {
#ifdef __linux__
    if (fd_ >= 0) close(fd_);
#endif
}

uint64_t SyscallCounter::Read() {
#ifdef __linux__
    if (fd_ < 0) return 0;
    uint64_t value = 0;
    ++reads_;
    if (read(fd_, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) return 0;
    return value >= reads_ ? value - reads_ : 0;
#else
    return 0;
#endif
}

Sample Meter::Take() {
    Sample sample;
    rusage usage{};
    ++takes_;
    getrusage(RUSAGE_SELF, &usage);
    uint64_t calls = counter_.Read();
    sample.calls = calls >= takes_ ? calls - takes_ : 0;
    sample.userSeconds = Seconds(usage.ru_utime);
    sample.systemSeconds = Seconds(usage.ru_stime);
    return sample;
}

Sample Between(const Sample& start, const Sample& end) {
    Sample between;
    between.calls = end.calls - start.calls;
    between.userSeconds = end.userSeconds - start.userSeconds;
    between.systemSeconds = end.systemSeconds - start.systemSeconds;
    return between;
}

}  // namespace vudaduv::bench
