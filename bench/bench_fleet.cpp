// One SendData of 200 item command lines to fleets of 1, 10, 100 and 1000 virtual scales in this
// process, each scale waiting 20 ms before every reply as real scales do. Prints, per fleet, the
// wall time of the send, its ratio to one scale's, the process's peak memory and its peak thread
// count during the send (this program's own threads included: the main one, the fleet's one and
// the sampler), with SendData's result and the replies that did not come. Run by hand (Linux):
//
//     build/default/bin/bench_fleet [--max N]
//
// A send to every scale at once takes about as long as a send to one, whatever the fleet's size;
// threads do not grow with it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scale_platform.h"
#include "send/command_list.h"
#include "virtual_scale.h"
#include "wqdatasend.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFleetSizes[] = {1, 10, 100, 1000};
constexpr int kItems = 200;
constexpr auto kReplyDelay = std::chrono::milliseconds(20);
constexpr auto kSampleEvery = std::chrono::milliseconds(5);
// Each scale takes a listener and a connection on the scale's side and a connection on the
// sender's.
constexpr std::size_t kFilesPerScale = 3;
constexpr std::size_t kSpareFiles = 64;

// Realistic item data lines (number, price fields, GB2312 texts), turned into command lines by
// the library's own codec.
std::vector<std::string> ItemCommandLines() {
    std::vector<std::string> data;
    for (int i = 0; i < kItems; ++i) {
        data.push_back(std::to_string(i + 1) + "A0012345000150##\xB0\xA1\xB0\xA2\xB0\xA3 apple " +
                       std::to_string(i) + "##\xCB\xAE\xB9\xFB##Fresh");
    }
    std::vector<const char*> pointers;
    for (const std::string& line : data) pointers.push_back(line.c_str());
    WQStringList list{pointers.data(), static_cast<uint32_t>(pointers.size())};
    return vudaduv::BuildCommandList(1, list, false);
}

// A line "Name:  value kB" of /proc/self/status, as a number; 0 where there is none.
long StatusValue(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    std::size_t length = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':') {
            return std::atol(line.c_str() + length + 1);
        }
    }
    return 0;
}

// Starts the peak memory anew, where the system allows it; false when the peak is the
// process's whole life's.
bool ResetPeakMemory() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return clearRefs.good() && StatusValue("VmHWM") != 0;
}

double PeakMemoryMb() {
    long peakKb = StatusValue("VmHWM");
#ifndef _WIN32
    if (peakKb == 0) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        peakKb = usage.ru_maxrss;
    }
#endif
    return static_cast<double>(peakKb) / 1024.0;
}

// Samples the process's thread count while a send runs and keeps the highest.
class ThreadSampler {
  public:
    ThreadSampler()
        : thread_([this] {
              while (!done_.load()) {
                  peak_ = std::max(peak_, StatusValue("Threads"));
                  std::this_thread::sleep_for(kSampleEvery);
              }
          }) {}

    long Peak() {
        done_.store(true);
        if (thread_.joinable()) thread_.join();
        return peak_;
    }

    ~ThreadSampler() { Peak(); }

  private:
    std::atomic<bool> done_{false};
    long peak_ = 0;
    std::thread thread_;
};

struct Row {
    std::size_t scales = 0;
    double seconds = 0;
    double memoryMb = 0;
    long threads = 0;
    int32_t result = 0;          // SendData's
    std::size_t missing = 0;     // replies that did not come
};

// The reply lines in "Rec.txt", one per line.
std::size_t RepliesReceived() {
    std::ifstream file("Rec.txt", std::ios::binary);
    std::string line;
    std::size_t lines = 0;
    while (std::getline(file, line)) ++lines;
    return lines;
}

