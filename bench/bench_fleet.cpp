// One SendData of 200 item command lines to fleets of 1, 10, 100, 1000 and 5000 virtual scales
// in this process, each scale waiting 20 ms before every reply as real scales do; then, over the
// same fleet, the same commands through a bare loop: one thread, epoll, non-blocking sockets,
// write a command, read its reply line, the least any sender can do. Run by hand (Linux):
//
//     build/default/bin/bench_fleet [--max N] [--rounds N]
//
// Prints per fleet: the wall time of each, the transport's ratio to one scale's; the sender's
// CPU per answered command for each; the fleet's CPU per reply; the memory per scale; the peak
// thread count during the send (this program's own threads included: the main one, the fleet's
// one and the sampler); SendData's result and the replies that did not come.
//
// CPU: getrusage of the process across each phase, less the fleet thread's CPU across the same
// phase, and less the thread sampler's. Each of those threads reads its own clock
// (clock_gettime(CLOCK_THREAD_CPUTIME_ID); the fleet's through ScaleFleet::CpuTime, which asks
// the fleet's loop): a reading of another thread's clock from outside would need its pthread_t,
// which the fleet keeps to itself.
//
// Rounds: this machine's other work moves the figures by a fifth from run to run, so each fleet
// takes the transport and then the bare loop three times (--rounds N), and every figure printed
// is the median of its rounds.
//
// Memory per scale: the peak resident memory during the send less the resident memory before the
// fleet was made, over the scales: fleet and sender together.
//
// With the fleet on the same cores as the sender, a large fleet is bound by CPU: the bare loop
// shows what the machine allows, and the fleet must cost less per reply than the sender, or the
// benchmark measures the fleet.
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

#include "scale_platform.h"
#include "virtual_scale.h"
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
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFleetSizes[] = {1, 10, 100, 1000, 5000};
constexpr int kItems = 200;
constexpr auto kReplyDelay = std::chrono::milliseconds(20);
constexpr auto kSampleEvery = std::chrono::milliseconds(5);
// Each scale takes a listener and a connection on the scale's side and a connection on the
// sender's.
constexpr std::size_t kFilesPerScale = 3;
constexpr std::size_t kSpareFiles = 64;
// The bare loop gives up on a fleet that stays silent this long (a safety net).
constexpr auto kBarePatience = std::chrono::seconds(60);

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

