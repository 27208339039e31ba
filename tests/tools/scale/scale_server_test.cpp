// The virtual scale over a real loopback socket and a real pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loopback_socket.h"
#include "scale_line_reader.h"
#include "scale_platform.h"
#include "virtual_scale.h"

namespace {

using vudaduv::scale::CommandLineReader;
using vudaduv::scale::kMaxCommandLineBytes;
using vudaduv::scale::PtyScaleServer;
using vudaduv::scale::ScaleFleet;
using vudaduv::scale::ScaleMemory;
using vudaduv::scale::ServerOptions;
using vudaduv::scale::TcpScaleServer;
namespace platform = vudaduv::scale::platform;

constexpr auto kPatience = std::chrono::seconds(10);  // a safety net, never an assertion
constexpr int kReadWaitMs = 20;

std::size_t CountLineEnds(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
        ++count;
    }
    return count;
}

// The TCP side talks through the tests' own loopback client; the pseudo-terminal side through
// the scale's device stream.
using TcpStream = vudaduv::testing::LoopbackStream;

template <typename Status>
bool Closed(Status status) {
    return status == Status::kClosed;
}

// Reads until lineCount reply lines have come, the peer has gone or patience ran out.
template <typename Stream>
std::string ReadReplyLines(Stream& stream, std::size_t lineCount) {
    std::string replies;
    auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (CountLineEnds(replies) < lineCount && std::chrono::steady_clock::now() < giveUp) {
        if (Closed(stream.Read(replies, kReadWaitMs))) break;
    }
    return replies;
}

// True when the peer closes before patience runs out.
template <typename Stream>
bool PeerCloses(Stream& stream) {
    std::string ignored;
    auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < giveUp) {
        if (Closed(stream.Read(ignored, kReadWaitMs))) return true;
    }
    return false;
}

// What the scale answers to bytes, worked out without any socket.
std::string ExpectedReplies(const std::string& bytes) {
    ScaleMemory memory;
    CommandLineReader reader(memory);
    return reader.Answers(bytes);
}

const std::atomic<bool> kNeverStop{false};

class TcpScaleTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << error;
        ASSERT_NE(server_.Port(), 0);
    }

    std::unique_ptr<TcpStream> Connect() {
        std::string error;
        std::unique_ptr<TcpStream> stream =
            vudaduv::testing::ConnectTcp("127.0.0.1", server_.Port(), error);
        EXPECT_TRUE(stream) << error;
        return stream;
    }

    // Sends bytes in pieces of chunk bytes on a fresh connection and returns the replies.
    std::string Exchange(const std::string& bytes, std::size_t chunk, std::size_t replyLines) {
        std::unique_ptr<TcpStream> stream = Connect();
        if (!stream) return {};
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            if (!stream->Write(std::string_view(bytes).substr(at, chunk))) return {};
        }
        return ReadReplyLines(*stream, replyLines);
    }

    ScaleMemory memory_;
    TcpScaleServer server_{memory_, ServerOptions{}};
};

// Downloads, reads, errors and a bare-LF line end: all idempotent, so every connection gets
// the same replies.
std::string Script() {
    return "!0V0005AxB03650366CDE\r\n"
           "!0U0005A\r\n"
           "!0X05A037203730000B\r\n"
           "!0W05A\n"
           "!0Z17A104105000B\r\n"
           "!0Y17A\r\n"
           "!0Oabc\r\n"
           "!0N\r\n"
           "!0P2603070905\r\n"
           "!0T03Ax\r\n!0R03Ayz\r\n!0S03A\r\n!0Q03A\r\n"
           "!0L02A" +
           std::string(144, 'k') +
           "B\r\n"
           "!0K02A\r\n"
           "!0K01A\r\n"
           "hello\r\n!0A\r\n!0U12A\r\n\r\n";
}

TEST_F(TcpScaleTest, AnswersAlikeWhateverTheChunks) {
    const std::string script = Script();
    const std::string expected = ExpectedReplies(script);
    const std::size_t lines = CountLineEnds(expected);
    for (std::size_t chunk = 1; chunk <= script.size(); ++chunk) {
        ASSERT_EQ(Exchange(script, chunk, lines), expected) << "chunks of " << chunk << " bytes";
    }
}

