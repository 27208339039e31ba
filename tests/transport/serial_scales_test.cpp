// Scales on serial lines served by the network send's own steps, over each engine that builds
// here, beside TCP scales in the same call: pseudo-terminals stand in for the lines, a thread of
// the test for each scale. What a line does to a send: answers, hangs up, stays silent, is held
// by someone else, is no line at all; and that it is given back as it was found.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "core/send_to_scales.h"
#include "core/socket_engine.h"
#include "engine_cases.h"
#include "loopback_fleet.h"
#include "temp_directory.h"
#include "test_support.h"
#include "vudaduv_transport.h"

namespace transport_test {
namespace {

using vudaduv::transport::CommandList;
using vudaduv::transport::ScaleJob;
using vudaduv::transport::ScaleResult;
using vudaduv::transport::SendSettings;
using vudaduv::transport::SocketEngine;

// What a stand-in does with the n-th command line (from 0): the bytes it sends back, "" for
// none; hangUp closes the line instead.
struct LineAnswer {
    std::string bytes;
    bool hangUp = false;
};
using LineScript = std::function<LineAnswer(std::size_t n, const std::string& command)>;

LineAnswer Echo(std::size_t, const std::string& command) {
    return {"ok " + command + "\r\n", false};
}

// A pseudo-terminal served by a thread of its own as script says. The device side stays open
// in this process, so that the master never sees the line hang up between its users.
class LineStandIn {
  public:
    explicit LineStandIn(LineScript script) : script_(std::move(script)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char name[256] = {};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name) != 0) {
            return;
        }
        path_ = name;
        device_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (device_ < 0 || tcgetattr(device_, &settings) != 0) return;
        cfmakeraw(&settings);
        tcsetattr(device_, TCSANOW, &settings);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LineStandIn() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (device_ >= 0) close(device_);
        if (master_ >= 0) close(master_);
    }
    LineStandIn(const LineStandIn&) = delete;
    LineStandIn& operator=(const LineStandIn&) = delete;

    bool Ready() const { return thread_.joinable(); }
    const std::string& Path() const { return path_; }
    std::string Address(const std::string& speed = "") const {
        return "serial:" + path_ + (speed.empty() ? "" : "@" + speed);
    }
    int Device() const { return device_; }

  private:
    void Serve() {
        std::string pending;
        std::size_t n = 0;
        while (!stop_) {
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0) continue;
            char buffer[4096];
            ssize_t got = read(master_, buffer, sizeof buffer);
            if (got <= 0) continue;
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string command = pending.substr(0, end);
                if (!command.empty() && command.back() == '\r') command.pop_back();
                pending.erase(0, end + 1);
                LineAnswer answer = script_(n++, command);
                if (answer.hangUp) {
                    // An adapter pulled out: both sides of the pseudo-terminal go.
                    close(device_);
                    device_ = -1;
                    close(master_);
                    master_ = -1;
                    return;
                }
                if (!answer.bytes.empty() &&
                    write(master_, answer.bytes.data(), answer.bytes.size()) < 0) {
                    return;
                }
            }
        }
    }

    LineScript script_;
    int master_ = -1;
    int device_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

CommandList Commands(std::size_t n) {
    return std::make_shared<const std::vector<std::string>>(CommandLines(n));
}

SendSettings QuickSettings() {
    SendSettings settings;
    settings.replyTimeoutMs = 300;
    settings.firstRetryPauseMs = 10;
    settings.tries = 2;
    return settings;
}

class SerialScales : public ::testing::TestWithParam<EngineCase> {
  protected:
    std::vector<ScaleResult> Send(const std::vector<ScaleJob>& jobs,
                                  const SendSettings& settings = QuickSettings()) {
        std::unique_ptr<SocketEngine> engine = GetParam().make();
        return vudaduv::transport::SendToScalesOver(*engine, jobs, settings, {});
    }
};

TEST_P(SerialScales, LinesAndNetworkScalesAreServedInOneCall) {
    LineStandIn first(Echo);
    LineStandIn second(Echo);
    ASSERT_TRUE(first.Ready() && second.Ready());
    LoopbackFleet network(2);
    CommandList commands = Commands(5);
    std::vector<ScaleJob> jobs = {{first.Address(), commands},
                                  {LoopbackAddress(network.Port(0)), commands},
                                  {second.Address("115200"), commands},
                                  {LoopbackAddress(network.Port(1)), commands}};
    std::vector<ScaleResult> results = Send(jobs);
    ASSERT_EQ(results.size(), 4u);
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(jobs[i].address);
        EXPECT_EQ(results[i].code, WQDS_OK);
        EXPECT_EQ(results[i].cause, "");
        EXPECT_EQ(results[i].replies.size(), 5u);
        EXPECT_EQ(results[i].connections, 1u);
    }
    EXPECT_EQ(results[0].replies[4], "ok !0U0004A");
    EXPECT_EQ(results[2].replies[0], "ok !0U0000A");
}

