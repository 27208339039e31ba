// The transport core's cost per command over a plain blocking client: 4001 item read commands to
// one virtual scale on loopback, once through SendToScales and once through a loop that writes a
// command and reads its reply line on a blocking socket. Prints the median of five runs of each
// and their ratio (transport / raw), which should stay at most about 1.05. Run by hand:
//
//     build/default/bin/bench_transport_raw
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "asio/connect.hpp"
#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/read_until.hpp"
#include "asio/streambuf.hpp"
#include "asio/write.hpp"
#include "virtual_scale.h"
#include "vudaduv_transport.h"

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

constexpr int kCommands = 4001;
constexpr int kRuns = 5;

std::vector<std::string> ReadCommands() {
    std::vector<std::string> commands;
    char line[32];
    for (int i = 0; i < kCommands; ++i) {
        std::snprintf(line, sizeof line, "!0U%04dA\r\n", i % 4000);
        commands.push_back(line);
    }
    return commands;
}

double Milliseconds(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One send through the core; the replies it got.
std::size_t SendThroughTheCore(std::uint16_t port, const vudaduv::transport::CommandList& commands,
                               double& ms) {
    std::vector<vudaduv::transport::ScaleJob> jobs = {
        {"127.0.0.1:" + std::to_string(port), commands}};
    auto start = Clock::now();
    std::vector<vudaduv::transport::ScaleResult> results =
        vudaduv::transport::SendToScales(jobs, vudaduv::transport::SendSettings{});
    ms = Milliseconds(start);
    return results[0].replies.size();
}

// The least a client can do: connect, then write each command and read its reply line.
std::size_t SendRaw(std::uint16_t port, const std::vector<std::string>& commands, double& ms) {
    auto start = Clock::now();
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
    ms = Milliseconds(start);
    return replies.size();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    vudaduv::scale::ScaleMemory memory;
    vudaduv::scale::TcpScaleServer server(memory, vudaduv::scale::ServerOptions{});
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "bench_transport_raw: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> commands = ReadCommands();
    auto shared = std::make_shared<const std::vector<std::string>>(commands);
    std::vector<double> core;
    std::vector<double> raw;
    for (int run = 0; run < kRuns; ++run) {
        double ms = 0;
        if (SendThroughTheCore(server.Port(), shared, ms) != commands.size()) {
            std::fprintf(stderr, "bench_transport_raw: the core missed replies\n");
            return 1;
        }
        core.push_back(ms);
        if (SendRaw(server.Port(), commands, ms) != commands.size()) return 1;
        raw.push_back(ms);
    }
    double coreMs = Median(core);
    double rawMs = Median(raw);
    std::printf("%d commands, median of %d: transport %.1f ms, raw %.1f ms, ratio %.3f\n",
                kCommands, kRuns, coreMs, rawMs, coreMs / rawMs);
    return 0;
}