TEST_F(TcpScaleTest, ServesSeveralConnectionsAtOnce) {
    constexpr int kConnections = 6;
    constexpr int kRounds = 5;
    std::vector<std::unique_ptr<TcpStream>> streams;
    for (int c = 0; c < kConnections; ++c) {
        streams.push_back(Connect());
        ASSERT_TRUE(streams.back());
    }
    // Each connection takes turns; a scale serving one connection at a time would stall here.
    for (int round = 0; round < kRounds; ++round) {
        for (int c = 0; c < kConnections; ++c) {
            std::string item = std::to_string(1000 + c * kRounds + round);
            ASSERT_TRUE(streams[c]->Write("!0V" + item + "A" + std::to_string(c) + "BCDE\r\n"));
            ASSERT_EQ(ReadReplyLines(*streams[c], 1), "0v\r\n");
        }
    }
    // What one connection downloaded, every other one reads.
    for (int c = 0; c < kConnections; ++c) {
        std::string item = std::to_string(1000 + ((c + 1) % kConnections) * kRounds);
        ASSERT_TRUE(streams[c]->Write("!0U" + item + "A\r\n"));
        EXPECT_EQ(ReadReplyLines(*streams[c], 1),
                  "0u" + item + "A" + std::to_string((c + 1) % kConnections) + "BCDE\r\n");
    }
}

// Replies far beyond what the sockets hold, asked for before the peer reads any: the scale waits
// for room to write them, and once the peer reads, every one comes, whole and in order.
TEST_F(TcpScaleTest, RepliesThePeerDoesNotTakeYetAllComeOnceItReads) {
    constexpr int kReads = 2000;  // 16 MB of replies
    std::string commands = "!0V0001A" + std::string(8000, 'x') + "BCDE\r\n";
    for (int i = 0; i < kReads; ++i) commands += "!0U0001A\r\n";
    const std::string expected = ExpectedReplies(commands);
    std::unique_ptr<TcpStream> stream = Connect();
    ASSERT_TRUE(stream);
    ASSERT_TRUE(stream->Write(commands));
    std::string replies;
    auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (replies.size() < expected.size() && std::chrono::steady_clock::now() < giveUp) {
        if (Closed(stream->Read(replies, kReadWaitMs))) break;
    }
    EXPECT_TRUE(replies == expected) << replies.size() << " of " << expected.size() << " bytes";
}

TEST_F(TcpScaleTest, OverLongLineIsAnsweredOnceAndDropped) {
    const std::string overLong = "!0O" + std::string(3 * kMaxCommandLineBytes, 'x') + "\r\n";
    const std::string bytes = overLong + "!0N\r\n";
    for (std::size_t chunk : {std::size_t{1000}, std::size_t{8192}, bytes.size()}) {
        EXPECT_EQ(Exchange(bytes, chunk, 2), "0eTOOLONG\r\n0fN\r\n") << chunk;
    }
}

TEST_F(TcpScaleTest, LongestLineIsServed) {
    const std::string data(kMaxCommandLineBytes - 3, 'x');
    EXPECT_EQ(Exchange("!0O" + data + "\r\n!0N\r\n", 4096, 2), "0o\r\n0n" + data + "E\r\n");
}

TEST_F(TcpScaleTest, GarbageGetsErrorsAndTheScaleGoesOn) {
    std::mt19937 random(4001);
    std::string garbage;
    for (int i = 0; i < 20000; ++i) garbage += static_cast<char>(random() % 256);
    garbage += "\n!0Oafter\r\n!0N\r\n";
    const std::string expected = ExpectedReplies(garbage);
    ASSERT_GE(expected.size(), std::string("0nafterE\r\n").size());
    EXPECT_EQ(expected.substr(expected.size() - 14), "0o\r\n0nafterE\r\n");
    EXPECT_EQ(Exchange(garbage, 777, CountLineEnds(expected)), expected);
}

TEST_F(TcpScaleTest, StopClosesOpenConnections) {
    std::unique_ptr<TcpStream> stream = Connect();
    ASSERT_TRUE(stream);
    ASSERT_TRUE(stream->Write("!0N\r\n"));
    ASSERT_EQ(ReadReplyLines(*stream, 1), "0fN\r\n");
    server_.Stop();
    EXPECT_TRUE(PeerCloses(*stream));
    std::string error;
    EXPECT_FALSE(vudaduv::testing::ConnectTcp("127.0.0.1", server_.Port(), error));
}

