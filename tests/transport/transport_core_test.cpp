// The transport core through its public header alone: many scales, each with a command list of
// its own, their replies and outcomes in memory; the serial send likewise; the code names.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "asio/connect.hpp"
#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/read_until.hpp"
#include "asio/streambuf.hpp"
#include "asio/write.hpp"
#include "core/connection_slots.h"
#include "scripted_peer.h"
#include "test_support.h"
#include "vudaduv_transport.h"

namespace transport_test {
namespace {

using vudaduv::transport::CommandList;
using vudaduv::transport::ScaleJob;
using vudaduv::transport::ScaleResult;
using vudaduv::transport::SendObserver;
using vudaduv::transport::SendSettings;
using vudaduv::transport::SendToScales;

CommandList Shared(std::vector<std::string> commands) {
    return std::make_shared<const std::vector<std::string>>(std::move(commands));
}

// What a peer answering with AnswerAll(tag) sends back for commands, as the core hands it over.
std::vector<std::string> RepliesFor(const std::vector<std::string>& commands,
                                    const std::string& tag) {
    std::vector<std::string> replies;
    for (const std::string& command : WithoutLineEnds(commands)) {
        replies.push_back(ScaleReply(command) + tag);
    }
    return replies;
}

SendSettings QuickSettings() {
    SendSettings settings;
    settings.replyTimeoutMs = 2000;
    settings.connectTimeoutMs = 2000;
    settings.tries = 1;
    return settings;
}

class TransportCore : public InFreshDirectory {};

TEST_F(TransportCore, EachScaleGetsItsOwnListAndItsRepliesInOrder) {
    const std::vector<std::vector<std::string>> lists = {
        CommandLines(3),
        {"!0U0100A\r\n", "", "!0U0101A\r\n"},  // the empty line is left out
        CommandLines(7),
    };
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    std::vector<ScaleJob> jobs;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        peers.push_back(std::make_unique<LoopbackPeer>(false, AnswerAll("#" + std::to_string(i))));
        ASSERT_TRUE(peers.back()->Listening());
        jobs.push_back({LoopbackAddress(peers.back()->Port()), Shared(lists[i])});
    }

    std::vector<ScaleResult> results = SendToScales(jobs, QuickSettings());

