// One SendData of 200 item command lines to fleets of 1, 10, 100, 1000 and 5000 virtual scales
// in a process of their own (bench_scales), each scale waiting 20 ms before every reply as real
// scales do; then, over the same fleet, the same commands through a bare loop: one thread, epoll,
// non-blocking sockets, write a command, read its reply line, the least any sender can do. Run
// by hand (Linux):
//
//     build/default/bin/bench_fleet [--max N] [--rounds N]
//
// Prints per fleet, as a table: the wall time of each, the transport's ratio to one scale's; the
// system calls per answered command of each (the kernel's count of this process's calls,
// raw_syscalls:sys_enter) and their ratio, whose aim at 1000 and 5000 scales is at most 1.05;
// the sender's CPU per answered command of each; the fleet's CPU per reply; the sender's peak
// memory per scale; the peak thread count during the send (this program's own threads included:
// the main one and the sampler); SendData's result and the replies that did not come.
//
// CPU: getrusage of this process across each phase, less the thread sampler's, which reads its
// own clock. The fleet's is the run time of its process's threads across the same phase.
//
// Rounds: this machine's other work moves the figures by a fifth from run to run, so each fleet
// takes the transport and then the bare loop three times (--rounds N), and every figure printed
// is the median of its rounds. Only the system calls hold still.
//
// Memory per scale: the sender's peak resident memory during the send less its resident memory
// before, over the scales.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "measure/scale_process.h"
#include "measure/syscall_counter.h"
#include "scale_platform.h"
#include "vudaduv_codec.h"
#include "wqdatasend.h"

#ifdef __linux__
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace bench = vudaduv::bench;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFleetSizes[] = {1, 10, 100, 1000, 5000};
constexpr int kItems = 200;
constexpr auto kReplyDelay = std::chrono::milliseconds(20);
constexpr auto kSampleEvery = std::chrono::milliseconds(5);
// Each scale takes a connection on the sender's side (its listener and connection are the
// scale process's).
constexpr std::size_t kFilesPerScale = 1;
constexpr std::size_t kSpareFiles = 64;
// The bare loop gives up on a fleet that stays silent this long (a safety net).
constexpr auto kBarePatience = std::chrono::seconds(60);
// The aim for the transport's calls per reply over the bare loop's, at 1000 scales and more.
constexpr double kCallsGoal = 1.05;
constexpr std::size_t kCallsGoalFrom = 1000;

// Realistic item data lines (number, price fields, GB2312 texts), turned into command lines by
// the library's own codec.
std::vector<std::string> ItemCommandLines() {
    std::vector<std::string> data;
    for (int i = 0; i < kItems; ++i) {
        data.push_back(std::to_string(i + 1) + "A0012345000150##\xB0\xA1\xB0\xA2\xB0\xA3 apple " +
                       std::to_string(i) + "##\xCB\xAE\xB9\xFB##Fresh");
    }
    return vudaduv::BuildCommandList(1, data, false);
}

// Samples the process's thread count while a send runs and keeps the highest. Its own CPU is
// read by itself as it ends, so that the sender is not charged with it.
class ThreadSampler {
  public:
    ThreadSampler()
        : thread_([this] {
              while (!done_.load()) {
                  peak_ = std::max(peak_, bench::StatusKb("Threads"));
                  std::this_thread::sleep_for(kSampleEvery);
              }
              cpu_ = vudaduv::scale::platform::ThreadCpuTime();
          }) {}

    long Peak() {
        done_.store(true);
        if (thread_.joinable()) thread_.join();
        return peak_;
    }

    double CpuSeconds() {
        Peak();
        return std::chrono::duration<double>(cpu_).count();
    }

    ~ThreadSampler() { Peak(); }

  private:
    std::atomic<bool> done_{false};
    long peak_ = 0;
    std::chrono::nanoseconds cpu_{0};
    std::thread thread_;
};

// Wall time, the sender's CPU and calls, and the fleet's CPU across one phase. The counter opens
// with the clock: threads started before it (the sampler) are not counted.
class PhaseClock {
  public:
    explicit PhaseClock(const bench::ScaleProcess& fleet)
        : fleet_(fleet), fleetStart_(fleet.CpuSeconds()), start_(meter_.Take()) {}