ServerOptions WithReplyDelay(std::chrono::milliseconds delay) {
    ServerOptions options;
    options.replyDelay = delay;
    return options;
}

// At once and after a delay: the two ways a reply goes.
const std::chrono::milliseconds kReplyDelays[] = {std::chrono::milliseconds(0),
                                                  std::chrono::milliseconds(20)};

// A peer that sends no more still gets every reply it is owed, then the scale closes; a last
// line without its line end gets none.
TEST(TcpScaleServer, RepliesOwedStillGoAfterThePeerStopsSending) {
    const std::string commands = "!0V0001A1BCDE\r\n!0U0001A\r\n!0N\r\n!0N";
    const std::string expected = ExpectedReplies(commands);
    ASSERT_EQ(CountLineEnds(expected), 3u);
    for (std::chrono::milliseconds delay : kReplyDelays) {
        ScaleMemory memory;
        TcpScaleServer server(memory, WithReplyDelay(delay));
        std::string error;
        ASSERT_TRUE(server.Start(error)) << error;
        std::unique_ptr<TcpStream> stream =
            vudaduv::testing::ConnectTcp("127.0.0.1", server.Port(), error);
        ASSERT_TRUE(stream) << error;
        ASSERT_TRUE(stream->Write(commands));
        ASSERT_TRUE(stream->EndWrites());
        EXPECT_EQ(ReadReplyLines(*stream, 3), expected) << delay.count() << " ms";
        EXPECT_TRUE(PeerCloses(*stream)) << delay.count() << " ms";
    }
}

// Peers that go while their replies are on the way (waiting for room in the socket, or waiting
// out the delay) take nothing of the scale with them: the next peer is served whole, and the
// scale stops with the connections it dropped still in its queues.
TEST(TcpScaleServer, PeersThatGoMidReplyLeaveTheScaleServing) {
    constexpr int kRounds = 3;
    const std::string bigReply = "!0V0001A" + std::string(8000, 'x') + "BCDE\r\n";
    const std::string script = Script();
    const std::string expected = ExpectedReplies(script);
    for (std::chrono::milliseconds delay : kReplyDelays) {
        ScaleMemory memory;
        TcpScaleServer server(memory, WithReplyDelay(delay));
        std::string error;
        ASSERT_TRUE(server.Start(error)) << error;
        // At once, 16 MB of replies fill the sockets; after a delay, all but the first wait.
        std::string commands = bigReply;
        for (int i = 0; i < (delay.count() == 0 ? 2000 : 20); ++i) commands += "!0U0001A\r\n";
        for (int round = 0; round < kRounds; ++round) {
            std::unique_ptr<TcpStream> going =
                vudaduv::testing::ConnectTcp("127.0.0.1", server.Port(), error);
            ASSERT_TRUE(going) << error;
            ASSERT_TRUE(going->Write(commands));
            std::string first = ReadReplyLines(*going, 1);  // and whatever came with it
            ASSERT_EQ(first.substr(0, 4), "0v\r\n") << delay.count() << " ms";
        }
        std::unique_ptr<TcpStream> staying =
            vudaduv::testing::ConnectTcp("127.0.0.1", server.Port(), error);
        ASSERT_TRUE(staying) << error;
        ASSERT_TRUE(staying->Write(script));
        EXPECT_EQ(ReadReplyLines(*staying, CountLineEnds(expected)), expected)
            << delay.count() << " ms";
        std::unique_ptr<TcpStream> left =
            vudaduv::testing::ConnectTcp("127.0.0.1", server.Port(), error);
        ASSERT_TRUE(left) << error;
        ASSERT_TRUE(left->Write(commands));
        server.Stop();
        EXPECT_TRUE(PeerCloses(*left)) << delay.count() << " ms";
    }
}

TEST(TcpScaleServer, RestartsAfterStop) {
    ScaleMemory memory;
    TcpScaleServer server(memory, ServerOptions{});
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    EXPECT_FALSE(server.Start(error));
    server.Stop();
    ASSERT_TRUE(server.Start(error)) << error;
}

TEST(TcpScaleServer, ReportsAPortInUse) {
    ScaleMemory memory;
    TcpScaleServer first(memory, ServerOptions{});
    std::string error;
    ASSERT_TRUE(first.Start(error)) << error;
    TcpScaleServer second(memory, ServerOptions{"127.0.0.1", first.Port()});
    EXPECT_FALSE(second.Start(error));
    EXPECT_FALSE(error.empty());
}

