// The engines beneath the network send (core/socket_engine.h), each that builds here, over real
// loopback sockets: who is told what, and the send's steps over each with replies that arrive
// in pieces of every size, trickle past their deadline or stop halfway.
#include "core/socket_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/read_until.hpp"
#include "asio/streambuf.hpp"
#include "asio/write.hpp"
#include "core/send_to_scales.h"
#include "engine_cases.h"
#include "loopback_socket.h"
#include "test_support.h"

namespace transport_test {
namespace {

using asio::ip::tcp;
using vudaduv::transport::Channel;
using vudaduv::transport::ChannelEvents;
using vudaduv::transport::Endpoint;
using vudaduv::transport::EngineClock;
using vudaduv::transport::ScaleJob;
using vudaduv::transport::ScaleResult;
using vudaduv::transport::SendSettings;
using vudaduv::transport::SocketEngine;

class Engine : public ::testing::TestWithParam<EngineCase> {
  protected:
    std::unique_ptr<SocketEngine> engine_ = GetParam().make();
};

// Records what its channel tells and runs the test's step at each word; a safety alarm closes
// the channel should a word never come.
struct Owner final : ChannelEvents {
    void Resolved(const std::error_code&, std::vector<Endpoint>) noexcept override {}
    void Connected(const std::error_code& error) noexcept override {
        words.push_back(error ? "refused" : "connected");
        if (!closed && onConnected) onConnected();
    }
    void Written(const std::error_code&) noexcept override { words.push_back("written"); }
    void Received(const std::error_code& error, const char* bytes,
                  std::size_t count) noexcept override {
        words.push_back(error ? "failed" : count == 0 ? "end" : std::string(bytes, count));
        if (onReceived) onReceived();
    }
    void AlarmRang() noexcept override {
        words.push_back("alarm");
        Close();
    }
    void Close() {
        closed = true;
        channel->Close();
        channel->CancelAlarm();
    }
    std::unique_ptr<Channel> channel;
    std::vector<std::string> words;
    bool closed = false;
    std::function<void()> onConnected;
    std::function<void()> onReceived;
};

// Accepts connections on 127.0.0.1 and hands each to serve, on a thread of its own.
class Server {
  public:
    explicit Server(std::function<void(tcp::socket&)> serve)
        : acceptor_(context_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
          thread_([this, serve] {
              asio::error_code error;
              tcp::socket connection(context_);
              acceptor_.accept(connection, error);
              if (error) return;
              connection.set_option(tcp::no_delay(true), error);
              serve(connection);
          }) {}
    ~Server() { Join(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::uint16_t Port() const { return acceptor_.local_endpoint().port(); }
    Endpoint Address() const { return {asio::ip::make_address("127.0.0.1"), Port()}; }

  private:
    asio::io_context context_;
    tcp::acceptor acceptor_;
    std::thread thread_;
};

// Reads one command line; false when the sender has gone.
bool ReadCommand(tcp::socket& connection, asio::streambuf& input, std::string& command) {
    asio::error_code error;
    std::size_t length = asio::read_until(connection, input, "\r\n", error);
    if (error) return false;
    command.assign(asio::buffers_begin(input.data()),
                   asio::buffers_begin(input.data()) + static_cast<long>(length - 2));
    input.consume(length);
    return true;
}

// Answers the first command whole and reads the second: false when the sender went first.
bool AnswerOneThenReadNext(tcp::socket& connection, asio::streambuf& input, std::string& command) {
    asio::error_code error;
    if (!ReadCommand(connection, input, command)) return false;
    asio::write(connection, asio::buffer(ScaleReply(command) + "\r\n"), error);
    return !error && ReadCommand(connection, input, command);
}

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Two scales' bytes are there before the engine first waits, so both are told in one go:
// whichever owner is told first closes the other's channel, as a session ends another's on a
// stop. The closed one hears nothing more.
TEST_P(Engine, AChannelClosedWhileItsBatchIsToldHearsNothingMore) {
    auto sendAndWait = [](tcp::socket& connection) {
        asio::error_code error;
        asio::write(connection, asio::buffer(std::string("0v")), error);
        char rest[16];
        connection.read_some(asio::buffer(rest), error);  // until the sender goes
    };
    Server servers[2] = {Server(sendAndWait), Server(sendAndWait)};
    Owner owners[2];
    int toldFirst = -1;
    for (int i = 0; i < 2; ++i) {
        owners[i].channel = engine_->NewChannel(owners[i]);
        owners[i].channel->SetAlarm(EngineClock::now() + std::chrono::seconds(10));
        owners[i].onConnected = [&, i] { owners[i].channel->Receive(); };
        owners[i].onReceived = [&, i] {
            if (toldFirst < 0) toldFirst = i;
            owners[1 - i].Close();
            owners[i].Close();
        };
        ASSERT_FALSE(owners[i].channel->Connect(servers[i].Address()));
    }
    Pause(100);  // both connections taken and their bytes sent

    engine_->Run();

    ASSERT_NE(toldFirst, -1);
    EXPECT_EQ(owners[toldFirst].words, (std::vector<std::string>{"connected", "0v"}));
    const std::vector<std::string>& other = owners[1 - toldFirst].words;
    EXPECT_TRUE(other.empty() || other == std::vector<std::string>{"connected"});
}

// The end of the stream that came with the last bytes is told on the next Receive, with no new
// word of the socket to wake the engine.
TEST_P(Engine, BytesAndTheEndAfterThemAreToldInTurn) {
    Server server([](tcp::socket& connection) {
        asio::error_code error;
        asio::write(connection, asio::buffer(std::string("0v")), error);
        connection.shutdown(tcp::socket::shutdown_send, error);
        char rest[16];
        connection.read_some(asio::buffer(rest), error);
    });
    Owner owner;
    owner.channel = engine_->NewChannel(owner);
    owner.channel->SetAlarm(EngineClock::now() + std::chrono::seconds(10));
    owner.onConnected = [&] { owner.channel->Receive(); };
    owner.onReceived = [&] {
        if (owner.words.back() == "end") {
            owner.Close();
        } else {
            owner.channel->Receive();
        }
    };
    ASSERT_FALSE(owner.channel->Connect(server.Address()));
    Pause(50);  // the bytes and the end are there before the first wait

    engine_->Run();

    EXPECT_EQ(owner.words, (std::vector<std::string>{"connected", "0v", "end"}));
}

TEST_P(Engine, AnAlarmSetAnewRingsOnceAtTheLaterTime) {
    Owner owner;
    owner.channel = engine_->NewChannel(owner);
    owner.channel->SetAlarm(EngineClock::now() + std::chrono::milliseconds(1));
    owner.channel->SetAlarm(EngineClock::now() + std::chrono::milliseconds(30));
    EngineClock::time_point start = EngineClock::now();

    engine_->Run();

    EXPECT_EQ(owner.words, (std::vector<std::string>{"alarm"}));
    EXPECT_GE(EngineClock::now() - start, std::chrono::milliseconds(30));
}

SendSettings OneTry(std::uint32_t replyTimeoutMs) {
    SendSettings settings;
    settings.replyTimeoutMs = replyTimeoutMs;
    settings.connectTimeoutMs = 5000;
    settings.tries = 1;
    return settings;
}

std::vector<ScaleResult> SendOver(SocketEngine& engine, std::uint16_t port,
                                  std::vector<std::string> commands, const SendSettings& settings) {
    std::vector<ScaleJob> jobs = {
        {LoopbackAddress(port), std::make_shared<const std::vector<std::string>>(commands)}};
    return vudaduv::transport::SendToScalesOver(engine, jobs, settings, {});
}

// Every reply cut into pieces of one size, that arrive one by one: each size from one byte to
// the whole line gives the same replies.
TEST_P(Engine, AReplyInPiecesOfEverySizeIsTakenWhole) {
    const std::string tail = "-piece-by-piece";
    const std::size_t lineLength = ScaleReply("!0U0000A").size() + tail.size() + 2;
    const std::vector<std::string> commands = CommandLines(3);
    std::vector<std::string> expected;
    for (const std::string& command : WithoutLineEnds(commands)) {
        expected.push_back(ScaleReply(command) + tail);
    }
    for (std::size_t size = 1; size <= lineLength; ++size) {
        SCOPED_TRACE(size);
        Server server([&](tcp::socket& connection) {
            asio::streambuf input;
            std::string command;
            while (ReadCommand(connection, input, command)) {
                std::string line = ScaleReply(command) + tail + "\r\n";
                for (std::size_t at = 0; at < line.size(); at += size) {
                    asio::error_code error;
                    asio::write(connection, asio::buffer(line.substr(at, size)), error);
                    Pause(1);
                }
            }
        });
        auto engine = GetParam().make();
        std::vector<ScaleResult> results = SendOver(*engine, server.Port(), commands, OneTry(5000));
        server.Join();
        EXPECT_EQ(results[0].code, WQDS_OK);
        EXPECT_EQ(results[0].replies, expected);
    }
}

// Bytes that keep coming do not move the deadline: a reply that trickles in without end times
// out, with the replies before it kept, long before the scale's patience runs out.
TEST_P(Engine, AReplyThatTricklesPastItsDeadlineTimesOut) {
    constexpr int kPatience = 600;  // bytes, one each 50 ms: 30 s
    std::atomic<int> trickled{0};
    Server server([&](tcp::socket& connection) {
        asio::streambuf input;
        std::string command;
        asio::error_code error;
        if (!AnswerOneThenReadNext(connection, input, command)) return;
        for (int i = 0; i < kPatience; ++i) {  // no LF, until the sender goes
            asio::write(connection, asio::buffer(std::string("x")), error);
            if (error) return;
            ++trickled;
            Pause(50);
        }
    });

    std::vector<ScaleResult> results =
        SendOver(*engine_, server.Port(), CommandLines(3), OneTry(1000));
    server.Join();

    EXPECT_EQ(results[0].code, WQDS_TIMEOUT);
    EXPECT_EQ(results[0].replies, (std::vector<std::string>{ScaleReply("!0U0000A")}));
    EXPECT_EQ(results[0].connections, 1u);
    EXPECT_GT(trickled.load(), 0);
    EXPECT_LT(trickled.load(), kPatience);
}

// A scale that stops halfway through a reply and closes: the half is not a reply, the one
// before it is kept, and the close is told at once.
TEST_P(Engine, AScaleThatClosesMidReplyCountsAsClosed) {
    Server server([](tcp::socket& connection) {
        asio::streambuf input;
        std::string command;
        asio::error_code error;
        if (!AnswerOneThenReadNext(connection, input, command)) return;
        asio::write(connection, asio::buffer(ScaleReply(command).substr(0, 3)), error);
        connection.close(error);
    });

    std::vector<ScaleResult> results =
        SendOver(*engine_, server.Port(), CommandLines(3), OneTry(30000));

    EXPECT_EQ(results[0].code, WQDS_CLOSED);
    EXPECT_EQ(results[0].replies, (std::vector<std::string>{ScaleReply("!0U0000A")}));
    EXPECT_LT(results[0].milliseconds, 10000u);
}

// Names go through the engine's resolver: one that resolves is served, one that cannot is a bad
// address with no connection tried.
TEST_P(Engine, NamesAreResolvedByTheEngine) {
    LoopbackPeer peer(false, AnswerAll("n"));
    ASSERT_TRUE(peer.Listening());
    std::vector<std::string> commands = CommandLines(2);
    auto list = std::make_shared<const std::vector<std::string>>(commands);
    bool named = vudaduv::testing::LocalhostIsLoopback();
    std::vector<ScaleJob> jobs = {{"no-such-scale.invalid:4001", list}};
    if (named) jobs.push_back({"localhost:" + std::to_string(peer.Port()), list});

    std::vector<ScaleResult> results =
        vudaduv::transport::SendToScalesOver(*engine_, jobs, OneTry(5000), {});

    EXPECT_EQ(results[0].code, WQDS_BAD_ADDRESS);
    EXPECT_EQ(results[0].connections, 0u);
    if (!named) GTEST_SKIP() << "localhost does not resolve to 127.0.0.1 here (no /etc/hosts?)";
    EXPECT_EQ(results[1].code, WQDS_OK);
    EXPECT_EQ(results[1].replies.size(), 2u);
}

// Ten scales through two connection slots: never more than two connections at once, each slot
// handed on as a scale is done, and a scale's time-outs start when it gets its slot: the last
// waits longer than its connect and reply time-outs together, and is served.
TEST_P(Engine, ScalesBeyondTheSlotsWaitTheirTurnWithTheirClocksStopped) {
    constexpr std::size_t kScales = 10;
    constexpr int kReplyDelayMs = 100;  // two commands a scale: 200 ms a slot at least
    std::atomic<int> open{0};
    std::atomic<int> most{0};
    std::vector<std::unique_ptr<Server>> servers;
    for (std::size_t i = 0; i < kScales; ++i) {
        servers.push_back(std::make_unique<Server>([&](tcp::socket& connection) {
            int now = ++open;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            asio::streambuf input;
            std::string command;
            for (int answered = 0; answered < 2 && ReadCommand(connection, input, command);) {
                Pause(kReplyDelayMs);
                // Counted closed before its last reply goes out: the sender can close it and
                // connect the next scale only once it has that reply, so the count is never more
                // than the sender holds (counted after the write, the next scale's server could
                // count itself first).
                if (++answered == 2) --open;
                asio::error_code error;
                asio::write(connection, asio::buffer(ScaleReply(command) + "\r\n"), error);
            }
        }));
    }
    auto list = std::make_shared<const std::vector<std::string>>(CommandLines(2));
    std::vector<ScaleJob> jobs;
    for (const auto& server : servers) jobs.push_back({LoopbackAddress(server->Port()), list});
    SendSettings settings = OneTry(600);
    settings.connectTimeoutMs = 600;

    std::vector<ScaleResult> results =
        vudaduv::transport::SendToScalesWithin(*engine_, jobs, settings, {}, 2);
    for (const auto& server : servers) server->Join();

    EXPECT_LE(most.load(), 2);
    EXPECT_GE(most.load(), 1);
    for (std::size_t i = 0; i < kScales; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].code, WQDS_OK);
        EXPECT_EQ(results[i].replies.size(), 2u);
        EXPECT_EQ(results[i].connections, 1u);
    }
    // Four scales' turns before the last one's: 800 ms of replies, past both its time-outs.
    std::uint32_t last = 0;
    for (const ScaleResult& result : results) last = std::max(last, result.milliseconds);
    EXPECT_GE(last, 5u * 2 * kReplyDelayMs);
}

INSTANTIATE_TEST_SUITE_P(Each, Engine, ::testing::ValuesIn(kEngines), EngineName);

}  // namespace
}  // namespace transport_test
