// The transport core's cost per command over a plain blocking client: 4001 item read commands to
// one virtual scale on loopback (in a process of its own, bench_scales), once through
// SendToScales and once through a loop that writes a command and reads its reply line on a
// blocking socket. Five runs of each; prints, as a table, the medians of each: wall time, system
// calls per command (the kernel's count, raw_syscalls:sys_enter), CPU per reply and the peak
// memory of this client, with the transport's ratio to the plain client. Run by hand:
//
//     build/default/bin/bench_transport_raw [--commands N] [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asio/connect.hpp"
#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/read_until.hpp"
#include "asio/streambuf.hpp"
#include "asio/write.hpp"
#include "measure/scale_process.h"
#include "measure/syscall_counter.h"
#include "vudaduv_transport.h"

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;
namespace bench = vudaduv::bench;

// The one-scale send's aim: its calls per command.
constexpr double kCallsPerCommandGoal = 3.0;

std::vector<std::string> ReadCommands(int count) {
    std::vector<std::string> commands;
    char line[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "!0U%04dA\r\n", i % 4000);
        commands.push_back(line);
    }
    return commands;
}

// One measured send: its wall time, calls and CPU, the replies and the client's peak memory.
struct Run {
    double ms = 0;
    bench::Sample used;
    std::size_t replies = 0;
    long peakKb = 0;
};

// Measures send() from the edges in: peak memory reset, counter opened, clock started.
template <typename Send>
Run Measure(Send send) {
    Run run;
    bench::ResetPeakMemory();
    bench::Meter meter;
    bench::Sample start = meter.Take();
    Clock::time_point began = Clock::now();
    run.replies = send();
    run.ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    run.used = bench::Between(start, meter.Take());
    run.peakKb = bench::StatusKb("VmHWM");
    return run;
}

// One send through the core; the replies it got.
std::size_t SendThroughTheCore(uint16_t port, const vudaduv::transport::CommandList& commands) {
    std::vector<vudaduv::transport::ScaleJob> jobs = {
        {"127.0.0.1:" + std::to_string(port), commands}};
    std::vector<vudaduv::transport::ScaleResult> results =
        vudaduv::transport::SendToScales(jobs, vudaduv::transport::SendSettings{});
    return results[0].replies.size();
}

// The least a client can do: connect, then write each command and read its reply line.
std::size_t SendRaw(uint16_t port, const std::vector<std::string>& commands) {
    asio::io_context context;
    tcp::socket socket(context);
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
    socket.set_option(tcp::no_delay(true));
    asio::streambuf input;
    std::vector<std::string> replies;
    replies.reserve(commands.size());
    for (const std::string& command : commands) {
        asio::write(socket, asio::buffer(command));
        std::size_t length = asio::read_until(socket, input, '\n');
        std::string reply(asio::buffers_begin(input.data()),
                          asio::buffers_begin(input.data()) + static_cast<long>(length));
        input.consume(length);
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        replies.push_back(std::move(reply));
    }
    return replies.size();
}

