// vudaduv scale: the virtual scale, on TCP and optionally on a pseudo-terminal.
#include <csignal>
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "os.h"
#include "virtual_scale.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "scale";
constexpr uint16_t kDefaultPort = 4001;

constexpr OptionSpec kListenOption{"listen", true, false};
constexpr OptionSpec kPtyOption{"pty", false, false};

const char* const kScaleHelp =
    "Usage: vudaduv scale [--listen HOST:PORT] [--pty]\n"
    "\n"
    "Runs the virtual scale: it keeps what is downloaded to it and answers read\n"
    "requests, as a label scale does, until Ctrl-C (SIGINT) or SIGTERM.\n"
    "\n"
    "  --listen HOST:PORT  where to listen (default 127.0.0.1:4001); [v6addr]:PORT\n"
    "                      for IPv6, port 0 for a free port (the port chosen is\n"
    "                      printed)\n"
    "  --pty               also serve a pseudo-terminal, for --serial; its path is\n"
    "                      printed\n"
    "  -h, --help          this help\n";

// "host:port", "[v6addr]:port", "[v6addr]" or "host"; the port defaults to 4001.
bool ParseListenAddress(const std::string& text, scale::ServerOptions& options,
                        std::string& error) {
    std::string host = text;
    std::string port;
    if (!text.empty() && text[0] == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            error = "bad --listen address '" + text + "'";
            return false;
        }
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) port = text.substr(close + 2);
    } else if (std::size_t colon = text.rfind(':');
               colon != std::string::npos && text.find(':') == colon) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    uint64_t number = kDefaultPort;
    if (host.empty() || (!port.empty() && !ParseUnsigned(port, 65535, number)) ||
        (port.empty() && text.back() == ':')) {
        error = "bad --listen address '" + text + "' (HOST:PORT, e.g. 127.0.0.1:4001)";
        return false;
    }
    options.host = host;
    options.port = static_cast<uint16_t>(number);
    return true;
}

std::string ShowAddress(const std::string& host, uint16_t port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

int RunScale(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, kScaleHelp, args, {kListenOption, kPtyOption}, parsed,
                          status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    scale::ServerOptions options;
    std::string error;
    if (!ParseListenAddress(parsed.Value(kListenOption.name, "127.0.0.1:4001"), options, error)) {
        return UsageError(kCommand, error);
    }
    // Every server thread must inherit the mask, so the signals wait for the main thread.
    os::HoldStopSignals();
    scale::ScaleMemory memory;
    scale::TcpScaleServer server(memory, options);
    if (!server.Start(error)) {
        std::fprintf(stderr, "vudaduv scale: cannot listen on %s: %s\n",
                     ShowAddress(options.host, options.port).c_str(), error.c_str());
        return kExitFailed;
    }
    std::printf("virtual scale listening on %s\n",
                ShowAddress(options.host, server.Port()).c_str());
    scale::PtyScaleServer pty(memory);
    bool withPty = parsed.Has(kPtyOption.name);
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
    std::printf("stopped (%s)\n", signal == SIGINT ? "interrupt" : "terminate");
    return kExitOk;
}

}  // namespace vudaduv::cli
