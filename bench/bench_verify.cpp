// The tool's --verify against its send: 200 items to a fleet of 20 virtual scales that wait
// 20 ms before every reply, run by hand (Linux):
//
//     build/default/bin/bench_verify [--scales N] [--items N]
//
// Starts "vudaduv scale --count N --reply-delay 20" beside it, then times, median of five, a
// plain "vudaduv send" of the items to every scale and a "vudaduv send --verify" of the same
// items. The read-back of --verify goes to every served scale at once, so it costs about one
// more send: the verification's own time is the difference of the two, and the figure is its
// ratio to the plain send's.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command and returns its wall time in milliseconds; -1 when it fails.
double TimedRun(const std::string& command) {
    auto start = Clock::now();
    int status = std::system(command.c_str());
    if (status != 0) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int scales = 20;
    int items = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--scales") == 0) scales = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--items") == 0) items = std::atoi(argv[i + 1]);
    }
    fs::path tool = fs::canonical("/proc/self/exe").parent_path() / "vudaduv";
    fs::path folder = fs::temp_directory_path() / ("bench-verify-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path data = folder / "items.txt";
    fs::path targets = folder / "scales.txt";
    {
        std::ofstream out(data);
        for (int i = 1; i <= items; ++i) {
            out << i << "A0012345000150##apple " << i << "##Fresh\n";
        }
    }
    pid_t fleet = fork();
    if (fleet == 0) {
        std::freopen(targets.c_str(), "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::string count = std::to_string(scales);
        execl(tool.c_str(), "vudaduv", "scale", "--count", count.c_str(), "--reply-delay", "20",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int waited = 0; waited < 100; ++waited) {
        std::string listed = ReadFile(targets);
        if (std::count(listed.begin(), listed.end(), '\n') >= scales) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string send = tool.string() + " send --type 1 --charset UTF-8 --targets-file " +
                       targets.string() + " --file " + data.string() + " >/dev/null 2>&1";
    std::vector<double> plain;
    std::vector<double> verified;
    for (int run = 0; run < kRuns; ++run) {
        plain.push_back(TimedRun(send));
        verified.push_back(TimedRun(send.substr(0, send.find(" >")) + " --verify >/dev/null 2>&1"));
    }
    kill(fleet, SIGTERM);
    waitpid(fleet, nullptr, 0);
    fs::remove_all(folder);
    if (std::count(plain.begin(), plain.end(), -1.0) +
            std::count(verified.begin(), verified.end(), -1.0) >
        0) {
        std::fprintf(stderr, "bench_verify: a send failed\n");
        return 1;
    }
    double send_ms = Median(plain);
    double verify_ms = Median(verified) - send_ms;
    std::printf("%d items to %d scales (20 ms replies), median of %d\n", items, scales, kRuns);
    std::printf(
        "send %.0f ms, send --verify %.0f ms: the verification takes %.0f ms, %.2fx the send\n",
        send_ms, Median(verified), verify_ms, verify_ms / send_ms);
    return 0;
}