bool SendToFleet(std::size_t scales, const std::vector<std::string>& commands, Row& row) {
    vudaduv::scale::ServerOptions options;
    options.replyDelay = kReplyDelay;
    vudaduv::scale::ScaleFleet fleet(scales, options);
    std::string error;
    if (!fleet.Start(error)) {
        std::fprintf(stderr, "bench_fleet: %zu scales: %s\n", scales, error.c_str());
        return false;
    }
    std::vector<std::string> targets;
    for (uint16_t port : fleet.Ports()) targets.push_back("127.0.0.1:" + std::to_string(port));
    std::vector<const char*> targetPointers;
    for (const std::string& target : targets) targetPointers.push_back(target.c_str());
    std::vector<const char*> commandPointers;
    for (const std::string& command : commands) commandPointers.push_back(command.c_str());
    WQST target{{targetPointers.data(), static_cast<uint32_t>(targetPointers.size())},
                {nullptr, 0},
                {nullptr, 0},
                0};
    WQST command{{nullptr, 0},
                 {commandPointers.data(), static_cast<uint32_t>(commandPointers.size())},
                 {nullptr, 0},
                 0};

    ThreadSampler sampler;
    Clock::time_point start = Clock::now();
    row.result = SendData(&target, &command);
    row.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    row.threads = sampler.Peak();
    row.memoryMb = PeakMemoryMb();
    row.scales = scales;
    std::size_t received = RepliesReceived();
    std::size_t expected = scales * commands.size();
    row.missing = received < expected ? expected - received : 0;
    fleet.Stop();
    return true;
}

// "--max N" stops after the fleets of up to N scales.
bool ReadMaximum(int argc, char** argv, std::size_t& maximum) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max") == 0 && i + 1 < argc) {
            char* end = nullptr;
            unsigned long value = std::strtoul(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || value == 0) return false;
            maximum = value;
        } else {
            return false;
        }
    }
    return true;
}

// Rec.txt goes to a directory of its own, made anew for each send.
struct WorkDirectory {
    fs::path path;
    fs::path previous = fs::current_path();

    WorkDirectory() {
        path = fs::temp_directory_path() /
               ("bench_fleet-" + std::to_string(Clock::now().time_since_epoch().count()));
        fs::create_directories(path);
        fs::current_path(path);
    }
    ~WorkDirectory() {
        std::error_code ignored;
        fs::current_path(previous, ignored);
        fs::remove_all(path, ignored);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::size_t maximum = kFleetSizes[std::size(kFleetSizes) - 1];
    if (!ReadMaximum(argc, argv, maximum)) {
        std::fprintf(stderr, "usage: bench_fleet [--max N]\n");
        return 2;
    }
    std::size_t wantedFiles = kFilesPerScale * maximum + kSpareFiles;
    std::size_t files = vudaduv::scale::platform::RaiseOpenFileLimit(wantedFiles);
    if (files < wantedFiles) {
        std::fprintf(stderr,
                     "bench_fleet: %zu scales take %zu open files here, but this process may "
                     "open only %zu; raise the limit (ulimit -Hn) or pass a smaller --max\n",
                     maximum, wantedFiles, files);
        return 1;
    }
    std::vector<std::string> commands = ItemCommandLines();
    bool peakPerRow = ResetPeakMemory();
    std::printf("one send of %zu item command lines, every scale waiting %lld ms per reply\n",
                commands.size(), static_cast<long long>(kReplyDelay.count()));
    std::printf("%8s %10s %7s %18s %8s %7s %8s\n", "scales", "wall (s)", "ratio",
                peakPerRow ? "peak memory (MB)" : "peak since start", "threads", "result",
                "missing");
    double single = 0;
    for (std::size_t scales : kFleetSizes) {
        if (scales > maximum) break;
        WorkDirectory directory;
        ResetPeakMemory();
        Row row;
        if (!SendToFleet(scales, commands, row)) return 1;
        if (single == 0) single = row.seconds;
        std::printf("%8zu %10.2f %7.2f %18.1f %8ld %7d %8zu\n", row.scales, row.seconds,
                    row.seconds / single, row.memoryMb, row.threads, static_cast<int>(row.result),
                    row.missing);
        std::fflush(stdout);
    }
    return 0;
}