    void Stop() {
        bench::Sample used = bench::Between(start_, meter_.Take());
        wall_ = std::chrono::duration<double>(Clock::now() - began_).count();
        fleetCpu_ = fleet_.CpuSeconds() - fleetStart_;
        senderCpu_ = used.userSeconds + used.systemSeconds;
        calls_ = used.calls;
    }

    double Wall() const { return wall_; }
    double SenderCpu() const { return senderCpu_; }
    double FleetCpu() const { return fleetCpu_; }
    uint64_t Calls() const { return calls_; }

  private:
    const bench::ScaleProcess& fleet_;
    double fleetStart_;
    bench::Meter meter_;
    bench::Sample start_;
    Clock::time_point began_ = Clock::now();
    double wall_ = 0, senderCpu_ = 0, fleetCpu_ = 0;
    uint64_t calls_ = 0;
};

struct Phase {
    double seconds = 0;
    double senderCpu = 0;
    double fleetCpu = 0;
    std::size_t answered = 0;
    uint64_t calls = 0;
};

// Rec.txt goes to a directory of its own, made anew for each send through the transport.
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

double MicrosecondsEach(double seconds, std::size_t count) {
    return count == 0 ? 0 : seconds * 1e6 / static_cast<double>(count);
}

double SenderPerCommand(const Phase& phase) {
    return MicrosecondsEach(phase.senderCpu, phase.answered);
}

double CallsPerCommand(const Phase& phase) {
    return phase.answered == 0
               ? 0
               : static_cast<double>(phase.calls) / static_cast<double>(phase.answered);
}

double FleetPerReply(const Phase& phase) {
    return MicrosecondsEach(phase.fleetCpu, phase.answered);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Row {
    std::size_t scales = 0;
    std::vector<Phase> transport;  // round by round
    std::vector<Phase> bare;
    double kbPerScale = 0;      // the transport's
    double bareKbPerScale = 0;  // the bare loop's
    long threads = 0;
    int32_t result = 0;       // SendData's
    std::size_t missing = 0;  // replies that did not come, in any round
};

// The reply lines in "Rec.txt", one per line.
std::size_t RepliesReceived() {
    std::ifstream file("Rec.txt", std::ios::binary);
    std::string line;
    std::size_t lines = 0;
    while (std::getline(file, line)) ++lines;
    return lines;
}

void SendThroughTransport(const bench::ScaleProcess& fleet,
                          const std::vector<std::string>& commands, Phase& phase, Row& row) {
    std::vector<std::string> targets;
    for (const std::string& address : fleet.Addresses()) targets.push_back(address);
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
    PhaseClock clock(fleet);
    int32_t result = SendData(&target, &command);
    clock.Stop();
    if (row.result == 0) row.result = result;
    row.threads = std::max(row.threads, sampler.Peak());
    phase = {clock.Wall(), clock.SenderCpu() - sampler.CpuSeconds(), clock.FleetCpu(),
             RepliesReceived(), clock.Calls()};
}

// One scale's connection in the bare loop: the next command to write and the reply lines come.
struct BarePeer {
    int fd = -1;
    std::size_t next = 0;
    std::size_t answered = 0;
};

int ConnectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    return fd;
}

