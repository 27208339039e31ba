// Sends that overlap in one folder, from threads of one process and from several processes,
// with the shipped libraries against the virtual scale: every reply of every call ends as
// exactly one upload line. And a process killed while its send holds "Rec.txt" does not keep the
// next send waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "temp_directory.h"
#include "virtual_scale.h"
#include "vudaduv.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace vudaduv::testing {
namespace {

constexpr int kCallers = 4;
constexpr int kItemsPerCaller = 60;  // read two a call

std::string ItemLine(int item) {
    char line[32];
    std::snprintf(line, sizeof line, "%04dA01##item%d", item, item);
    return line;
}

int32_t SendItems(const std::string& address, uint32_t recordType,
                  const std::vector<std::string>& lines) {
    const char* target = address.c_str();
    std::vector<const char*> pointers;
    for (const std::string& line : lines) pointers.push_back(line.c_str());
    WQTCP request{
        {&target, 1}, {pointers.data(), static_cast<uint32_t>(pointers.size())}, recordType};
    return WQTCPSend(&request);
}

// The lines of the file, sorted: the callers' calls interleave in any order.
std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A scale that holds every item the callers read; the folder starts without "Rec.txt".
class OverlappingSends : public InTempDirectory {
  protected:
    void SetUp() override {
        InTempDirectory::SetUp();
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << error;
        std::vector<std::string> items;
        for (int item = 1; item <= kCallers * kItemsPerCaller; ++item) {
            items.push_back(ItemLine(item));
            expected_.push_back("1P" + ItemLine(item));
        }
        ASSERT_EQ(SendItems(Address(), 1, items), WQ_OK);
        std::remove("Rec.txt");
        std::sort(expected_.begin(), expected_.end());
    }

    std::string Address() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
    static int FirstItemOf(int caller) { return 1 + caller * kItemsPerCaller; }

    scale::ScaleMemory memory_;
    scale::TcpScaleServer server_{memory_, scale::ServerOptions{}};
    std::vector<std::string> expected_;  // sorted
};

TEST_F(OverlappingSends, ThreadsOfOneProcessLoseNoReply) {
    std::vector<std::thread> callers;
    std::vector<int> failed(kCallers, 0);
    for (int caller = 0; caller < kCallers; ++caller) {
        callers.emplace_back([this, caller, &failed] {
            for (int item = FirstItemOf(caller); item < FirstItemOf(caller + 1); item += 2) {
                std::vector<std::string> items{std::to_string(item), std::to_string(item + 1)};
                if (SendItems(Address(), 2, items) != WQ_OK) ++failed[caller];
            }
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(failed, std::vector<int>(kCallers, 0));
    EXPECT_EQ(SortedLines(ReadWholeFile("Rec.txt")), expected_);
}

#ifndef _WIN32
pid_t StartReader(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VUDADUV_OVERLAPPING_READER};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, pointers.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

int ExitCodeOf(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(OverlappingSends, ProcessesInOneFolderLoseNoReply) {
    std::vector<pid_t> readers;
    for (int caller = 0; caller < kCallers; ++caller) {
        readers.push_back(StartReader({"read", Address(), std::to_string(FirstItemOf(caller)),
                                       std::to_string(kItemsPerCaller)}));
        ASSERT_GT(readers.back(), 0);
    }
    for (pid_t reader : readers) EXPECT_EQ(ExitCodeOf(reader), 0);
    EXPECT_EQ(SortedLines(ReadWholeFile("Rec.txt")), expected_);
}

// The process that holds the lock file's lock, as another process sees it; 0 when none.
pid_t LockHolder() {
    int fd = open("Rec.txt.lock", O_RDWR | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    pid_t holder = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? probe.l_pid : 0;
    close(fd);
    return holder;
}

// A listener that takes connections and never answers: a send to it waits for its time-out.
class SilentScale {
  public:
    SilentScale() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd_, 4) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~SilentScale() { close(fd_); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    bool Listening() const { return port_ != 0; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST_F(OverlappingSends, ASendKilledWhileHoldingTheFileKeepsNoOneWaiting) {
    SilentScale silent;
    ASSERT_TRUE(silent.Listening());
    pid_t hanging = StartReader({"hang", silent.Address()});
    ASSERT_GT(hanging, 0);
    // Bounded: the hanging send takes the lock at once and keeps it for a minute.
    pid_t holder = 0;
    for (int tries = 0; tries < 1000 && holder != hanging; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        holder = LockHolder();
    }
    ASSERT_EQ(holder, hanging);

    kill(hanging, SIGKILL);
    EXPECT_EQ(ExitCodeOf(hanging), -1);
    EXPECT_EQ(LockHolder(), 0);
    ASSERT_EQ(SendItems(Address(), 2, {"7"}), WQ_OK);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "1P" + ItemLine(7) + "\r\n");
}
#endif

}  // namespace
}  // namespace vudaduv::testing