TEST(TcpScaleServer, RejectsAHostThatIsNotAnAddress) {
    ScaleMemory memory;
    TcpScaleServer server(memory, ServerOptions{"not an address", 0});
    std::string error;
    EXPECT_FALSE(server.Start(error));
    EXPECT_FALSE(error.empty());
}

TEST(TcpScaleServer, ServesIpv6Loopback) {
    ScaleMemory memory;
    TcpScaleServer server(memory, ServerOptions{"::1", 0});
    std::string error;
    if (!server.Start(error)) GTEST_SKIP() << "no IPv6 loopback here: " << error;
    std::unique_ptr<TcpStream> stream = vudaduv::testing::ConnectTcp("::1", server.Port(), error);
    ASSERT_TRUE(stream) << error;
    ASSERT_TRUE(stream->Write("!0P2603070905\r\n"));
    EXPECT_EQ(ReadReplyLines(*stream, 1), "0p\r\n");
}

std::vector<std::unique_ptr<TcpStream>> ConnectToEach(const std::vector<uint16_t>& ports) {
    std::vector<std::unique_ptr<TcpStream>> streams;
    for (uint16_t port : ports) {
        std::string error;
        streams.push_back(vudaduv::testing::ConnectTcp("127.0.0.1", port, error));
        EXPECT_TRUE(streams.back()) << port << ": " << error;
    }
    return streams;
}

// Every scale of a fleet keeps what it was sent and nothing the others were sent.
TEST(ScaleFleet, EachScaleHasAMemoryOfItsOwn) {
    constexpr std::size_t kScales = 50;
    ScaleFleet fleet(kScales, ServerOptions{});
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    ASSERT_EQ(fleet.Ports().size(), kScales);
    std::vector<std::unique_ptr<TcpStream>> streams = ConnectToEach(fleet.Ports());
    for (std::size_t s = 0; s < kScales; ++s) {
        ASSERT_TRUE(streams[s]);
        std::string item = s % 2 == 0 ? "0007" : "0008";  // the neighbour's slot stays empty
        ASSERT_TRUE(streams[s]->Write("!0V" + item + "A" + std::to_string(s) + "BCDE\r\n"));
    }
    for (std::size_t s = 0; s < kScales; ++s) {
        ASSERT_EQ(ReadReplyLines(*streams[s], 1), "0v\r\n") << s;
        ASSERT_TRUE(streams[s]->Write("!0U0007A\r\n!0U0008A\r\n"));
    }
    for (std::size_t s = 0; s < kScales; ++s) {
        std::string mine = "A" + std::to_string(s) + "BCDE\r\n";
        EXPECT_EQ(ReadReplyLines(*streams[s], 2),
                  s % 2 == 0 ? "0u0007" + mine + "0fU0008\r\n" : "0fU0007\r\n0u0008" + mine)
            << s;
    }
    EXPECT_EQ(fleet.Memory(0).Answer("!0U0007A"), "0u0007A0BCDE");
    EXPECT_EQ(fleet.Memory(1).Answer("!0U0007A"), "0fU0007");
}

// A scale that waits before every reply holds up none of the others: the waits of all scales
// overlap, so every reply is in long before the waits one after the other would be over.
TEST(ScaleFleet, ReplyDelaysOverlap) {
    constexpr std::size_t kScales = 50;
    constexpr auto kDelay = std::chrono::milliseconds(500);
    static_assert(kScales * kDelay > kPatience, "one after the other would outlast patience");
    ServerOptions options;
    options.replyDelay = kDelay;
    ScaleFleet fleet(kScales, options);
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    std::vector<std::unique_ptr<TcpStream>> streams = ConnectToEach(fleet.Ports());
    for (auto& stream : streams) {
        ASSERT_TRUE(stream);
        ASSERT_TRUE(stream->Write("!0P2603070905\r\n!0N\r\n"));
    }
    for (auto& stream : streams) EXPECT_EQ(ReadReplyLines(*stream, 2), "0p\r\n0fN\r\n");
}

