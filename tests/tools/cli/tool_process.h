// Runs the vudaduv tool as a real process in the current directory, with its standard streams
// in files, and a virtual scale process to send to.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace vudaduv::cli::test {

struct ToolRun {
    int status = -1;  // exit status; -1 when it did not exit by itself in time
    std::string out;
    std::string err;
};

// Starts the tool with args, input as its standard input, and waits for it (bounded). Its
// standard output goes to outPath (read back into out unless it is a device).
ToolRun RunTool(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& outPath = ".stdout");

// A loopback port that nothing listens on (bound once, then closed).
unsigned ClosedPort();

// "vudaduv scale --listen 127.0.0.1:0 --pty" as a process of its own (without --pty on
// Windows, which has no pseudo-terminals).
class ScaleProcess {
  public:
    // "vudaduv scale --pty", with "--en" when codePage is set.
    explicit ScaleProcess(bool codePage = false);
    // "vudaduv scale --count count", with "--port firstPort" unless it is 0: a fleet, whose
    // addresses are its output lines.
    ScaleProcess(std::size_t count, unsigned firstPort);
    ~ScaleProcess();
    ScaleProcess(const ScaleProcess&) = delete;
    ScaleProcess& operator=(const ScaleProcess&) = delete;

    bool Started() const { return started_; }
    unsigned Port() const { return port_; }  // of the one scale
    const std::string& PtyPath() const { return ptyPath_; }
    // Asks the scale to end (see AskToEnd) and waits; the exit status (-1 when it did not
    // stop in time).
    int Stop();
    std::string Output() const;
    std::vector<std::string> OutputLines() const;

  private:
    // Starts the tool with args and waits until ready finds its output complete; false when
    // the process ended first or took too long.
    bool Launch(const std::vector<std::string>& args,
                const std::function<bool(const std::string&)>& ready);

    ProcessId process_ = kNoProcess;
    bool started_ = false;
    unsigned port_ = 0;
    std::string ptyPath_;
    std::string outputPath_;
};

}  // namespace vudaduv::cli::test
