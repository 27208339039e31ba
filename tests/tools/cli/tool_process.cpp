#include "tool_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace vudaduv::cli::test {

namespace {

constexpr int kWaitSteps = 3000;  // of 10 ms: a run that takes longer than 30 s is killed
constexpr auto kStep = std::chrono::milliseconds(10);

pid_t Spawn(const std::vector<std::string>& args, const std::string& inputPath,
            const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> argv{VUDADUV_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, VUDADUV_TOOL_PATH, &actions, nullptr, pointers.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for the process within the bound; kills it when it overstays. Its exit status, or -1.
int WaitBounded(pid_t pid) {
    for (int step = 0; step < kWaitSteps; ++step) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        std::this_thread::sleep_for(kStep);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

ToolRun RunTool(const std::vector<std::string>& args, const std::string& input) {
    WriteFile(".stdin", input);
    ToolRun run;
    pid_t pid = Spawn(args, ".stdin", ".stdout", ".stderr");
    if (pid < 0) return run;
    run.status = WaitBounded(pid);
    run.out = ReadFile(".stdout");
    run.err = ReadFile(".stderr");
    return run;
}

TempDirectory::TempDirectory() {
    char pattern[] = "/tmp/vudaduv-cli-test-XXXXXX";
    char cwd[4096];
    home_ = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
    if (mkdtemp(pattern) != nullptr && chdir(pattern) == 0) path_ = pattern;
}

TempDirectory::~TempDirectory() {
    if (chdir(home_.c_str()) != 0 || path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

unsigned ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    unsigned port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

ScaleProcess::ScaleProcess() : outputPath_(".scale-output") {
    WriteFile(".scale-input", "");
    pid_ = Spawn({"scale", "--listen", "127.0.0.1:0", "--pty"}, ".scale-input", outputPath_,
                 ".scale-errors");
    if (pid_ < 0) return;
    // The scale prints its port and its pseudo-terminal, then "press Ctrl-C to stop".
    for (int step = 0; step < kWaitSteps && port_ == 0; ++step) {
        std::string output = Output();
        if (output.find("press Ctrl-C") != std::string::npos) {
            std::istringstream lines(output);
            std::string line;
            while (std::getline(lines, line)) {
                std::size_t colon = line.rfind(':');
                if (line.rfind("virtual scale listening on ", 0) == 0 &&
                    colon != std::string::npos) {
                    port_ = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
                } else if (line.rfind("serial line", 0) == 0 && colon != std::string::npos) {
                    ptyPath_ = line.substr(colon + 2);
                }
            }
            break;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(kStep);
    }
}

ScaleProcess::~ScaleProcess() {
    Stop();
}

int ScaleProcess::Stop() {
    if (pid_ < 0) return -1;
    kill(pid_, SIGTERM);
    int status = WaitBounded(pid_);
    pid_ = -1;
    return status;
}

std::string ScaleProcess::Output() const {
    return ReadFile(outputPath_);
}

}  // namespace vudaduv::cli::test
