// The benchmarks' measures: the system call counter counts what a loop calls, in this thread and
// in threads started after it, and not a process it starts; the scale process serves scales that
// hold the lines they were given, as a memory told the same lines answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "measure/scale_process.h"
#include "measure/syscall_counter.h"
#include "virtual_scale.h"
#include "vudaduv_codec.h"

namespace vudaduv::bench {
namespace {

void CallTheKernel(int times) {
    for (int i = 0; i < times; ++i) syscall(SYS_getppid);
}

#define SKIP_UNLESS_COUNTING(counter) \
    if (!(counter).Counting()) GTEST_SKIP() << (counter).WhyNot()

TEST(SyscallCounter, CountsEachCallOfALoopAndNotItsOwnReads) {
    for (int calls : {0, 1, 7, 1000, 20000}) {
        SyscallCounter counter;
        SKIP_UNLESS_COUNTING(counter);
        uint64_t before = counter.Read();
        CallTheKernel(calls);
        uint64_t counted = counter.Read() - before;
        // Nothing else of this thread's may call the kernel in between, but leave room for it.
        EXPECT_GE(counted, static_cast<uint64_t>(calls)) << calls << " calls";
        EXPECT_LE(counted, static_cast<uint64_t>(calls) + 2) << calls << " calls";
    }
}

TEST(SyscallCounter, CountsTheThreadsStartedAfterIt) {
    SyscallCounter counter;
    SKIP_UNLESS_COUNTING(counter);
    constexpr int kCalls = 5000;
    std::thread first([] { CallTheKernel(kCalls); });
    std::thread second([] { CallTheKernel(kCalls); });
    first.join();
    second.join();
    EXPECT_GE(counter.Read(), 2u * kCalls);
}

TEST(SyscallCounter, LeavesOutAProcessItStarts) {
    SyscallCounter counter;
    SKIP_UNLESS_COUNTING(counter);
    // Each scale opens, binds and watches a listener: several calls a scale in that process,
    // while this one spawns it and reads a line a scale.
    constexpr std::size_t kScales = 300;
    ScaleProcess scales;
    std::string error;
    ASSERT_TRUE(scales.Start(BENCH_SCALES, kScales, 0, {}, error)) << error;
    EXPECT_LT(counter.Read(), kScales);
}

TEST(Meter, LeavesOutItsOwnCalls) {
    for (int calls : {0, 3, 500}) {
        Meter meter;
        SKIP_UNLESS_COUNTING(meter);
        Sample start = meter.Take();
        CallTheKernel(calls);
        Sample used = Between(start, meter.Take());
        EXPECT_GE(used.calls, static_cast<uint64_t>(calls)) << calls << " calls";
        EXPECT_LE(used.calls, static_cast<uint64_t>(calls) + 2) << calls << " calls";
        EXPECT_GE(used.userSeconds + used.systemSeconds, 0.0);
    }
}

// The command line without its CR LF.
std::string Line(std::string command) {
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) {
        command.pop_back();
    }
    return command;
}

std::string Exchange(uint16_t port, const std::string& command) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size())) {
        char byte = 0;
        while (read(fd, &byte, 1) == 1 && byte != '\n') reply += byte;
    }
    close(fd);
    return Line(reply);
}

TEST(ScaleProcess, ServesScalesThatHoldThePreloadedLines) {
    std::vector<std::string> items = {"1A12,1##Apple", "2A7,1##Pear", "17A3,2##Plum"};
    std::vector<std::string> preload;
    for (const std::string& command : BuildCommandList(1, items, false)) {
        preload.push_back(Line(command));
    }
    const RecordType& item = RecordTypeOf(1);
    std::vector<std::string> reads = BuildCommandList(
        item.partner,
        {PadNumericField(1, item.numberWidth), PadNumericField(2, item.numberWidth),
         PadNumericField(17, item.numberWidth), PadNumericField(5, item.numberWidth)},
        false);
    scale::ScaleMemory told;
    for (const std::string& line : preload) told.Answer(line);

    ScaleProcess scales;
    std::string error;
    ASSERT_TRUE(scales.Start(BENCH_SCALES, 3, 0, preload, error)) << error;
    ASSERT_EQ(scales.Ports().size(), 3u);
    ASSERT_EQ(scales.Addresses().size(), 3u);
    for (uint16_t port : scales.Ports()) {
        for (const std::string& read : reads) {
            EXPECT_EQ(Exchange(port, read), told.Answer(Line(read))) << port << " " << read;
        }
    }
    EXPECT_GT(scales.CpuSeconds(), 0.0);
    scales.Stop();
    EXPECT_TRUE(scales.Ports().empty());
    EXPECT_EQ(scales.CpuSeconds(), 0.0);
}

TEST(ScaleProcess, AProgramThatIsNotThereFails) {
    ScaleProcess scales;
    std::string error;
    EXPECT_FALSE(scales.Start("/nonexistent/bench_scales", 2, 0, {"x"}, error));
    EXPECT_NE(error.find("/nonexistent/bench_scales"), std::string::npos) << error;
}

}  // namespace
}  // namespace vudaduv::bench