// Samples the process's thread count while a send runs and keeps the highest. Its own CPU is
// read by itself as it ends, so that the sender is not charged with it.
class ThreadSampler {
  public:
    ThreadSampler()
        : thread_([this] {
              while (!done_.load()) {
                  peak_ = std::max(peak_, StatusValue("Threads"));
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

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall time, the sender's CPU and the fleet's CPU across one phase.
class PhaseClock {
  public:
    explicit PhaseClock(vudaduv::scale::ScaleFleet& fleet)
        : fleet_(fleet), fleetStart_(FleetSeconds()), processStart_(ProcessCpuSeconds()) {}

    void Stop() {
        wall_ = std::chrono::duration<double>(Clock::now() - start_).count();
        fleetCpu_ = FleetSeconds() - fleetStart_;
        senderCpu_ = ProcessCpuSeconds() - processStart_ - fleetCpu_;
    }

    double Wall() const { return wall_; }
    double SenderCpu() const { return senderCpu_; }
    double FleetCpu() const { return fleetCpu_; }

  private:
    double FleetSeconds() const { return std::chrono::duration<double>(fleet_.CpuTime()).count(); }

    vudaduv::scale::ScaleFleet& fleet_;
    double fleetStart_;
    double processStart_;
    Clock::time_point start_ = Clock::now();
    double wall_ = 0, senderCpu_ = 0, fleetCpu_ = 0;
};

struct Phase {
    double seconds = 0;
    double senderCpu = 0;
    double fleetCpu = 0;
    std::size_t answered = 0;
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
    double kbPerScale = 0;
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

void SendThroughTransport(vudaduv::scale::ScaleFleet& fleet,
                          const std::vector<std::string>& commands, Phase& phase, Row& row) {
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
    PhaseClock clock(fleet);
    int32_t result = SendData(&target, &command);
    if (row.result == 0) row.result = result;
    clock.Stop();
    row.threads = std::max(row.threads, sampler.Peak());
    phase = {clock.Wall(), clock.SenderCpu() - sampler.CpuSeconds(), clock.FleetCpu(),
             RepliesReceived()};
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

void SendThroughBareLoop(vudaduv::scale::ScaleFleet& fleet,
                         const std::vector<std::string>& commands, Phase& phase) {
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
    phase = {clock.Wall(), clock.SenderCpu(), clock.FleetCpu(), answered};
}

bool SendToFleet(std::size_t scales, const std::vector<std::string>& commands, int rounds,
                 Row& row) {
    long residentBefore = StatusValue("VmRSS");
    vudaduv::scale::ServerOptions options;
    options.replyDelay = kReplyDelay;
    vudaduv::scale::ScaleFleet fleet(scales, options);
    std::string error;
    if (!fleet.Start(error)) {
        std::fprintf(stderr, "bench_fleet: %zu scales: %s\n", scales, error.c_str());
        return false;
    }
    ResetPeakMemory();
    std::vector<Phase>& transport = row.transport;
    std::vector<Phase>& bare = row.bare;
    transport.resize(static_cast<std::size_t>(rounds));
    bare.resize(transport.size());
    std::size_t expected = scales * commands.size();
    for (std::size_t round = 0; round < transport.size(); ++round) {
        {
            WorkDirectory directory;  // a Rec.txt of the round's own
            SendThroughTransport(fleet, commands, transport[round], row);
        }
        if (round == 0) {
            row.kbPerScale = static_cast<double>(StatusValue("VmHWM") - residentBefore) /
                             static_cast<double>(scales);
        }
        SendThroughBareLoop(fleet, commands, bare[round]);
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
    std::printf(
        "one send of %zu item command lines, every scale waiting %lld ms per reply, %d rounds;\n"
        "medians of the rounds: wall time and the sender's CPU per answered command for the\n"
        "transport (T) and the bare loop (B), T's to B's, the fleet's CPU per reply and its ratio\n"
        "to B's per command (ratios: the median of each round's)\n",
        commands.size(), static_cast<long long>(kReplyDelay.count()), rounds);
    std::printf("%7s %8s %8s %6s %9s %9s %6s %9s %7s %9s %7s %6s %7s\n", "scales", "T wall s",
                "B wall s", "ratio", "T us/cmd", "B us/cmd", "T/B", "fleet us", "fleet/B",
                "kB/scale", "threads", "result", "missing");
    double single = 0;
    for (std::size_t scales : kFleetSizes) {
        if (scales > maximum) break;
        Row row;
        if (!SendToFleet(scales, commands, rounds, row)) return 1;
        std::vector<double> transportWall, bareWall, transportCpu, bareCpu, senderRatio;
        std::vector<double> fleetCpu, fleetRatio;
        for (std::size_t i = 0; i < row.transport.size(); ++i) {
            const Phase& t = row.transport[i];
            const Phase& b = row.bare[i];
            transportWall.push_back(t.seconds);
            bareWall.push_back(b.seconds);
            transportCpu.push_back(SenderPerCommand(t));
            bareCpu.push_back(SenderPerCommand(b));
            senderRatio.push_back(SenderPerCommand(t) / SenderPerCommand(b));
            // The fleet's work per reply is the same in both phases.
            fleetCpu.push_back(FleetPerReply(t));
            fleetCpu.push_back(FleetPerReply(b));
            fleetRatio.push_back(FleetPerReply(b) / SenderPerCommand(b));
        }
        if (single == 0) single = Median(transportWall);
        std::printf("%7zu %8.2f %8.2f %6.2f %9.1f %9.1f %6.2f %9.1f %7.2f %9.1f %7ld %6d %7zu\n",
                    row.scales, Median(transportWall), Median(bareWall),
                    Median(transportWall) / single, Median(transportCpu), Median(bareCpu),
                    Median(senderRatio), Median(fleetCpu), Median(fleetRatio), row.kbPerScale,
                    row.threads, static_cast<int>(row.result), row.missing);
        std::fflush(stdout);
    }
    return 0;
}
