// Counts system calls by the kernel's own tracepoint (raw_syscalls:sys_enter) through
// perf_event_open: no tracer stops the process at each call, so the counted run keeps its pace.
// Linux only; elsewhere, or without the permission or the tracing file system, it says why.
#pragma once

#include <cstdint>
#include <string>

namespace vudaduv::bench {

// The calls of the thread that opens it and of the threads it starts afterwards; processes it
// starts are not counted (each is measured on its own).
class SyscallCounter {
  public:
    SyscallCounter();
    ~SyscallCounter();
    SyscallCounter(const SyscallCounter&) = delete;
    SyscallCounter& operator=(const SyscallCounter&) = delete;

    bool Counting() const { return fd_ >= 0; }
    const std::string& WhyNot() const { return whyNot_; }  // when not counting

    // The calls since it was opened, less its own reads (each read is a call the kernel counts
    // before it answers). 0 when not counting.
    uint64_t Read();

  private:
    int fd_ = -1;
    uint64_t reads_ = 0;
    std::string whyNot_;
};

// CPU of the whole process and the calls of the counter's threads, read together.
struct Sample {
    uint64_t calls = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
};

// A counter and the process's CPU, sampled at the edges of each measured part. Its own calls
// (one getrusage and one read a sample) are left out of the counts.
class Meter {
  public:
    bool Counting() const { return counter_.Counting(); }
    const std::string& WhyNot() const { return counter_.WhyNot(); }
    Sample Take();

  private:
    SyscallCounter counter_;
    uint64_t takes_ = 0;
};

// The difference of two samples.
Sample Between(const Sample& start, const Sample& end);

}  // namespace vudaduv::bench
