// The benchmarks' fleet of virtual scales in a process of its own, so that a benchmark measures
// its client alone:
//
//     bench_scales --count N [--reply-delay MS]
//
// Reads command lines from standard input up to an empty line, which every scale answers
// before it listens (a fleet that already holds a list, without a send over the network); then
// prints HOST:PORT of each scale, one a line, and serves until its standard input ends.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "virtual_scale.h"

int main(int argc, char** argv) {
    std::size_t count = 1;
    long delayMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        long value = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--count") == 0 && value > 0) {
            count = static_cast<std::size_t>(value);
        } else if (std::strcmp(argv[i], "--reply-delay") == 0 && value >= 0) {
            delayMs = value;
        } else {
            std::fprintf(stderr, "usage: bench_scales --count N [--reply-delay MS]\n");
            return 2;
        }
    }
    std::vector<std::string> preload;
    std::string line;
    while (std::getline(std::cin, line) && !line.empty()) preload.push_back(line);

    vudaduv::scale::ServerOptions options;
    options.replyDelay = std::chrono::milliseconds(delayMs);
    vudaduv::scale::ScaleFleet fleet(count, options);
    for (std::size_t i = 0; i < count; ++i) {
        for (const std::string& command : preload) fleet.Memory(i).Answer(command);
    }
    std::string error;
    if (!fleet.Start(error)) {
        std::fprintf(stderr, "bench_scales: %s\n", error.c_str());
        return 1;
    }
    for (uint16_t port : fleet.Ports()) {
        std::printf("%s\n", vudaduv::scale::ShowAddress(options.host, port).c_str());
    }
    std::fflush(stdout);
    // Whoever started it is done (or gone) when its input ends.
    while (std::getline(std::cin, line)) {
    }
    fleet.Stop();
    return 0;
}
