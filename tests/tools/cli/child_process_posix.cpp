#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "child_process.h"

extern char** environ;

namespace vudaduv::cli::test {

namespace {

constexpr int kStepMs = 10;

pid_t PidOf(ProcessId process) {
    return static_cast<pid_t>(process);
}

}  // namespace

std::string ToolPath() {
    return VUDADUV_TOOL_PATH;
}

ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& inputPath, const std::string& outPath,
                       const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid < 0 ? kNoProcess : static_cast<ProcessId>(pid);
}

bool ProcessEnded(ProcessId process) {
    return waitpid(PidOf(process), nullptr, WNOHANG) == PidOf(process);
}

int WaitForProcess(ProcessId process, int boundMs) {
    for (int waited = 0; waited < boundMs; waited += kStepMs) {
        int status = 0;
        pid_t done = waitpid(PidOf(process), &status, WNOHANG);
        if (done == PidOf(process)) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    kill(PidOf(process), SIGKILL);
    waitpid(PidOf(process), nullptr, 0);
    return -1;
}

void AskToEnd(ProcessId process) {
    kill(PidOf(process), SIGTERM);
}

bool AskToEndLetsItFinish() {
    return true;
}

}  // namespace vudaduv::cli::test
