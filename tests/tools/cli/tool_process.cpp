#include "tool_process.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "loopback_socket.h"
#include "temp_directory.h"

namespace vudaduv::cli::test {

namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::WriteWholeFile;

constexpr int kBoundMs = 30000;  // a run that takes longer than 30 s is killed
constexpr auto kStep = std::chrono::milliseconds(10);

// Windows has no pseudo-terminals: the scale serves TCP alone there.
#ifdef _WIN32
const std::vector<std::string> kScaleArgs = {"scale", "--listen", "127.0.0.1:0"};
#else
const std::vector<std::string> kScaleArgs = {"scale", "--listen", "127.0.0.1:0", "--pty"};
#endif

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const std::string& input,
                const std::string& outPath) {
    WriteWholeFile(".stdin", input);
    ToolRun run;
    ProcessId process = StartProcess(ToolPath(), args, ".stdin", outPath, ".stderr");
    if (process == kNoProcess) return run;
    run.status = WaitForProcess(process, kBoundMs);
    if (outPath == ".stdout") run.out = ReadWholeFile(".stdout");
    run.err = ReadWholeFile(".stderr");
    return run;
}

unsigned ClosedPort() {
    std::string error;
    std::unique_ptr<vudaduv::testing::HeldPort> listener =
        vudaduv::testing::ListenTcp("127.0.0.1", 0, error);
    return listener ? listener->Port() : 0;
}

ScaleProcess::ScaleProcess(bool codePage) : outputPath_(".scale-output") {
    // The scale prints its port and its pseudo-terminal, then "press Ctrl-C to stop".
    auto ready = [](const std::string& output) {
        return output.find("press Ctrl-C") != std::string::npos;
    };
    std::vector<std::string> args = kScaleArgs;
    if (codePage) args.push_back("--en");
    if (!Launch(args, ready)) return;
    for (const std::string& line : OutputLines()) {
        std::size_t colon = line.rfind(':');
        if (line.rfind("virtual scale listening on ", 0) == 0 && colon != std::string::npos) {
            port_ = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
        } else if (line.rfind("serial line", 0) == 0 && colon != std::string::npos) {
            ptyPath_ = line.substr(colon + 2);
        }
    }
    started_ = port_ != 0;
}

ScaleProcess::ScaleProcess(std::size_t count, unsigned firstPort) : outputPath_(".fleet-output") {
    std::vector<std::string> args = {"scale", "--count", std::to_string(count)};
    if (firstPort != 0) args.insert(args.end(), {"--port", std::to_string(firstPort)});
    auto ready = [count](const std::string& output) {
        return static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n')) >= count;
    };
    started_ = Launch(args, ready);
}

bool ScaleProcess::Launch(const std::vector<std::string>& args,
                          const std::function<bool(const std::string&)>& ready) {
    WriteWholeFile(".scale-input", "");
    process_ = StartProcess(ToolPath(), args, ".scale-input", outputPath_, ".scale-errors");
    if (process_ == kNoProcess) return false;
    for (int waited = 0; waited < kBoundMs; waited += int(kStep.count())) {
        if (ready(Output())) return true;
        if (ProcessEnded(process_)) {
            process_ = kNoProcess;
            return false;
        }
        std::this_thread::sleep_for(kStep);
    }
    return false;
}

ScaleProcess::~ScaleProcess() {
    Stop();
}

int ScaleProcess::Stop() {
    if (process_ == kNoProcess) return -1;
    AskToEnd(process_);
    int status = WaitForProcess(process_, kBoundMs);
    process_ = kNoProcess;
    return status;
}

std::string ScaleProcess::Output() const {
    return ReadWholeFile(outputPath_.c_str());
}

std::vector<std::string> ScaleProcess::OutputLines() const {
    std::istringstream text(Output());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

}  // namespace vudaduv::cli::test