template <typename Figure>
double Median(const std::vector<Run>& runs, Figure figure) {
    std::vector<double> values;
    for (const Run& run : runs) values.push_back(figure(run));
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int commandCount = 4001;
    int runCount = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--commands") == 0 && value > 0) {
            commandCount = value;
        } else if (std::strcmp(argv[i], "--runs") == 0 && value > 0) {
            runCount = value;
        } else {
            std::fprintf(stderr, "usage: bench_transport_raw [--commands N] [--runs N]\n");
            return 2;
        }
    }
    bench::ScaleProcess scale;
    std::string error;
    if (!scale.Start(bench::ProgramBesideThisOne("bench_scales"), 1, 0, {}, error)) {
        std::fprintf(stderr, "bench_transport_raw: %s\n", error.c_str());
        return 1;
    }
    uint16_t port = scale.Ports()[0];
    std::vector<std::string> commands = ReadCommands(commandCount);
    auto shared = std::make_shared<const std::vector<std::string>>(commands);
    std::vector<Run> core;
    std::vector<Run> raw;
    for (int run = 0; run < runCount; ++run) {
        core.push_back(Measure([&] { return SendThroughTheCore(port, shared); }));
        if (core.back().replies != commands.size()) {
            std::fprintf(stderr, "bench_transport_raw: the core missed replies\n");
            return 1;
        }
        raw.push_back(Measure([&] { return SendRaw(port, commands); }));
        if (raw.back().replies != commands.size()) return 1;
    }
    // A call of one command: what a call costs whatever its length (the socket, its connection,
    // the wait for it, the close), so that each command's own calls can be told from it.
    std::vector<std::string> one(commands.begin(), commands.begin() + 1);
    auto sharedOne = std::make_shared<const std::vector<std::string>>(one);
    std::vector<Run> coreOne;
    std::vector<Run> rawOne;
    for (int run = 0; run < runCount; ++run) {
        coreOne.push_back(Measure([&] { return SendThroughTheCore(port, sharedOne); }));
        rawOne.push_back(Measure([&] { return SendRaw(port, one); }));
    }
    auto ms = [](const Run& run) { return run.ms; };
    auto calls = [&](const Run& run) {
        return static_cast<double>(run.used.calls) / static_cast<double>(commands.size());
    };
    auto cpu = [&](const Run& run) {
        return (run.used.userSeconds + run.used.systemSeconds) * 1e6 /
               static_cast<double>(commands.size());
    };
    auto system = [&](const Run& run) {
        return run.used.systemSeconds * 1e6 / static_cast<double>(commands.size());
    };
    auto peak = [](const Run& run) { return static_cast<double>(run.peakKb); };

    bench::Meter probe;
    std::printf("%d item reads to one virtual scale (another process), median of %d runs each\n",
                commandCount, runCount);
    if (!probe.Counting()) {
        std::printf("system calls not counted: %s\n", probe.WhyNot().c_str());
    }
    std::printf(
        "\n| per run | transport | plain client | ratio | goal |\n|---|---:|---:|---:|---|\n");
    auto row = [&](const char* name, auto figure, const char* format, const std::string& goal) {
        double t = Median(core, figure);
        double r = Median(raw, figure);
        std::printf("| %s | ", name);
        std::printf(format, t);
        std::printf(" | ");
        std::printf(format, r);
        std::printf(" | %.2f | %s |\n", r == 0 ? 0.0 : t / r, goal.c_str());
    };
    row("wall (ms)", ms, "%.1f", "");
    if (probe.Counting()) {
        row("system calls per command", calls, "%.4f", "");
        auto callsOfOne = [](const Run& run) { return static_cast<double>(run.used.calls); };
        // Each command's calls: those of the whole call less what a call of one command makes
        // beyond its command, over the commands.
        auto perCommand = [&](const std::vector<Run>& runs, const std::vector<Run>& ones) {
            double whole =
                Median(runs, [](const Run& run) { return static_cast<double>(run.used.calls); });
            double single = Median(ones, callsOfOne);
            return commands.size() > 1 ? (whole - single) / static_cast<double>(commands.size() - 1)
                                       : 0.0;
        };
        double t = perCommand(core, coreOne);
        double r = perCommand(raw, rawOne);
        // Judged as printed: a stray call in thousands of commands (a wait woken before the
        // whole reply came) is not a call per command.
        char goal[64];
        std::snprintf(goal, sizeof goal, "transport <= %.0f: %s", kCallsPerCommandGoal,
                      t < kCallsPerCommandGoal + 0.005 ? "met" : "not met");
        std::printf("| of them each command's own | %.2f | %.2f | %.2f | %s |\n", t, r,
                    r == 0 ? 0.0 : t / r, goal);
        std::printf("| a call of one command | %.0f | %.0f | %.2f | |\n",
                    Median(coreOne, callsOfOne), Median(rawOne, callsOfOne),
                    Median(rawOne, callsOfOne) == 0
                        ? 0.0
                        : Median(coreOne, callsOfOne) / Median(rawOne, callsOfOne));
    }
    row("CPU per reply (us)", cpu, "%.2f", "");
    row("of it system CPU (us)", system, "%.2f", "");
    row("client's peak memory (kB)", peak, "%.0f", "");
    return 0;
}
