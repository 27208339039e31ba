// Calls SendDataWithProgress under an open-file limit of its own, so that the test of targets
// beyond the limit never lowers the limit of the shared test process.
//   send_under_file_limit SOFT HARD [fill] ADDRESS...
// sends "!0U0000A" and "!0U0001A" to every address and prints the result, then one line per
// target: its code and the commands it got answered. With "fill", as the first target is done
// the rest of the process opens files until the system has no descriptor left (as a host's other
// thread might), and closes them as the last is done; the line after the result is how many.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wqdatasend.h"

namespace {

// "127.0.0.1:PORT" of a port bound and not listening, so that a connection to it is refused; the
// socket stays open until the limit's loop closes it. Empty when there is none.
std::string RefusingAddress() {
    int held = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (held < 0 || bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(held, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return "";
    }
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// The files the rest of the process holds; opened as the first target is done.
struct Filler {
    bool wanted = false;
    std::uint32_t targets = 0;
    std::uint32_t done = 0;
    std::vector<int> held;
};

void WQ_CALL FillOnFirstDone(void* context, uint32_t, const WQDSOutcome*) {
    auto& filler = *static_cast<Filler*>(context);
    ++filler.done;
    if (filler.wanted && filler.done == 1) {
        for (int fd = open("/dev/null", O_RDONLY); fd >= 0; fd = open("/dev/null", O_RDONLY)) {
            filler.held.push_back(fd);
        }
    }
    if (filler.done == filler.targets) {
        for (int fd : filler.held) close(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    Filler filler;
    filler.wanted = std::string(argv[3]) == "fill";
    int firstTarget = filler.wanted ? 4 : 3;
    if (argc <= firstTarget) return 2;
    std::vector<const char*> targets(argv + firstTarget, argv + argc);
    filler.targets = static_cast<std::uint32_t>(targets.size());
    filler.held.reserve(65536);  // no allocation while the table is full
    const char* commands[] = {"!0U0000A\r\n", "!0U0001A\r\n"};
    std::uint32_t values[WQDS_VALUE_RETRIES + 1] = {};
    values[WQDS_VALUE_REPLY_TIMEOUT] = 10000;
    values[WQDS_VALUE_CONNECT_TIMEOUT] = 10000;
    values[WQDS_VALUE_RETRIES] = WQDS_NO_RETRIES;
    WQST target{WQStringList{targets.data(), static_cast<std::uint32_t>(targets.size())},
                WQStringList{nullptr, 0}, WQValueList{values, WQDS_VALUE_RETRIES + 1}, 0};
    WQST command{WQStringList{nullptr, 0}, WQStringList{commands, 2}, WQValueList{nullptr, 0}, 0};

    // A first call to one scale while descriptors are plenty: the sanitizers' runtime needs one
    // of its own the first time it checks a type, and must not meet a full table then. The
    // call leaves nothing behind but its lines in "Rec.txt", which go.
    WQST first{WQStringList{targets.data(), 1}, WQStringList{nullptr, 0},
               WQValueList{values, WQDS_VALUE_RETRIES + 1}, 0};
    if (SendData(&first, &command) != WQDS_OK || std::remove("Rec.txt") != 0) return 4;
    // And a refused connection, whose error the send compares as it would a socket's that the
    // limit refused.
    std::string refusing = RefusingAddress();
    const char* refused[] = {refusing.c_str()};
    WQST nobody{WQStringList{refused, 1}, WQStringList{nullptr, 0},
                WQValueList{values, WQDS_VALUE_RETRIES + 1}, 0};
    if (refusing.empty() || SendData(&nobody, &command) != WQDS_REFUSED) return 4;

    // Whatever the test process left open would count against the limit.
    for (int fd = 3; fd < 65536; ++fd) close(fd);
    rlimit limit{std::strtoul(argv[1], nullptr, 10), std::strtoul(argv[2], nullptr, 10)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 3;

    std::vector<WQDSOutcome> outcomes(targets.size());
    std::int32_t result =
        SendDataWithProgress(&target, &command, outcomes.data(),
                             static_cast<std::uint32_t>(outcomes.size()), FillOnFirstDone, &filler);
    std::printf("%d\n", static_cast<int>(result));
    if (filler.wanted) std::printf("%zu\n", filler.held.size());
    for (const WQDSOutcome& outcome : outcomes) {
        std::printf("%d %u\n", static_cast<int>(outcome.code),
                    static_cast<unsigned>(outcome.answered));
    }
    return 0;
}
