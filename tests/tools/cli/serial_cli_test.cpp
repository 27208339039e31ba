// Scales on serial lines through the tool, as a shop runs them: pseudo-terminals of
// "vudaduv scale --pty --count N" beside TCP scales in one sync; a line pulled out half-way, one
// held by another process, one that answers garbage or nothing; Ctrl-C, then the next run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "temp_directory.h"
#include "tool_process.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

std::string Items(int first, int last) {
    std::string items;
    for (int i = first; i <= last; ++i) {
        items += std::to_string(i) + "A1,25##Item " + std::to_string(i) + "\n";
    }
    return items;
}

// A process of "vudaduv scale" with args, and the lines it prints on standard output once it
// has printed count of them.
std::vector<std::string> StartScales(ProcessId& process, const std::vector<std::string>& args,
                                     std::size_t count, const std::string& out) {
    process = StartProcess(ToolPath(), args, ".stdin", out, out + "-err");
    for (int i = 0; i < 500 && process != kNoProcess; ++i) {
        std::string text = ReadWholeFile(out.c_str());
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        if (lines.size() >= count) return lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// "serial:PATH" of each of count scales on pseudo-terminals, paced as lines at baud.
std::vector<std::string> StartLines(ProcessId& process, std::size_t count, const char* baud,
                                    const std::string& out = ".lines") {
    std::vector<std::string> lines = StartScales(
        process, {"scale", "--pty", "--count", std::to_string(count), "--baud", baud}, count, out);
    for (std::string& line : lines) line = "serial:" + line;
    return lines;
}

// The state file of a scale, as the fleet names it (its image file): empty, so that the scale is
// known to hold nothing and the sync goes straight to its sends.
void KnownEmpty(const std::vector<std::string>& addresses) {
    std::filesystem::create_directories("state");
    for (const std::string& address : addresses) {
        bool line = address.compare(0, 7, "serial:") == 0;
        std::string name = line ? "serial_" : "";
        for (char c : line ? address.substr(7) : address) {
            auto byte = static_cast<unsigned char>(c);
            name += std::isalnum(byte) != 0 || c == '.' || c == '-'
                        ? static_cast<char>(std::tolower(byte))
                        : '_';
        }
        WriteWholeFile(("state/" + name + ".txt").c_str(), "");
    }
}

void Stop(ProcessId process) {
    AskToEnd(process);
    WaitForProcess(process, 5000);
}

class SerialTool : public ::testing::Test {
  protected:
    void SetUp() override { WriteWholeFile(".stdin", ""); }
    TempDirectory directory_;
};

TEST_F(SerialTool, TcpAndSerialScalesAreSyncedInOneRun) {
    ProcessId network = kNoProcess;
    ProcessId lines = kNoProcess;
    std::vector<std::string> scales = StartScales(network, {"scale", "--count", "2"}, 2, ".tcp");
    std::vector<std::string> serial = StartLines(lines, 2, "230400");
    ASSERT_EQ(scales.size(), 2u);
    ASSERT_EQ(serial.size(), 2u);
    scales.insert(scales.begin() + 1, serial.begin(), serial.end());
    KnownEmpty(scales);
    WriteWholeFile("items.txt", Items(1, 30));
    WriteWholeFile("scales.txt", scales[0] + "\n" + scales[1] + "\n" + scales[2] + "\n" +
                                     scales[3] + "\n" + serial[0] + "@115200\n");
    std::vector<std::string> sync = {"sync",           "--file",     "items.txt", "--type", "1",
                                     "--targets-file", "scales.txt", "--state",   "state"};
    ToolRun first = RunTool(sync);
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    for (const std::string& scale : scales) {
        EXPECT_NE(first.out.find(scale + ": sent 30, unchanged 0, removed 0\n"), std::string::npos)
            << first.out;
    }
    // The line named again at another speed is the same scale: sent to once.
    EXPECT_NE(first.err.find("is the scale of '" + serial[0] + "' again"), std::string::npos)
        << first.err;
    for (const std::string& scale : scales) {
        ToolRun diff =
            RunTool({"diff", "items.txt", "scale:" + scale, "--type", "1", "--items", "1-40"});
        EXPECT_EQ(diff.status, 0) << scale << diff.out << diff.err;
    }
    ToolRun again = RunTool(sync);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find(serial[1] + ": sent 0, unchanged 30, removed 0\n"), std::string::npos)
        << again.out;
    Stop(network);
    Stop(lines);
}

TEST_F(SerialTool, ALinePulledOutHalfWayIsAFailedScaleAndTheRunEnds) {
    ProcessId lines = kNoProcess;
    std::vector<std::string> serial = StartLines(lines, 1, "9600");
    ASSERT_EQ(serial.size(), 1u);
    KnownEmpty(serial);
    // A command and its reply take some 40 ms at 9600 baud: 200 take seconds.
    WriteWholeFile("items.txt", Items(1, 200));
    std::vector<std::string> sync = {"sync",  "--file",   "items.txt",  "--type",
                                     "1",     "--target", serial[0],    "--state",
                                     "state", "--report", "json:r.json"};
    ProcessId run = StartProcess(ToolPath(), sync, ".stdin", ".sync-out", ".sync-err");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    // Both sides of the pseudo-terminal close with the scale's process, as with an adapter
    // pulled out of its socket.
    Stop(lines);
    auto pulled = std::chrono::steady_clock::now();
    int status = WaitForProcess(run, 20000);
    EXPECT_LT(std::chrono::steady_clock::now() - pulled, std::chrono::seconds(15));
    EXPECT_EQ(status, 1);
    std::string out = ReadWholeFile(".sync-out");
    EXPECT_NE(out.find(serial[0] + ": failed"), std::string::npos) << out;
    EXPECT_NE(out.find("the serial line hung up"), std::string::npos) << out;
    nlohmann::json report = nlohmann::json::parse(ReadWholeFile("r.json"));
    EXPECT_EQ(report["scales"][0]["status"], "failed");
}

TEST_F(SerialTool, ALineHeldByAnotherProcessIsInUse) {
    ProcessId lines = kNoProcess;
    std::vector<std::string> serial = StartLines(lines, 1, "230400");
    ASSERT_EQ(serial.size(), 1u);
    // This test's process holds the line, as a terminal program left open would.
    int held = open(serial[0].substr(7).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    KnownEmpty(serial);
    WriteWholeFile("items.txt", Items(1, 5));
    ToolRun sync = RunTool(
        {"sync", "--file", "items.txt", "--type", "1", "--target", serial[0], "--state", "state"});
    EXPECT_EQ(sync.status, 1);
    EXPECT_NE(sync.out.find(serial[0] + ": failed: could not be read: in use by another process"),
              std::string::npos)
        << sync.out;
    ToolRun pull = RunTool(
        {"pull", "--target", serial[0], "--out", "pulled", "--types", "1", "--items", "1-5"});
    EXPECT_EQ(pull.status, 1);
    EXPECT_NE(pull.err.find("not read: in use by another process"), std::string::npos) << pull.err;
    close(held);
    // Let go, the line is the tool's.
    ToolRun free = RunTool(
        {"sync", "--file", "items.txt", "--type", "1", "--target", serial[0], "--state", "state"});
    EXPECT_EQ(free.status, 0) << free.out << free.err;
    Stop(lines);
}

// A pseudo-terminal of this test's own that answers every command line with answer.
class GarbageLine {
  public:
    explicit GarbageLine(std::string answer) : answer_(std::move(answer)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char name[256] = {};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name) != 0) {
            return;
        }
        path_ = name;
        device_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);  // the master never hangs up
        termios settings{};
        if (device_ < 0 || tcgetattr(device_, &settings) != 0) return;
        cfmakeraw(&settings);
        tcsetattr(device_, TCSANOW, &settings);
        thread_ = std::thread([this] { Serve(); });
    }
    ~GarbageLine() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (device_ >= 0) close(device_);
        if (master_ >= 0) close(master_);
    }
    std::string Address() const { return "serial:" + path_; }
    bool Ready() const { return thread_.joinable(); }

  private:
    void Serve() {
        while (!stop_) {
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0) continue;
            char buffer[4096];
            ssize_t got = read(master_, buffer, sizeof buffer);
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[i] == '\n' && write(master_, answer_.data(), answer_.size()) < 0) return;
            }
        }
    }
    std::string answer_;
    int master_ = -1;
    int device_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(SerialTool, GarbageOrNothingOnTheLineIsAFailedScaleWithItsCause) {
    struct Case {
        const char* name;
        std::string answer;
        const char* cause;
    };
    const std::vector<Case> cases = {
        {"lines no scale sends", "\x15\x7f~~noise~~\r\n", "answered with an error or no scale's"},
        {"bytes without a line end", "\x15\x7f~~noise", "timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GarbageLine line(c.answer);
        ASSERT_TRUE(line.Ready());
        WriteWholeFile("items.txt", Items(1, 5));
        auto start = std::chrono::steady_clock::now();
        ToolRun sync =
            RunTool({"sync", "--file", "items.txt", "--type", "1", "--target", line.Address(),
                     "--state", "state", "--timeout", "200", "--retries", "0"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(sync.status, 1) << sync.out << sync.err;
        EXPECT_NE(sync.out.find(line.Address() + ": failed: could not be read: "),
                  std::string::npos)
            << sync.out;
        EXPECT_NE(sync.out.find(c.cause), std::string::npos) << sync.out;
    }
}

TEST_F(SerialTool, CtrlCStopsTheSyncAndTheNextRunSendsTheRest) {
    if (!AskToEndLetsItFinish()) GTEST_SKIP() << "no signal here asks the tool to stop";
    ProcessId lines = kNoProcess;
    std::vector<std::string> serial = StartLines(lines, 1, "38400");
    ASSERT_EQ(serial.size(), 1u);
    KnownEmpty(serial);
    // Some 2 ms a command and its reply at 38400 baud: the sends and read-backs take seconds.
    WriteWholeFile("items.txt", Items(1, 100));
    std::vector<std::string> sync = {"sync",  "--file",   "items.txt",       "--type",
                                     "1",     "--target", serial[0],         "--state",
                                     "state", "--report", "json:report.json"};
    ProcessId first = StartProcess(ToolPath(), sync, ".stdin", ".first-out", ".first-err");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    AskToEnd(first);
    int status = WaitForProcess(first, 10000);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1);
    std::string err = ReadWholeFile(".first-err");
    EXPECT_NE(err.find("vudaduv sync: interrupted: the next run sends the rest"), std::string::npos)
        << err;
    nlohmann::json report = nlohmann::json::parse(ReadWholeFile("report.json"));
    EXPECT_EQ(report["scales"][0]["status"], "interrupted");
    std::size_t written = report["scales"][0]["written"];
    EXPECT_LT(written, 100u);

    // The next run finds the line free and sends the rest; the scale then holds the list.
    ToolRun again = RunTool(sync);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    ToolRun diff =
        RunTool({"diff", "items.txt", "scale:" + serial[0], "--type", "1", "--items", "1-120"});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    Stop(lines);
}

}  // namespace
}  // namespace vudaduv::cli::test
