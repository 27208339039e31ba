// A fleet of virtual scales in a process of its own (the program bench_scales), so that what a
// benchmark's client spends (CPU, memory, system calls) is measured apart from the scales.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vudaduv::bench {

class ScaleProcess {
  public:
    ScaleProcess() = default;
    ~ScaleProcess();  // stops
    ScaleProcess(const ScaleProcess&) = delete;
    ScaleProcess& operator=(const ScaleProcess&) = delete;

    // Starts program with count scales, each waiting replyDelayMs before every reply, each
    // having answered the preload command lines (no CR LF) before it listens; returns once
    // every scale listens. False with a message when the program did not start or gave fewer
    // addresses.
    bool Start(const std::string& program, std::size_t count, int replyDelayMs,
               const std::vector<std::string>& preload, std::string& error);
    const std::vector<std::string>& Addresses() const { return addresses_; }
    const std::vector<uint16_t>& Ports() const { return ports_; }
    // The CPU its threads have spent so far (the kernel's account of each thread's run time).
    double CpuSeconds() const;
    void Stop();  // closes its input, which ends it, and waits for it

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::vector<std::string> addresses_;
    std::vector<uint16_t> ports_;
};

// The path of a program in the same directory as this one.
std::string ProgramBesideThisOne(const std::string& name);

// A "Name: value kB" line of /proc/self/status, in kB; 0 where there is none.
long StatusKb(const char* name);

// Gives back what the allocator keeps freed and starts the peak resident memory (VmHWM) anew;
// false when the system does not allow it and the peak is that of the process's whole life.
bool ResetPeakMemory();

}  // namespace vudaduv::bench