bool WriteCommand(BarePeer& peer, const std::vector<std::string>& commands) {
    const std::string& command = commands[peer.next];
    return send(peer.fd, command.data(), command.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(command.size());
}

void Finish(int poller, BarePeer& peer, std::size_t& open) {
    epoll_ctl(poller, EPOLL_CTL_DEL, peer.fd, nullptr);
    close(peer.fd);
    peer.fd = -1;
    --open;
}

// Reads what came and writes the next command after each reply line; a command line is short
// enough that the socket always takes it whole.
void TakeReplies(int poller, BarePeer& peer, const std::vector<std::string>& commands,
                 std::size_t& open) {
    char buffer[4096];
    for (;;) {
        ssize_t got = recv(peer.fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            return Finish(poller, peer, open);
        }
        if (got < 0) return;
        std::size_t lines = static_cast<std::size_t>(std::count(buffer, buffer + got, '\n'));
        peer.answered += lines;
        peer.next += lines;
        if (peer.next >= commands.size()) return Finish(poller, peer, open);
        if (lines > 0 && !WriteCommand(peer, commands)) return Finish(poller, peer, open);
        if (static_cast<std::size_t>(got) < sizeof buffer) return;
    }
}

void SendThroughBareLoop(const bench::ScaleProcess& fleet, const std::vector<std::string>& commands,
                         Phase& phase) {
    PhaseClock clock(fleet);
    int poller = epoll_create1(0);
    std::vector<BarePeer> peers(fleet.Ports().size());
    std::size_t open = 0;
    for (std::size_t i = 0; i < peers.size(); ++i) {
        BarePeer& peer = peers[i];
        peer.fd = ConnectTo(fleet.Ports()[i]);
        if (peer.fd < 0) continue;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        epoll_ctl(poller, EPOLL_CTL_ADD, peer.fd, &event);
        ++open;
        if (!WriteCommand(peer, commands)) Finish(poller, peer, open);
    }
    std::vector<epoll_event> ready(256);
    Clock::time_point lastNews = Clock::now();
    while (open > 0 && Clock::now() - lastNews < kBarePatience) {
        int count = epoll_wait(poller, ready.data(), static_cast<int>(ready.size()), 1000);
        if (count > 0) lastNews = Clock::now();
        for (int i = 0; i < count; ++i) {
            BarePeer& peer = peers[ready[static_cast<std::size_t>(i)].data.u64];
            if (peer.fd >= 0) TakeReplies(poller, peer, commands, open);
        }
    }
    for (BarePeer& peer : peers) {
        if (peer.fd >= 0) Finish(poller, peer, open);
    }
    close(poller);
    clock.Stop();
    std::size_t answered = 0;
    for (const BarePeer& peer : peers) answered += peer.answered;
    phase = {clock.Wall(), clock.SenderCpu(), clock.FleetCpu(), answered, clock.Calls()};
}

// The peak resident memory since it was last reset, beyond residentBefore, a scale.
double KbPerScale(long residentBefore, std::size_t scales) {
    return static_cast<double>(bench::StatusKb("VmHWM") - residentBefore) /
           static_cast<double>(scales);
}

bool SendToFleet(std::size_t scales, const std::vector<std::string>& commands, int rounds,
                 Row& row) {
    bench::ScaleProcess fleet;
    std::string error;
    if (!fleet.Start(bench::ProgramBesideThisOne("bench_scales"), scales,
                     static_cast<int>(kReplyDelay.count()), {}, error)) {
        std::fprintf(stderr, "bench_fleet: %zu scales: %s\n", scales, error.c_str());
        return false;
    }
    std::vector<Phase>& transport = row.transport;
    std::vector<Phase>& bare = row.bare;
    transport.resize(static_cast<std::size_t>(rounds));
    bare.resize(transport.size());
    std::size_t expected = scales * commands.size();
    for (std::size_t round = 0; round < transport.size(); ++round) {
        bench::ResetPeakMemory();  // first: it gives back what the allocator kept
        long residentBefore = bench::StatusKb("VmRSS");
        {
            WorkDirectory directory;  // a Rec.txt of the round's own
            SendThroughTransport(fleet, commands, transport[round], row);
        }
        if (round == 0) row.kbPerScale = KbPerScale(residentBefore, scales);
        bench::ResetPeakMemory();
        residentBefore = bench::StatusKb("VmRSS");
        SendThroughBareLoop(fleet, commands, bare[round]);
        if (round == 0) row.bareKbPerScale = KbPerScale(residentBefore, scales);
        row.missing += (expected - std::min(expected, transport[round].answered)) +
                       (expected - std::min(expected, bare[round].answered));
    }
    row.scales = scales;
    fleet.Stop();
    return true;
}

// "--max N" stops after the fleets of up to N scales; "--rounds N" takes each fleet N times.
bool ReadOptions(int argc, char** argv, std::size_t& maximum, int& rounds) {
    for (int i = 1; i + 1 < argc; i += 2) {
        char* end = nullptr;
        unsigned long value = std::strtoul(argv[i + 1], &end, 10);
        if (end == argv[i + 1] || *end != '\0' || value == 0) return false;
        if (std::strcmp(argv[i], "--max") == 0) {
            maximum = value;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && value <= 99) {
            rounds = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t maximum = kFleetSizes[std::size(kFleetSizes) - 1];
    int rounds = 3;
    if (!ReadOptions(argc, argv, maximum, rounds)) {
        std::fprintf(stderr, "usage: bench_fleet [--max N] [--rounds N]\n");
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
    bench::Meter probe;
    std::printf(
        "one send of %zu item command lines, every scale waiting %lld ms per reply (the scales in\n"
        "a process of their own), %d rounds; medians of the rounds for the transport (T) and the\n"
        "bare loop (B): wall time, system calls and CPU of this process per answered command,\n"
        "T's to B's (the median of each round's), the fleet's CPU per reply, this process's peak\n"
        "memory a scale beyond what it held before the send\n",
        commands.size(), static_cast<long long>(kReplyDelay.count()), rounds);
    if (!probe.Counting()) std::printf("system calls not counted: %s\n", probe.WhyNot().c_str());
    std::printf(
        "\n| scales | T wall (s) | B wall (s) | T wall / 1 scale's | T calls/cmd | B calls/cmd | "
        "T/B calls | T CPU/cmd (us) | B CPU/cmd (us) | T/B CPU | fleet CPU/reply (us) | "
        "T kB/scale | B kB/scale | threads | result | missing |\n"
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    double single = 0;
    std::vector<std::string> goals;
    for (std::size_t scales : kFleetSizes) {
        if (scales > maximum) break;
        Row row;
        if (!SendToFleet(scales, commands, rounds, row)) return 1;
        std::vector<double> transportWall, bareWall, transportCpu, bareCpu, senderRatio;
        std::vector<double> transportCalls, bareCalls, callsRatio, fleetCpu;
        for (std::size_t i = 0; i < row.transport.size(); ++i) {
            const Phase& t = row.transport[i];
            const Phase& b = row.bare[i];
            transportWall.push_back(t.seconds);
            bareWall.push_back(b.seconds);
            transportCpu.push_back(SenderPerCommand(t));
            bareCpu.push_back(SenderPerCommand(b));
            senderRatio.push_back(SenderPerCommand(t) / SenderPerCommand(b));
            transportCalls.push_back(CallsPerCommand(t));
            bareCalls.push_back(CallsPerCommand(b));
            callsRatio.push_back(CallsPerCommand(b) == 0 ? 0
                                                         : CallsPerCommand(t) / CallsPerCommand(b));
            // The fleet's work per reply is the same in both phases.
            fleetCpu.push_back(FleetPerReply(t));
            fleetCpu.push_back(FleetPerReply(b));
        }
        if (single == 0) single = Median(transportWall);
        char calls[64] = "- | - | -";
        if (probe.Counting()) {
            std::snprintf(calls, sizeof calls, "%.2f | %.2f | %.3f", Median(transportCalls),
                          Median(bareCalls), Median(callsRatio));
        }
        std::printf(
            "| %zu | %.2f | %.2f | %.2f | %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %ld | %d "
            "| "
            "%zu |\n",
            row.scales, Median(transportWall), Median(bareWall), Median(transportWall) / single,
            calls, Median(transportCpu), Median(bareCpu), Median(senderRatio), Median(fleetCpu),
            row.kbPerScale, row.bareKbPerScale, row.threads, static_cast<int>(row.result),
            row.missing);
        std::fflush(stdout);
        if (scales >= kCallsGoalFrom && probe.Counting()) {
            char goal[160];
            std::snprintf(goal, sizeof goal,
                          "%zu scales: the transport's calls per reply %.3fx the bare loop's "
                          "(goal <= %.2fx): %s",
                          scales, Median(callsRatio), kCallsGoal,
                          Median(callsRatio) <= kCallsGoal ? "met" : "not met");
            goals.push_back(goal);
        }
    }
    if (!goals.empty()) std::printf("\n");
    for (const std::string& goal : goals) std::printf("%s\n", goal.c_str());
    return 0;
}