// Commands that come while earlier replies still wait out the delay, in whatever pieces, are
// all answered, in order, each after its own delay.
TEST(ScaleFleet, CommandsSentDuringADelayAreAnsweredInOrder) {
    constexpr auto kDelay = std::chrono::milliseconds(50);
    ServerOptions options;
    options.replyDelay = kDelay;
    ScaleFleet fleet(1, options);
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    std::unique_ptr<TcpStream> stream =
        vudaduv::testing::ConnectTcp("127.0.0.1", fleet.Ports()[0], error);
    ASSERT_TRUE(stream) << error;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(stream->Write("!0V0001A1BCDE\r\n"));
    std::this_thread::sleep_for(kDelay / 5);
    const std::string later = "!0V0002A2BCDE\r\n!0U0001A\r\n";
    for (char byte : later) ASSERT_TRUE(stream->Write(std::string(1, byte)));
    EXPECT_EQ(ReadReplyLines(*stream, 3), "0v\r\n0v\r\n0u0001A1BCDE\r\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * kDelay);
}

// The fleet's thread reports the CPU it spent, and keeps the reading once stopped. Some systems
// count a thread's time in ticks of several milliseconds: the exchanges go on until one counts.
TEST(ScaleFleet, ReportsTheCpuTimeOfItsThread) {
    ScaleFleet fleet(1, ServerOptions{});
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    std::unique_ptr<TcpStream> stream =
        vudaduv::testing::ConnectTcp("127.0.0.1", fleet.Ports()[0], error);
    ASSERT_TRUE(stream) << error;
    auto giveUp = std::chrono::steady_clock::now() + kPatience;
    while (fleet.CpuTime().count() == 0 && std::chrono::steady_clock::now() < giveUp) {
        ASSERT_TRUE(stream->Write("!0P2603070905\r\n"));
        ASSERT_EQ(ReadReplyLines(*stream, 1), "0p\r\n");
    }
    std::chrono::nanoseconds running = fleet.CpuTime();
    EXPECT_GT(running.count(), 0);
    fleet.Stop();
    EXPECT_GE(fleet.CpuTime(), running);
}

TEST(ScaleFleet, NamesTheConsecutivePortThatIsTaken) {
    ScaleMemory memory;
    TcpScaleServer taken(memory, ServerOptions{});
    std::string error;
    ASSERT_TRUE(taken.Start(error)) << error;
    ScaleFleet fleet(3, ServerOptions{"127.0.0.1", taken.Port()});
    EXPECT_FALSE(fleet.Start(error));
    EXPECT_NE(error.find("127.0.0.1:" + std::to_string(taken.Port()) + ":"), std::string::npos)
        << error;
    EXPECT_TRUE(fleet.Ports().empty());
}

#ifndef _WIN32
TEST(PtyScaleServer, AnswersOnTheDeviceSide) {
    ScaleMemory memory;
    PtyScaleServer server(memory);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_FALSE(server.DevicePath().empty());
    // The device may be opened, used and closed again, as a serial transport does per send.
    for (int use = 0; use < 2; ++use) {
        std::unique_ptr<platform::Stream> device =
            platform::OpenSerialDevice(server.DevicePath(), error);
        ASSERT_TRUE(device) << error;
        ASSERT_TRUE(device->Write("!0V0005ABCDE\r\n!0U0005A\r\n!0S00A\r\n", kNeverStop));
        EXPECT_EQ(ReadReplyLines(*device, 3), "0v\r\n0u0005ABCDE\r\n0fS00\r\n");
    }
    server.Stop();
    EXPECT_TRUE(server.DevicePath().empty());
}

TEST(PtyScaleServer, StopsWhileADeviceIsOpen) {
    ScaleMemory memory;
    PtyScaleServer server(memory);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    std::unique_ptr<platform::Stream> device =
        platform::OpenSerialDevice(server.DevicePath(), error);
    ASSERT_TRUE(device) << error;
    ASSERT_TRUE(device->Write("!0N\r\n", kNeverStop));
    EXPECT_EQ(ReadReplyLines(*device, 1), "0fN\r\n");
    server.Stop();
}
#else
// Windows has no pseudo-terminals: the server says so instead of serving.
TEST(PtyScaleServer, IsUnavailableOnWindows) {
    ScaleMemory memory;
    PtyScaleServer server(memory);
    std::string error;
    EXPECT_FALSE(server.Start(error));
    EXPECT_NE(error.find("not available on Windows"), std::string::npos) << error;
    EXPECT_TRUE(server.DevicePath().empty());
}
#endif

}  // namespace