    ASSERT_EQ(results.size(), lists.size());
    for (std::size_t i = 0; i < lists.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<std::string> sent;
        for (const std::string& line : lists[i]) {
            if (!line.empty()) sent.push_back(line);
        }
        EXPECT_EQ(results[i].code, WQDS_OK);
        EXPECT_EQ(results[i].replies, RepliesFor(sent, "#" + std::to_string(i)));
        EXPECT_EQ(results[i].connections, 1u);
        EXPECT_EQ(peers[i]->Log().Received(), WithoutLineEnds(sent));
    }
    EXPECT_FALSE(UploadFileExists());  // the core keeps the replies in memory only
}

TEST_F(TransportCore, DeadAndBadScalesFailAloneWhileTheOthersComplete) {
    LoopbackPeer first(false, AnswerAll("a"));
    LoopbackPeer last(false, AnswerAll("b"));
    RefusingPort dead;
    ASSERT_TRUE(first.Listening() && last.Listening());
    std::vector<std::string> commands = CommandLines(4);
    std::vector<ScaleJob> jobs = {
        {LoopbackAddress(first.Port()), Shared(commands)},
        {LoopbackAddress(dead.Port()), Shared(commands)},
        {"127.0.0.1:99999", Shared(commands)},
        {LoopbackAddress(last.Port()), Shared(commands)},
        {LoopbackAddress(last.Port()), nullptr},  // nothing to send: no connection
    };
    std::vector<std::size_t> done;
    SendObserver observer;
    observer.scaleDone = [&done](std::size_t scale, const ScaleResult&) { done.push_back(scale); };

    std::vector<ScaleResult> results = SendToScales(jobs, QuickSettings(), observer);

    ASSERT_EQ(results.size(), jobs.size());
    EXPECT_EQ(results[0].code, WQDS_OK);
    EXPECT_EQ(results[0].replies, RepliesFor(commands, "a"));
    EXPECT_EQ(results[1].code, WQDS_REFUSED);
    EXPECT_TRUE(results[1].replies.empty());
    EXPECT_EQ(results[1].connections, 1u);
    EXPECT_EQ(results[2].code, WQDS_BAD_ADDRESS);
    EXPECT_EQ(results[2].connections, 0u);
    EXPECT_EQ(results[3].code, WQDS_OK);
    EXPECT_EQ(results[3].replies, RepliesFor(commands, "b"));
    EXPECT_EQ(results[4].code, WQDS_OK);
    EXPECT_EQ(results[4].connections, 0u);
    std::sort(done.begin(), done.end());
    EXPECT_EQ(done, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(last.Log().Connections(), 1);
}

TEST_F(TransportCore, LineProgressCountsEveryAnsweredLineEvenWhenItThrows) {
    LoopbackPeer shortList(false, AnswerAll());
    LoopbackPeer longList(false, AnswerAll());
    ASSERT_TRUE(shortList.Listening() && longList.Listening());
    std::vector<ScaleJob> jobs = {{LoopbackAddress(shortList.Port()), Shared(CommandLines(2))},
                                  {LoopbackAddress(longList.Port()), Shared(CommandLines(50))}};
    std::vector<std::vector<std::size_t>> answered(jobs.size());
    SendObserver observer;
    observer.lineAnswered = [&answered](std::size_t scale, std::size_t count) {
        answered[scale].push_back(count);
        throw std::runtime_error("the caller's own fault");
    };
    observer.scaleDone = [](std::size_t, const ScaleResult&) { throw 1; };

    std::vector<ScaleResult> results = SendToScales(jobs, QuickSettings(), observer);

    for (std::size_t scale = 0; scale < jobs.size(); ++scale) {
        SCOPED_TRACE(scale);
        EXPECT_EQ(results[scale].code, WQDS_OK);
        std::vector<std::size_t> expected;
        for (std::size_t n = 1; n <= jobs[scale].commands->size(); ++n) expected.push_back(n);
        EXPECT_EQ(answered[scale], expected);
    }
}

// A caller that takes the replies gets each once, in order, numbered as the replies would be
// kept; the results keep none and still count them. One that throws ends its scale alone.
TEST_F(TransportCore, RepliesTakenAsTheyComeAreNotKeptAndAThrowEndsThatScaleAlone) {
    LoopbackPeer first(false, AnswerAll("a"));
    LoopbackPeer second(false, AnswerAll("b"));
    LoopbackPeer failing(false, AnswerAll("c"));
    ASSERT_TRUE(first.Listening() && second.Listening() && failing.Listening());
    std::vector<std::string> commands = CommandLines(30);
    std::vector<ScaleJob> jobs = {{LoopbackAddress(first.Port()), Shared(commands)},
                                  {LoopbackAddress(second.Port()), Shared(CommandLines(3))},
                                  {LoopbackAddress(failing.Port()), Shared(commands)}};
    std::vector<std::vector<std::string>> taken(jobs.size());
    SendObserver observer;
    observer.replyTaken = [&taken](std::size_t scale, std::size_t line, std::string&& reply) {
        EXPECT_EQ(line, taken[scale].size());
        if (scale == 2 && line == 5) throw std::runtime_error("no room for the sixth");
        taken[scale].push_back(std::move(reply));
    };

    std::vector<ScaleResult> results = SendToScales(jobs, QuickSettings(), observer);

    EXPECT_EQ(results[0].code, WQDS_OK);
    EXPECT_EQ(taken[0], RepliesFor(commands, "a"));
    EXPECT_EQ(results[0].answered, commands.size());
    EXPECT_EQ(results[1].code, WQDS_OK);
    EXPECT_EQ(taken[1], RepliesFor(CommandLines(3), "b"));
    EXPECT_EQ(results[1].answered, 3u);
    EXPECT_EQ(results[2].code, WQDS_INTERNAL);
    EXPECT_EQ(taken[2].size(), 5u);
    for (const ScaleResult& result : results) EXPECT_TRUE(result.replies.empty());
}

// A stop request set while a scale stays silent ends the call at once, with the replies that
// had arrived; a scale already done keeps its outcome.
TEST_F(TransportCore, StopRequestEndsTheSendWithWhatArrived) {
    LoopbackPeer quick(false, AnswerAll("q"));
    LoopbackPeer stalling(false, [](const PeerEvent& event) {
        return event.received < 2 ? PeerAnswer::Reply(ScaleReply(event.command) + "\r\n")
                                  : PeerAnswer::Silence();
    });
    ASSERT_TRUE(quick.Listening() && stalling.Listening());
    std::vector<ScaleJob> jobs = {{LoopbackAddress(quick.Port()), Shared(CommandLines(2))},
                                  {LoopbackAddress(stalling.Port()), Shared(CommandLines(5))}};
    std::atomic<bool> stop{false};
    SendObserver observer;
    observer.stop = &stop;
    observer.lineAnswered = [&stop](std::size_t scale, std::size_t answered) {
        if (scale == 1 && answered == 2) stop = true;
    };
    SendSettings settings = QuickSettings();
    settings.replyTimeoutMs = 60000;  // the stop, not the time-out, ends the wait

    std::vector<ScaleResult> results = SendToScales(jobs, settings, observer);

    EXPECT_EQ(results[1].code, WQDS_INTERNAL);
    EXPECT_EQ(results[1].replies.size(), 2u);
    EXPECT_LT(results[1].milliseconds, 30000u);
    // Without a stop request the flag costs nothing but its reading.
    stop = false;
    observer.lineAnswered = nullptr;
    std::vector<ScaleResult> whole = SendToScales({jobs[0]}, QuickSettings(), observer);
    EXPECT_EQ(whole[0].code, WQDS_OK);
    EXPECT_EQ(whole[0].replies, RepliesFor(CommandLines(2), "q"));
}

// A stop asked from inside lineAnswered starts no further command line: the scale that asked
// puts none on the wire after its third answer, and every other scale answers at most the one
// line it had in flight. Quick scales answer many lines in the tens of milliseconds the stop is
// otherwise read in, so a stop that waited for that look would let them run on.
TEST_F(TransportCore, StopFromLineAnsweredStartsNoFurtherCommandLine) {
    constexpr std::size_t kScales = 4;
    constexpr std::size_t kLines = 400;
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    std::vector<ScaleJob> jobs;
    for (std::size_t i = 0; i < kScales; ++i) {
        peers.push_back(std::make_unique<LoopbackPeer>(false, AnswerAll("s")));
        ASSERT_TRUE(peers.back()->Listening());
        jobs.push_back({LoopbackAddress(peers.back()->Port()), Shared(CommandLines(kLines))});
    }
    std::atomic<bool> stop{false};
    std::vector<std::size_t> answeredAtStop(kScales, 0);
    std::vector<std::size_t> answeredSoFar(kScales, 0);
    SendObserver observer;
    observer.stop = &stop;
    observer.lineAnswered = [&](std::size_t scale, std::size_t answered) {
        answeredSoFar[scale] = answered;
        if (scale == 0 && answered == 3) {
            answeredAtStop = answeredSoFar;
            stop = true;
        }
    };

    std::vector<ScaleResult> results = SendToScales(jobs, QuickSettings(), observer);

    ASSERT_EQ(results.size(), kScales);
    EXPECT_EQ(results[0].code, WQDS_INTERNAL);
    EXPECT_EQ(results[0].answered, 3u);
    EXPECT_EQ(peers[0]->Log().ReceivedCount(), 3u);
    for (std::size_t i = 1; i < kScales; ++i) {
        SCOPED_TRACE("scale " + std::to_string(i));
        EXPECT_EQ(results[i].code, WQDS_INTERNAL);
        EXPECT_LE(results[i].answered, answeredAtStop[i] + 1);
        EXPECT_LE(peers[i]->Log().ReceivedCount(), answeredAtStop[i] + 1);
    }
}

// A command far larger than the sockets' buffers waits for room while the scale reads nothing,
// then goes whole; the scale answers it and the next.
TEST_F(TransportCore, CommandLargerThanTheSocketBuffersGoesWholeWhenTheScaleReads) {
    using asio::ip::tcp;
    asio::io_context context;
    tcp::acceptor acceptor(context, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    std::vector<std::size_t> lengths;  // of each line the scale took, without its CR LF
    std::thread scale([&] {
        asio::error_code error;
        tcp::socket connection(context);
        acceptor.accept(connection, error);
        if (error) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the sender's buffers fill
        asio::streambuf received;
        for (int line = 0; line < 2; ++line) {
            std::size_t length = asio::read_until(connection, received, "\r\n", error);
            if (error) return;
            received.consume(length);
            lengths.push_back(length - 2);
            asio::write(connection, asio::buffer(std::string("0a\r\n")), error);
        }
    });
    const std::string large = "!0U" + std::string(16 * 1024 * 1024, '7') + "\r\n";
    std::vector<ScaleJob> jobs = {
        {LoopbackAddress(acceptor.local_endpoint().port()), Shared({large, "!0V0001A\r\n"})}};
    SendSettings settings = QuickSettings();
    settings.replyTimeoutMs = 20000;

    std::vector<ScaleResult> results = SendToScales(jobs, settings);
    scale.join();

    EXPECT_EQ(results[0].code, WQDS_OK);
    EXPECT_EQ(results[0].replies, (std::vector<std::string>{"0a", "0a"}));
    EXPECT_EQ(lengths, (std::vector<std::size_t>{large.size() - 2, 8}));
}

// A scale that answers and then shuts its side (keeping the connection open to read) is closed
// at once for the command after, not waited for until the time-out.
TEST_F(TransportCore, ScaleThatShutsItsSideAfterAReplyCountsAsClosedAtOnce) {
    using asio::ip::tcp;
    asio::io_context context;
    tcp::acceptor acceptor(context, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    std::thread scale([&] {
        asio::error_code error;
        tcp::socket connection(context);
        acceptor.accept(connection, error);
        asio::streambuf received;
        asio::read_until(connection, received, "\r\n", error);
        asio::write(connection, asio::buffer(std::string("0a\r\n")), error);
        connection.shutdown(tcp::socket::shutdown_send, error);
        char rest[256];
        while (!error) connection.read_some(asio::buffer(rest), error);  // until the sender goes
    });
    std::vector<ScaleJob> jobs = {
        {LoopbackAddress(acceptor.local_endpoint().port()), Shared(CommandLines(3))}};
    SendSettings settings = QuickSettings();
    settings.replyTimeoutMs = 30000;

    std::vector<ScaleResult> results = SendToScales(jobs, settings);
    scale.join();

    EXPECT_EQ(results[0].code, WQDS_CLOSED);
    EXPECT_EQ(results[0].replies, (std::vector<std::string>{"0a"}));
    EXPECT_LT(results[0].milliseconds, 10000u);
}

TEST_F(TransportCore, SerialSendHandsBackTheRepliesInMemory) {
    LinePeer peer(AnswerAll("L"));
    ASSERT_TRUE(peer.Open());
    std::vector<std::string> commands = CommandLines(3);

    vudaduv::transport::SerialResult result =
        vudaduv::transport::SendOverSerialLine(peer.Link(), commands);

    EXPECT_EQ(result.code, WQCS_OK);
    EXPECT_EQ(result.replies, RepliesFor(commands, "L"));
    EXPECT_FALSE(UploadFileExists());
}

TEST(TransportCodes, EveryCodeHasItsNameAndCause) {
    struct CodeCase {
        std::int32_t code;
        const char* network;
        const char* serial;
        const char* cause;
    };
    const std::vector<CodeCase> cases = {
        {WQDS_OK, "WQDS_OK", "WQCS_OK", "done"},
        {WQDS_BAD_REQUEST, "WQDS_BAD_REQUEST", "WQCS_BAD_REQUEST", "bad request"},
        {WQDS_BAD_ADDRESS, "WQDS_BAD_ADDRESS", "unknown", "no such host, or a bad address"},
        {WQDS_REFUSED, "WQDS_REFUSED", "unknown", "refused or unreachable"},
        {WQDS_TIMEOUT, "WQDS_TIMEOUT", "WQCS_TIMEOUT", "timed out"},
        {WQDS_CLOSED, "WQDS_CLOSED", "WQCS_CLOSED", "closed by the scale"},
        {WQDS_REPLY_TOO_LONG, "WQDS_REPLY_TOO_LONG", "WQCS_REPLY_TOO_LONG", "reply too long"},
        {WQDS_UPLOAD_FILE, "WQDS_UPLOAD_FILE", "WQCS_UPLOAD_FILE", "Rec.txt not written"},
        {WQDS_INTERNAL, "WQDS_INTERNAL", "WQCS_INTERNAL", "failure of this machine"},
        {9, "unknown", "unknown", "unknown code"},
        {-1, "unknown", "unknown", "unknown code"},
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(vudaduv::transport::TransportCodeName(c.code), c.network);
        EXPECT_STREQ(vudaduv::transport::TransportCodeName(c.code, true), c.serial);
        EXPECT_STREQ(vudaduv::transport::TransportCodeCause(c.code), c.cause);
    }
}

// The one phrasing of a transport failure, by code, with the counts; the tries only when counted.
TEST(TransportCodes, AFailureIsPhrasedOnceByCodeWithItsCounts) {
    struct FailureCase {
        std::int32_t code;
        std::size_t answered;
        std::size_t commands;
        std::uint32_t tries;
        const char* failure;
    };
    const std::vector<FailureCase> cases = {
        {WQDS_OK, 5, 5, 1, ""},
        {WQDS_OK, 0, 0, 0, ""},
        {WQDS_REFUSED, 0, 4001, 0, "refused or unreachable (0 of 4001 command line(s) answered)"},
        {WQDS_REFUSED, 0, 1, 1, "refused or unreachable (0 of 1 command line(s) answered, 1 try)"},
        {WQDS_TIMEOUT, 3, 7, 2, "timed out (3 of 7 command line(s) answered, 2 tries)"},
        {WQDS_BAD_ADDRESS, 0, 2, 0,
         "no such host, or a bad address (0 of 2 command line(s) answered)"},
        {WQDS_CLOSED, 1, 2, 3, "closed by the scale (1 of 2 command line(s) answered, 3 tries)"},
        {WQDS_REPLY_TOO_LONG, 0, 1, 1, "reply too long (0 of 1 command line(s) answered, 1 try)"},
        {WQCS_TIMEOUT, 2, 9, 0, "timed out (2 of 9 command line(s) answered)"},
        {WQDS_INTERNAL, 0, 0, 0, "failure of this machine (0 of 0 command line(s) answered)"},
        {42, 0, 1, 0, "unknown code (0 of 1 command line(s) answered)"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.failure);
        EXPECT_EQ(vudaduv::transport::TransportFailure(c.code, c.answered, c.commands, c.tries),
                  c.failure);
    }
}

// The slot rule: a step, what it answers, and the slots held and waiters after it.
TEST(ConnectionSlots, SlotsGoInOrderAndShrinkToWhatTheSystemAllows) {
    using vudaduv::transport::ConnectionSlots;
    constexpr std::size_t kNone = ConnectionSlots::kNoWaiter;
    enum Step { kTake, kGiveBack, kNoDescriptor, kLeave };
    struct SlotCase {
        Step step;
        std::size_t waiter;
        std::size_t answer;  // Take and WaitForDescriptor: 1 true, 0 false; GiveBack: who
        std::size_t held;
        std::size_t waiting;
        std::size_t capacity;
    };
    const std::vector<SlotCase> cases = {
        {kTake, 0, 1, 1, 0, 3},         {kTake, 1, 1, 2, 0, 3},
        {kTake, 2, 1, 3, 0, 3},         {kTake, 3, 0, 3, 1, 3},      // full: 3 waits
        {kTake, 4, 0, 3, 2, 3},         {kGiveBack, 0, 3, 3, 1, 3},  // 3 first in line
        {kNoDescriptor, 3, 1, 2, 2, 2},  // no socket for 3: two held is the most now
        {kGiveBack, 1, 3, 2, 1, 2},      // 3 first in line again
        {kLeave, 4, 0, 2, 0, 2},        {kGiveBack, 2, kNone, 1, 0, 2},
        {kNoDescriptor, 3, 0, 1, 0, 2},  // the only slot: nothing would free a descriptor
        {kGiveBack, 3, kNone, 0, 0, 2},
    };
    ConnectionSlots slots(3);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const SlotCase& c = cases[i];
        SCOPED_TRACE(i);
        switch (c.step) {
            case kTake:
                EXPECT_EQ(slots.Take(c.waiter), c.answer == 1);
                break;
            case kGiveBack:
                EXPECT_EQ(slots.GiveBack(), c.answer);
                break;
            case kNoDescriptor:
                EXPECT_EQ(slots.WaitForDescriptor(c.waiter), c.answer == 1);
                break;
            case kLeave:
                slots.Leave(c.waiter);
                break;
        }
        EXPECT_EQ(slots.Held(), c.held);
        EXPECT_EQ(slots.Waiting(), c.waiting);
        EXPECT_EQ(slots.Capacity(), c.capacity);
    }
    EXPECT_EQ(ConnectionSlots(0).Capacity(), 1u);  // one connection at a time at least
}

// A scale's address and an address to listen on follow one rule; only a listener may ask for
// port 0, a free port.
TEST(Addresses, ScalesAndListenersReadAlike) {
    struct AddressCase {
        const char* text;
        std::uint32_t defaultPort;
        bool target;  // a scale's address
        bool listen;  // an address to listen on
        const char* host;
        std::uint16_t port;
    };
    const std::vector<AddressCase> cases = {
        {"127.0.0.1:4001", 9, true, true, "127.0.0.1", 4001},
        {"scale-7", 4001, true, true, "scale-7", 4001},
        {"[::1]:5", 4001, true, true, "::1", 5},
        {"[::1]", 4001, true, true, "::1", 4001},
        {"::1", 4001, true, true, "::1", 4001},
        {"127.0.0.1:0", 4001, false, true, "127.0.0.1", 0},
        {"127.0.0.1", 0, false, true, "127.0.0.1", 0},
        {"127.0.0.1:65536", 4001, false, false, "", 0},
        {"127.0.0.1:", 4001, false, false, "", 0},
        {"[::1:4001", 4001, false, false, "", 0},
        {":4001", 4001, false, false, "", 0},
        {"", 4001, false, false, "", 0},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.text);
        vudaduv::transport::TargetAddress target;
        vudaduv::transport::TargetAddress listen;
        EXPECT_EQ(vudaduv::transport::ParseTargetAddress(c.text, c.defaultPort, target), c.target);
        ASSERT_EQ(vudaduv::transport::ParseListenAddress(c.text, c.defaultPort, listen), c.listen);
        if (!c.listen) continue;
        EXPECT_EQ(listen.host, c.host);
        EXPECT_EQ(listen.port, c.port);
    }
}

// Every form of a scale's address, read or refused with the reason a message names; the forms
// the tool and the fleet's C library take are all read by this rule.
TEST(Addresses, EachFormIsReadOrRefusedWithItsReason) {
    struct AddressCase {
        const char* text;
        std::uint32_t defaultPort;
        const char* host;
        std::uint16_t port;
        const char* why;  // "" when read
    };
    const std::vector<AddressCase> cases = {
        {"127.0.0.1", 4001, "127.0.0.1", 4001, ""},
        {"127.0.0.1:47001", 4001, "127.0.0.1", 47001, ""},
        {"127.0.0.1:65535", 4001, "127.0.0.1", 65535, ""},
        {"127.0.0.1:00080", 4001, "127.0.0.1", 80, ""},
        {"scale-7.shop", 4001, "scale-7.shop", 4001, ""},
        {"Scale-7:4002", 4001, "Scale-7", 4002, ""},
        {"127.1", 4001, "127.1", 4001, ""},  // the system's resolver reads it
        {"[::1]:5", 4001, "::1", 5, ""},
        {"[::1]", 4001, "::1", 4001, ""},
        {"::1", 4001, "::1", 4001, ""},
        {"fe80::1:2", 4001, "fe80::1:2", 4001, ""},
        {"[127.0.0.1]:9", 4001, "127.0.0.1", 9, ""},
        {"", 4001, "", 0, "empty"},
        {":47001", 4001, "", 0, "no host"},
        {":", 4001, "", 0, "no host"},
        {"[]:4001", 4001, "", 0, "no host"},
        {"[]", 4001, "", 0, "no host"},
        {"127.0.0.1:", 4001, "", 0, "no port after the colon"},
        {"[::1]:", 4001, "", 0, "no port after the colon"},
        {"127.0.0.1:99999", 4001, "", 0, "port 99999 is out of range (1 to 65535)"},
        {"127.0.0.1:65536", 4001, "", 0, "port 65536 is out of range (1 to 65535)"},
        {"127.0.0.1:0", 4001, "", 0, "port 0 is out of range (1 to 65535)"},
        {"127.0.0.1:123456789012345678901", 4001, "", 0,
         "port 123456789012345678901 is out of range (1 to 65535)"},
        {"127.0.0.1:4x", 4001, "", 0, "the port \"4x\" is no decimal number"},
        {"127.0.0.1:-1", 4001, "", 0, "the port \"-1\" is no decimal number"},
        {"127.0.0.1: 80", 4001, "", 0, "the port \" 80\" is no decimal number"},
        {"127.0.0.1", 0, "", 0, "no port (HOST:PORT)"},
        {"127.0.0.1", 70000, "", 0, "no port (HOST:PORT)"},
        {"47001", 4001, "", 0, "a number alone is no host (HOST:PORT)"},
        {"47001:4001", 4001, "", 0, "a number alone is no host (HOST:PORT)"},
        {"[47001]:4001", 4001, "", 0, "a number alone is no host (HOST:PORT)"},
        {"bad:addr:x", 4001, "", 0, "a host with a colon must be an IPv6 address ([V6]:PORT)"},
        {"[bad:addr]:4001", 4001, "", 0, "a host with a colon must be an IPv6 address ([V6]:PORT)"},
        {"scale 7:4001", 4001, "", 0, "a blank or control character in the host"},
        {" 127.0.0.1", 4001, "", 0, "a blank or control character in the host"},
        {"scale-7\n", 4001, "", 0, "a blank or control character in the host"},
        {"[::1:4001", 4001, "", 0, "no ']' after the IPv6 address"},
        {"[::1]4001", 4001, "", 0, "text after ']' that is no ':PORT'"},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.text);
        vudaduv::transport::TargetAddress address{"left over", 7, "left over", 7};
        EXPECT_EQ(vudaduv::transport::ReadTargetAddress(c.text, c.defaultPort, address), c.why);
        EXPECT_EQ(vudaduv::transport::ParseTargetAddress(c.text, c.defaultPort, address),
                  std::string(c.why).empty());
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(address.device, "");  // none of these is a serial line
    }
    // A listener may ask for port 0; the rest of the rule is the same.
    vudaduv::transport::TargetAddress listen;
    EXPECT_EQ(vudaduv::transport::ReadListenAddress("127.0.0.1:0", 4001, listen), "");
    EXPECT_EQ(vudaduv::transport::ReadListenAddress("127.0.0.1:65536", 4001, listen),
              "port 65536 is out of range (0 to 65535)");
    EXPECT_EQ(vudaduv::transport::ReadListenAddress("4001", 0, listen),
              "a number alone is no host (HOST:PORT)");
}

// A scale on a serial line: "serial:DEVICE" or "serial:DEVICE@BAUD", by the same one rule.
TEST(Addresses, ASerialLineIsReadWithItsSpeedOrRefusedWithItsReason) {
    struct LineCase {
        const char* text;
        const char* device;
        std::uint32_t baud;
        const char* why;  // "" when read
    };
    const std::vector<LineCase> cases = {
        {"serial:/dev/ttyUSB0", "/dev/ttyUSB0", 9600, ""},
        {"serial:/dev/ttyS1@19200", "/dev/ttyS1", 19200, ""},
        {"serial:COM3", "COM3", 9600, ""},
        {"serial:\\\\.\\COM10@115200", "\\\\.\\COM10", 115200, ""},
        {"serial:/dev/serial/by-id/usb-x@y@1200", "/dev/serial/by-id/usb-x@y", 1200, ""},
        {"serial:/dev/ttyS0@230400", "/dev/ttyS0", 230400, ""},
        {"serial:/dev/tty S0", "", 0, "a blank or control character in the device"},
        {"serial:/dev/ttyS0  Deli counter", "", 0, "a blank or control character in the device"},
        {"serial:", "", 0, "no device (serial:DEVICE[@BAUD])"},
        {"serial:@9600", "", 0, "no device (serial:DEVICE[@BAUD])"},
        {"serial:/dev/ttyS0@", "", 0, "no speed after the '@' (serial:DEVICE@BAUD)"},
        {"serial:/dev/ttyS0@fast", "", 0, "the speed \"fast\" is no decimal number"},
        {"serial:/dev/ttyS0@-9600", "", 0, "the speed \"-9600\" is no decimal number"},
        {"serial:/dev/ttyS0@1000", "", 0,
         "speed 1000 is not supported (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
         "230400)"},
        {"serial:/dev/ttyS0@0", "", 0,
         "speed 0 is not supported (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
         "230400)"},
        {"serial:/dev/ttyS0@96000000000000000000", "", 0,
         "speed 96000000000000000000 is not supported (1200, 2400, 4800, 9600, 19200, 38400, "
         "57600, 115200 or 230400)"},
        {"serial:/dev/tty\nS0", "", 0, "a blank or control character in the device"},
        // Not the serial form: read as a host and port, and refused as one.
        {"Serial:/dev/ttyS0", "", 0, "the port \"/dev/ttyS0\" is no decimal number"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.text);
        vudaduv::transport::TargetAddress address{"left over", 7, "left over", 7};
        EXPECT_EQ(vudaduv::transport::ReadTargetAddress(c.text, 4001, address), c.why);
        EXPECT_EQ(address.device, c.device);
        EXPECT_EQ(address.baud, c.baud);
        EXPECT_EQ(address.host, "");
        EXPECT_EQ(address.port, 0);
        EXPECT_EQ(vudaduv::transport::IsSerialLine(address), std::string(c.why).empty());
    }
    vudaduv::transport::TargetAddress listen;
    EXPECT_EQ(vudaduv::transport::ReadListenAddress("serial:/dev/ttyS0", 4001, listen),
              "a serial line is no address to listen on");
    // A host named "serial" with a port is still one: no device is a number alone.
    vudaduv::transport::TargetAddress host;
    EXPECT_EQ(vudaduv::transport::ReadTargetAddress("serial:4002", 4001, host), "");
    EXPECT_EQ(host.host, "serial");
    EXPECT_EQ(host.port, 4002);
    EXPECT_FALSE(vudaduv::transport::IsSerialLine(host));
}

#ifndef _WIN32
// Two names of one device are one scale; the speed is no part of the device.
TEST(Addresses, ASerialLineReachesItsDeviceByItsOneName) {
    vudaduv::testing::TempDirectory directory;
    std::filesystem::path device = directory.Path() / "line";
    std::filesystem::path link = directory.Path() / "by-id";
    { std::ofstream(device.string()) << ""; }
    std::filesystem::create_symlink(device, link);
    std::string real = std::filesystem::canonical(device).string();
    vudaduv::transport::TargetAddress named;
    vudaduv::transport::TargetAddress linked;
    ASSERT_TRUE(vudaduv::transport::ParseTargetAddress("serial:" + device.string(), 0, named));
    ASSERT_TRUE(
        vudaduv::transport::ParseTargetAddress("serial:" + link.string() + "@19200", 0, linked));
    EXPECT_EQ(vudaduv::transport::ResolveEndpoints(named), std::vector<std::string>{real});
    EXPECT_EQ(vudaduv::transport::ResolveEndpoints(linked), std::vector<std::string>{real});
    // A device that is not there is known by its name as given.
    EXPECT_EQ(vudaduv::transport::SerialLineIdentity("/dev/no-such-line"), "/dev/no-such-line");
}
#else
// Windows names a port alike in any case, with or without the device namespace's prefix.
TEST(Addresses, ASerialLineReachesItsDeviceByItsOneName) {
    EXPECT_EQ(vudaduv::transport::SerialLineIdentity("com10"), "COM10");
    EXPECT_EQ(vudaduv::transport::SerialLineIdentity("\\\\.\\COM10"), "COM10");
    EXPECT_EQ(vudaduv::transport::SerialLineIdentity("\\\\.\\cOm3"), "COM3");
}
#endif

TEST(Addresses, QuotedForAMessageWithWhatCannotBePrintedEscaped) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {":47001", "\":47001\""},
        {"", "\"\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("x\n\r\x7f\0y", 6), "\"x\\x0a\\x0d\\x7f\\x00y\""},
        {"\xe7\xa7\xa4", "\"\xe7\xa7\xa4\""},  // a name in UTF-8 stays as it is
    };
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(vudaduv::transport::QuoteAddress(text), quoted);
    }
}

}  // namespace
}  // namespace transport_test
