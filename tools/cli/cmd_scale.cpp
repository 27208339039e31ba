// vudaduv scale: the virtual scale on TCP and optionally on a pseudo-terminal, or a fleet of
// independent scales on as many ports or pseudo-terminals.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "commands.h"
#include "common_options.h"
#include "os.h"
#include "virtual_scale.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "scale";

constexpr OptionSpec kListenOption{"listen", true, false};
constexpr OptionSpec kPortOption{"port", true, false};
constexpr OptionSpec kCountOption{"count", true, false};
constexpr OptionSpec kReplyDelayOption{"reply-delay", true, false};
constexpr OptionSpec kPtyOption{"pty", false, false};
constexpr OptionSpec kBaudOption{"baud", true, false};

constexpr uint64_t kMaxPort = 65535;
constexpr uint64_t kMaxCount = 65535;         // no more scales than ports
constexpr uint64_t kMaxReplyDelayMs = 60000;  // a scale that takes longer has failed
constexpr uint64_t kMaxBaud = 10000000;       // beyond any serial line

const char* const kScaleHelp =
    "Usage: vudaduv scale [--listen HOST:PORT | --port PORT] [--count N]\n"
    "                     [--reply-delay MS] [--en] [--pty [--baud B]]\n"
    "\n"
    "Runs the virtual scale: it keeps what is downloaded to it and answers read\n"
    "requests, as a label scale does, until Ctrl-C (SIGINT) or SIGTERM.\n"
    "\n"
    "  --listen HOST:PORT  where to listen (default 127.0.0.1:4001); [v6addr]:PORT\n"
    "                      for IPv6; port 0 for a free port (the one chosen is\n"
    "                      printed)\n"
    "  --port PORT         the same as --listen 127.0.0.1:PORT\n"
    "  --count N           N independent scales, each with a memory of its own, on\n"
    "                      ports PORT to PORT+N-1, or on free ports when no port is\n"
    "                      given; prints HOST:PORT of each, one a line, on standard\n"
    "                      output\n"
    "  --reply-delay MS    every scale waits MS milliseconds before every reply,\n"
    "                      as real scales do (default 0, at most 60000)\n"
    "  --en                scales set up for code-page text, as the En exports and\n"
    "                      --en talk to them (default: zone-position text)\n"
    "  --pty               also serve a pseudo-terminal, for --serial or a target\n"
    "                      serial:PATH; its path is printed. With --count N: N\n"
    "                      scales on pseudo-terminals alone, each with a memory of\n"
    "                      its own; prints the path of each, one a line, on\n"
    "                      standard output\n"
    "  --baud B            a pseudo-terminal takes the time of a serial line at B\n"
    "                      baud: 10 bits a byte, each way (default: no time)\n"
    "  -h, --help          this help\n";

// "host:port", "[v6addr]:port", "[v6addr]" or "host", read by the transport's own rule; a
// missing port is defaultPort, port 0 a free one.
bool ParseListenAddress(const std::string& text, uint16_t defaultPort,
                        scale::ServerOptions& options, std::string& error) {
    transport::TargetAddress address;
    std::string why = transport::ReadListenAddress(text, defaultPort, address);
    if (!why.empty()) {
        error =
            "bad --listen address '" + text + "': " + why + "; give HOST:PORT, e.g. 127.0.0.1:4001";
        return false;
    }
    options.host = address.host;
    options.port = address.port;
    return true;
}

// Where to listen and how to answer, from --listen or --port and --reply-delay. Without a port
// one scale takes the scales' usual port, a fleet free ports.
bool ReadServerOptions(const ParsedArgs& parsed, bool fleet, scale::ServerOptions& options,
                       std::string& error) {
    uint16_t defaultPort = fleet ? 0 : scale::kDefaultScalePort;
    if (parsed.Has(kListenOption.name) && parsed.Has(kPortOption.name)) {
        error = "give --listen or --port, not both";
        return false;
    }
    if (!ParseListenAddress(parsed.Value(kListenOption.name, "127.0.0.1"), defaultPort, options,
                            error)) {
        return false;
    }
    uint64_t port = options.port;
    uint64_t delayMs = 0;
    if (!ReadUnsignedOption(parsed, kPortOption.name, kMaxPort, port, error) ||
        !ReadUnsignedOption(parsed, kReplyDelayOption.name, kMaxReplyDelayMs, delayMs, error)) {
        return false;
    }
    options.port = static_cast<uint16_t>(port);
    options.replyDelay = std::chrono::milliseconds(delayMs);
    options.mode = model::TextModeOf(parsed.Has(kEnOption.name));
    return true;
}

// --count, 0 when absent (one scale, which may also have a pseudo-terminal). Scales on
// pseudo-terminals alone listen nowhere.
bool ReadCount(const ParsedArgs& parsed, uint64_t& count, std::string& error) {
    count = 0;
    if (!ReadUnsignedOption(parsed, kCountOption.name, 1, kMaxCount, count, error)) return false;
    if (count != 0 && parsed.Has(kPtyOption.name) &&
        (parsed.Has(kListenOption.name) || parsed.Has(kPortOption.name))) {
        error = "--pty --count serves pseudo-terminals alone: no --listen or --port";
        return false;
    }
    return true;
}

