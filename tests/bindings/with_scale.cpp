// Runs one program beside a virtual scale, in a fresh temporary directory of its own (the
// library writes "Rec.txt" into the current directory). The program finds the scale through
// its environment:
//   VUDADUV_TEST_SCALE        "127.0.0.1:PORT" of a scale on a free loopback port
//   VUDADUV_TEST_SCALE_EN     the same of a scale set up for code-page text (the En exports)
//   VUDADUV_TEST_SERIAL_LINE  the number of an open file descriptor, a pseudo-terminal set raw,
//                             with the same scale at its other end (for the serial exports)
//   VUDADUV_TEST_FLEET        "127.0.0.1:PORT" of three more scales, each with a memory of its own,
//                             separated by spaces (for the fleet's library)
//   VUDADUV_TEST_SCALE_DOWN   "127.0.0.1:PORT" where nothing listens: a scale that is off
//   VUDADUV_TEST_SERIAL_SCALE "serial:PATH" of one more scale, on a pseudo-terminal that nobody
//                             holds open (for the fleet's library on a serial line)
// The program's exit status is passed on, so a skip code reaches CTest as it is.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scripted_peer.h"
#include "temp_directory.h"
#include "virtual_scale.h"

extern char** environ;

namespace {

// The pseudo-terminal's device opened as an application opens a serial line: raw bytes.
int OpenRawLine(const std::string& path) {
    int line = open(path.c_str(), O_RDWR | O_NOCTTY);  // inherited by the program
    termios settings{};
    if (line < 0 || tcgetattr(line, &settings) != 0) return -1;
    cfmakeraw(&settings);
    return tcsetattr(line, TCSANOW, &settings) == 0 ? line : -1;
}

int RunProgram(char** argv) {
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "with_scale: cannot start %s\n", argv[0]);
        return 1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return 1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    std::fprintf(stderr, "with_scale: %s ended by signal %d\n", argv[0], WTERMSIG(status));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: with_scale PROGRAM [ARG...]\n");
        return 2;
    }
    vudaduv::scale::ScaleMemory memory;
    vudaduv::scale::TcpScaleServer server(memory, vudaduv::scale::ServerOptions{});
    vudaduv::scale::PtyScaleServer pty(memory);
    // The En exports talk to a scale set up for code-page text.
    vudaduv::scale::ScaleMemory codePageMemory(vudaduv::scale::TextMode::kCodePage);
    vudaduv::scale::TcpScaleServer codePageServer(codePageMemory, vudaduv::scale::ServerOptions{});
    std::string error;
    if (!server.Start(error) || !codePageServer.Start(error) || !pty.Start(error)) {
        std::fprintf(stderr, "with_scale: no virtual scale: %s\n", error.c_str());
        return 1;
    }
    int line = OpenRawLine(pty.DevicePath());
    if (line < 0) {
        std::fprintf(stderr, "with_scale: cannot open %s\n", pty.DevicePath().c_str());
        return 1;
    }
    setenv("VUDADUV_TEST_SCALE", ("127.0.0.1:" + std::to_string(server.Port())).c_str(), 1);
    setenv("VUDADUV_TEST_SCALE_EN", ("127.0.0.1:" + std::to_string(codePageServer.Port())).c_str(),
           1);
    setenv("VUDADUV_TEST_SERIAL_LINE", std::to_string(line).c_str(), 1);
    vudaduv::scale::ScaleFleet fleet(3, vudaduv::scale::ServerOptions{});
    if (!fleet.Start(error)) {
        std::fprintf(stderr, "with_scale: no virtual fleet: %s\n", error.c_str());
        return 1;
    }
    std::string fleetAddresses;
    for (uint16_t port : fleet.Ports()) {
        if (!fleetAddresses.empty()) fleetAddresses += ' ';
        fleetAddresses += "127.0.0.1:" + std::to_string(port);
    }
    setenv("VUDADUV_TEST_FLEET", fleetAddresses.c_str(), 1);
    // Three scales that answer each line after 3 ms: a sync of them lasts long enough for a
    // stop or a cancel to come in the middle, whatever the progress function is told.
    vudaduv::scale::ServerOptions slowOptions;
    slowOptions.replyDelay = std::chrono::milliseconds(3);
    vudaduv::scale::ScaleFleet slowFleet(3, slowOptions);
    if (!slowFleet.Start(error)) {
        std::fprintf(stderr, "with_scale: no slow virtual fleet: %s\n", error.c_str());
        return 1;
    }
    std::string slowAddresses;
    for (uint16_t port : slowFleet.Ports()) {
        if (!slowAddresses.empty()) slowAddresses += ' ';
        slowAddresses += "127.0.0.1:" + std::to_string(port);
    }
    setenv("VUDADUV_TEST_SLOW_FLEET", slowAddresses.c_str(), 1);
    // A port held bound and not listening: refused, and never taken by a server started beside.
    transport_test::RefusingPort down;
    std::uint16_t downPort = down.Port() != 0 ? down.Port() : 9;  // the discard port: refused too
    setenv("VUDADUV_TEST_SCALE_DOWN", ("127.0.0.1:" + std::to_string(downPort)).c_str(), 1);
    vudaduv::scale::ScaleMemory lineMemory;
    vudaduv::scale::PtyScaleServer lineScale(lineMemory);
    if (!lineScale.Start(error)) {
        std::fprintf(stderr, "with_scale: no scale on a pseudo-terminal: %s\n", error.c_str());
        return 1;
    }
    setenv("VUDADUV_TEST_SERIAL_SCALE", ("serial:" + lineScale.DevicePath()).c_str(), 1);
    vudaduv::testing::TempDirectory directory;
    int status = RunProgram(argv + 1);
    close(line);
    return status;
}