TEST_P(SerialScales, ALineThatHangsUpFailsAtOnceWithItsRepliesSoFar) {
    LineStandIn line([](std::size_t n, const std::string& command) {
        return n < 2 ? Echo(n, command) : LineAnswer{"", true};
    });
    ASSERT_TRUE(line.Ready());
    SendSettings patient = QuickSettings();
    patient.replyTimeoutMs = 20000;  // the hang-up must end it, not the time-out
    auto start = std::chrono::steady_clock::now();
    std::vector<ScaleResult> results = Send({{line.Address(), Commands(5)}}, patient);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(results[0].code, WQDS_CLOSED);
    EXPECT_EQ(results[0].cause, "the serial line hung up");
    EXPECT_EQ(results[0].replies.size(), 2u);
}

TEST_P(SerialScales, ASilentLineIsAskedAgainOnTheSameLineThenTimesOut) {
    std::atomic<std::size_t> heard{0};
    LineStandIn line([&heard](std::size_t, const std::string&) {
        ++heard;
        return LineAnswer{"garbage without a line end", false};
    });
    ASSERT_TRUE(line.Ready());
    std::vector<ScaleResult> results = Send({{line.Address(), Commands(3)}});
    EXPECT_EQ(results[0].code, WQDS_TIMEOUT);
    EXPECT_EQ(results[0].cause, "timed out");
    EXPECT_EQ(results[0].connections, 2u);  // the tries, both on the one line
    EXPECT_EQ(heard.load(), 2u);
    EXPECT_TRUE(results[0].replies.empty());
}

TEST_P(SerialScales, ALateAnswerDoesNotPassForTheAnswerToTheRepeat) {
    // The first answer comes past the time-out, during the pause before the command is asked
    // again, and is dropped; the command asked again is answered.
    LineStandIn line([](std::size_t n, const std::string& command) {
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return LineAnswer{(n == 0 ? "late " : "ok ") + command + "\r\n", false};
    });
    ASSERT_TRUE(line.Ready());
    SendSettings settings = QuickSettings();
    settings.firstRetryPauseMs = 600;
    std::vector<ScaleResult> results = Send({{line.Address(), Commands(2)}}, settings);
    ASSERT_EQ(results[0].code, WQDS_OK);
    EXPECT_EQ(results[0].replies, (std::vector<std::string>{"ok !0U0000A", "ok !0U0001A"}));
}

TEST_P(SerialScales, ALineHeldByAnotherIsInUse) {
    LineStandIn line(Echo);
    ASSERT_TRUE(line.Ready());
    // Another holder's lock, on an open file of its own (flock() knows no process).
    int other = open(line.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    std::vector<ScaleResult> results = Send({{line.Address(), Commands(2)}});
    close(other);
    EXPECT_EQ(results[0].code, WQDS_REFUSED);
    EXPECT_EQ(results[0].cause, "in use by another process");
    EXPECT_EQ(results[0].connections, 1u);  // not asked again: it stays in use
}

TEST_P(SerialScales, ADeviceThatIsNoLineIsABadAddress) {
    vudaduv::testing::TempDirectory directory;
    struct Case {
        std::string address;
        const char* cause;
    };
    const std::vector<Case> cases = {
        {"serial:" + (directory.Path() / "no-such-device").string(), "no such device"},
        {"serial:/dev/null", "not a serial line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::vector<ScaleResult> results = Send({{c.address, Commands(1)}});
        EXPECT_EQ(results[0].code, WQDS_BAD_ADDRESS);
        EXPECT_EQ(results[0].cause, c.cause);
        EXPECT_EQ(results[0].connections, 0u);
    }
}

TEST_P(SerialScales, TheLineIsGivenBackWithTheSettingsItHad) {
    LineStandIn line(Echo);
    ASSERT_TRUE(line.Ready());
    termios before{};
    ASSERT_EQ(tcgetattr(line.Device(), &before), 0);
    before.c_lflag |= ICANON | ECHO;
    cfsetospeed(&before, B1200);
    cfsetispeed(&before, B1200);
    ASSERT_EQ(tcsetattr(line.Device(), TCSANOW, &before), 0);
    // Canonical mode with echo on the device side would garble a send: it works all the same.
    std::vector<ScaleResult> results = Send({{line.Address("19200"), Commands(3)}});
    EXPECT_EQ(results[0].code, WQDS_OK);
    termios after{};
    ASSERT_EQ(tcgetattr(line.Device(), &after), 0);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B1200));
#ifdef TIOCGEXCL
    int exclusive = 1;
    ASSERT_EQ(ioctl(line.Device(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);  // the next process may open it
#endif
}

TEST_P(SerialScales, AStopEndsAScaleWaitingOnItsLine) {
    LineStandIn line([](std::size_t, const std::string&) { return LineAnswer{}; });
    ASSERT_TRUE(line.Ready());
    std::atomic<bool> stop{false};
    vudaduv::transport::SendObserver observer;
    observer.stop = &stop;
    SendSettings patient;
    patient.replyTimeoutMs = 30000;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    std::unique_ptr<SocketEngine> engine = GetParam().make();
    auto start = std::chrono::steady_clock::now();
    std::vector<ScaleResult> results = vudaduv::transport::SendToScalesOver(
        *engine, {{line.Address(), Commands(2)}}, patient, observer);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(results[0].code, WQDS_INTERNAL);
    // And the line is free again for the next run.
    std::vector<ScaleResult> again = Send({{line.Address(), Commands(1)}});
    EXPECT_EQ(again[0].code, WQDS_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Each, SerialScales, ::testing::ValuesIn(kEngines), EngineName);

}  // namespace
}  // namespace transport_test
