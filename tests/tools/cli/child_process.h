// Starting and ending a program as a child process, with its standard streams in files. One
// implementation per system: child_process_posix.cpp (posix_spawn) and
// child_process_windows.cpp (CreateProcessA).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vudaduv::cli::test {

// A running child: a process id on POSIX systems, a process HANDLE on Windows.
using ProcessId = std::intptr_t;
constexpr ProcessId kNoProcess = -1;

// The tool under test: the path it was built at (POSIX), or the file beside this test program
// (Windows, where the build's paths are not Windows paths).
std::string ToolPath();

// Starts program with args; its standard input is read from inputPath, its output and errors
// go to outPath and errPath (made anew). kNoProcess when it cannot start.
ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& inputPath, const std::string& outPath,
                       const std::string& errPath);

// True when the process has ended; it is then gone and its id no longer usable.
bool ProcessEnded(ProcessId process);

// Waits for the process at most boundMs and kills it when it overstays; the id is used up.
// Its exit status, or -1 when it did not exit by itself in time.
int WaitForProcess(ProcessId process, int boundMs);

// Asks the process to end: SIGTERM on POSIX systems, which the tool takes as a stop. Windows
// has no such request for a program without a console (and Wine gives none to send Ctrl-Break
// to), so there the process is terminated.
void AskToEnd(ProcessId process);

// Whether AskToEnd lets the program end itself (a signal it may handle), rather than ending it at
// once as TerminateProcess does on Windows.
bool AskToEndLetsItFinish();

}  // namespace vudaduv::cli::test
