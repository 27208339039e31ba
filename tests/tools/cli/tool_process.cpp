#include "tool_process.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "scale_platform.h"
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
    std::unique_ptr<scale::platform::TcpListener> listener =
        scale::platform::ListenTcp("127.0.0.1", 0, error);
    return listener ? listener->Port() : 0;
}

ScaleProcess::ScaleProcess() : outputPath_(".scale-output") {
    WriteWholeFile(".scale-input", "");
    process_ = StartProcess(ToolPath(), kScaleArgs, ".scale-input", outputPath_, ".scale-errors");
    if (process_ == kNoProcess) return;
    // The scale prints its port and its pseudo-terminal, then "press Ctrl-C to stop".
    for (int waited = 0; waited < kBoundMs && port_ == 0; waited += int(kStep.count())) {
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
        if (ProcessEnded(process_)) {
            process_ = kNoProcess;
            return;
        }
        std::this_thread::sleep_for(kStep);
    }
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

}  // namespace vudaduv::cli::test

namespace vudaduv::cli::test {

ScriptedScale::ScriptedScale(std::function<std::string(const std::string&)> answer)
    : answer_(std::move(answer)) {
    std::string error;
    std::shared_ptr<scale::platform::TcpListener> listener =
        scale::platform::ListenTcp("127.0.0.1", 0, error);
    if (!listener) return;
    port_ = listener->Port();
    thread_ = std::thread([this, listener] {
        while (!stop_) {
            std::unique_ptr<scale::platform::Stream> stream = listener->Accept(50);
            std::string pending;
            while (stream && !stop_) {
                if (stream->Read(pending, 50) == scale::platform::ReadStatus::kClosed) break;
                for (std::size_t end = pending.find('\n'); end != std::string::npos;
                     end = pending.find('\n')) {
                    std::string line = pending.substr(0, end);
                    pending.erase(0, end + 1);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    std::string reply = answer_(line);
                    if (!reply.empty()) stream->Write(reply + "\r\n", stop_);
                }
            }
        }
    });
}

ScriptedScale::~ScriptedScale() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

}  // namespace vudaduv::cli::test