// --baud, for pseudo-terminals alone; 0 when absent.
bool ReadBaud(const ParsedArgs& parsed, uint32_t& baud, std::string& error) {
    uint64_t value = 0;
    if (!ReadUnsignedOption(parsed, kBaudOption.name, 1, kMaxBaud, value, error)) return false;
    if (value != 0 && !parsed.Has(kPtyOption.name)) {
        error = "--baud paces a pseudo-terminal: give --pty";
        return false;
    }
    baud = static_cast<uint32_t>(value);
    return true;
}

void PrintStopped(std::FILE* stream, int signal) {
    std::fprintf(stream, "stopped (%s)\n", signal == SIGINT ? "interrupt" : "terminate");
}

// The fleet prints only its addresses on standard output, for scripts to collect.
int ServeFleet(std::size_t count, const scale::ServerOptions& options) {
    scale::ScaleFleet fleet(count, options);
    std::string error;
    if (!fleet.Start(error)) {
        std::fprintf(stderr, "vudaduv scale: %s\n", error.c_str());
        return kExitFailed;
    }
    for (uint16_t port : fleet.Ports()) {
        std::printf("%s\n", scale::ShowAddress(options.host, port).c_str());
    }
    // Scales whose addresses were lost serve no one: the fleet stops at once.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vudaduv scale: the addresses could not be written: %s\n",
                     std::strerror(errno));
        fleet.Stop();
        return kExitFailed;
    }
    std::fprintf(stderr, "%zu virtual scale(s) listening; press Ctrl-C to stop\n", count);
    int signal = os::WaitForStopSignal();
    fleet.Stop();
    PrintStopped(stderr, signal);
    return kExitOk;
}

// count scales on pseudo-terminals: their paths on standard output, one a line, as the TCP fleet
// prints its addresses.
int ServePtys(std::size_t count, const scale::ServerOptions& options, scale::LinePace pace) {
    std::vector<std::unique_ptr<scale::ScaleMemory>> memories;
    std::vector<std::unique_ptr<scale::PtyScaleServer>> servers;
    for (std::size_t i = 0; i < count; ++i) {
        memories.push_back(std::make_unique<scale::ScaleMemory>(options.mode));
        servers.push_back(std::make_unique<scale::PtyScaleServer>(*memories.back(), pace));
        std::string error;
        if (!servers.back()->Start(error)) {
            std::fprintf(stderr, "vudaduv scale: cannot open a pseudo-terminal: %s\n",
                         error.c_str());
            return kExitFailed;  // the servers started stop as they go
        }
    }
    for (const auto& server : servers) std::printf("%s\n", server->DevicePath().c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vudaduv scale: the paths could not be written: %s\n",
                     std::strerror(errno));
        return kExitFailed;
    }
    std::fprintf(stderr, "%zu virtual scale(s) on pseudo-terminals; press Ctrl-C to stop\n", count);
    int signal = os::WaitForStopSignal();
    for (const auto& server : servers) server->Stop();
    PrintStopped(stderr, signal);
    return kExitOk;
}

int ServeOne(const scale::ServerOptions& options, bool withPty, scale::LinePace pace) {
    scale::ScaleMemory memory(options.mode);
    scale::TcpScaleServer server(memory, options);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "vudaduv scale: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("virtual scale listening on %s\n",
                scale::ShowAddress(options.host, server.Port()).c_str());
    scale::PtyScaleServer pty(memory, pace);
    if (withPty) {
        if (!pty.Start(error)) {
            std::fprintf(stderr, "vudaduv scale: cannot open a pseudo-terminal: %s\n",
                         error.c_str());
            return kExitFailed;
        }
        std::printf("serial line (pseudo-terminal): %s\n", pty.DevicePath().c_str());
    }
    std::printf("press Ctrl-C to stop\n");
    std::fflush(stdout);
    int signal = os::WaitForStopSignal();
    if (withPty) pty.Stop();
    server.Stop();
    PrintStopped(stdout, signal);
    return kExitOk;
}

}  // namespace

int RunScale(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, kScaleHelp, args,
                          {kListenOption, kPortOption, kCountOption, kReplyDelayOption, kEnOption,
                           kPtyOption, kBaudOption},
                          parsed, status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    uint64_t count = 0;
    scale::ServerOptions options;
    scale::LinePace pace;
    std::string error;
    if (!ReadCount(parsed, count, error) ||
        !ReadServerOptions(parsed, count != 0, options, error) ||
        !ReadBaud(parsed, pace.baud, error)) {
        return UsageError(kCommand, error);
    }
    pace.replyDelay = options.replyDelay;
    bool withPty = parsed.Has(kPtyOption.name);
    // Every server thread must inherit the mask, so the signals wait for the main thread.
    os::HoldStopSignals();
    if (count != 0 && withPty) return ServePtys(static_cast<std::size_t>(count), options, pace);
    if (count != 0) return ServeFleet(static_cast<std::size_t>(count), options);
    return ServeOne(options, withPty, pace);
}

}  // namespace vudaduv::cli
