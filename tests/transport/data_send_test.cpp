// SendData over real loopback sockets, against scripted scale stand-ins.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loopback_fleet.h"
#include "loopback_socket.h"
#include "scripted_peer.h"
#include "test_support.h"
#include "wqdatasend.h"

namespace transport_test {
namespace {

constexpr std::uint32_t kNoRetry = WQDS_NO_RETRIES;

struct Slot {
    std::size_t index;  // a WQDS_VALUE_ slot
    std::uint32_t value;
};

// The target values: the time-outs and the retries, and the slots of more; the rest 0.
std::vector<std::uint32_t> Settings(std::uint32_t replyMs, std::uint32_t connectMs,
                                    std::uint32_t retries, const std::vector<Slot>& more = {}) {
    std::vector<std::uint32_t> values(WQDS_VALUE_RETRY_PAUSE + 1, 0);
    values[WQDS_VALUE_REPLY_TIMEOUT] = replyMs;
    values[WQDS_VALUE_CONNECT_TIMEOUT] = connectMs;
    values[WQDS_VALUE_RETRIES] = retries;
    for (const Slot& slot : more) values[slot.index] = slot.value;
    return values;
}

// Short time-outs and one retry, for the tests where something is meant to fail.
const std::vector<std::uint32_t> kQuickFailure = Settings(100, 100, 1);

std::int32_t Send(const std::vector<std::string>& targets, const std::vector<std::string>& commands,
                  const std::vector<std::uint32_t>& values = {}) {
    StringList targetList(targets);
    StringList commandList(commands);
    WQValueList valueList{values.empty() ? nullptr : values.data(),
                          static_cast<std::uint32_t>(values.size())};
    WQST target{targetList.View(), StringList().View(), valueList, 0};
    WQST command{StringList().View(), commandList.View(), WQValueList{nullptr, 0}, 0};
    return SendData(&target, &command);
}

// SendDataWithOutcomes with room for one outcome more than there are targets; the one beyond
// the targets must come back as it went in.
std::int32_t SendForOutcomes(const std::vector<std::string>& targets,
                             const std::vector<std::string>& commands,
                             const std::vector<std::uint32_t>& values,
                             std::vector<WQDSOutcome>& outcomes) {
    StringList targetList(targets);
    StringList commandList(commands);
    WQValueList valueList{values.data(), static_cast<std::uint32_t>(values.size())};
    WQST target{targetList.View(), StringList().View(), valueList, 0};
    WQST command{StringList().View(), commandList.View(), WQValueList{nullptr, 0}, 0};
    const WQDSOutcome untouched{-1, 0xAAAAAAAAu, 0xBBBBBBBBu, 0xCCCCCCCCu};
    outcomes.assign(targets.size() + 1, untouched);
    std::int32_t result = SendDataWithOutcomes(&target, &command, outcomes.data(),
                                               static_cast<std::uint32_t>(outcomes.size()));
    EXPECT_EQ(outcomes.back().code, untouched.code);
    EXPECT_EQ(outcomes.back().milliseconds, untouched.milliseconds);
    outcomes.pop_back();
    return result;
}

std::string AddressOf(const LoopbackPeer& peer) {
    return LoopbackAddress(peer.Port());
}

std::uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
}

class DataSend : public InFreshDirectory {};

TEST_F(DataSend, EveryTargetGetsTheWholeListInOrder) {
    std::vector<std::string> commands = CommandLines(5);
    // The first scale answers slowest and so finishes last; its replies still come first.
    LoopbackPeer slow(false, [](const PeerEvent& event) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return PeerAnswer::Reply(ScaleReply(event.command) + "a\r\n");
    });
    LoopbackPeer second(false, AnswerAll("b"));
    LoopbackPeer third(false, AnswerAll("c"));
    ASSERT_TRUE(slow.Listening() && second.Listening() && third.Listening());

    EXPECT_EQ(Send({AddressOf(slow), AddressOf(second), AddressOf(third)}, commands), WQDS_OK);

    for (const LoopbackPeer* peer : {&slow, &second, &third}) {
        EXPECT_EQ(peer->Log().Connections(), 1);
        EXPECT_EQ(peer->Log().Received(), WithoutLineEnds(commands));
    }
    EXPECT_EQ(ReadUploadFile(), UploadLinesFor(commands, "a") + UploadLinesFor(commands, "b") +
                                    UploadLinesFor(commands, "c"));
}

TEST_F(DataSend, TargetsAreServedAtTheSameTime) {
    // Each scale holds its first reply until every scale has its first command (or a few
    // seconds have passed): only a transport that serves them together gets "together".
    constexpr int kScales = 4;
    std::atomic<int> arrived{0};
    PeerScript meet = [&arrived](const PeerEvent& event) {
        if (event.received > 0) return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
        ++arrived;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (arrived.load() < kScales && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return PeerAnswer::Reply(arrived.load() >= kScales ? "0together\r\n" : "0alone\r\n");
    };
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    std::vector<std::string> targets;
    for (int i = 0; i < kScales; ++i) {
        peers.push_back(std::make_unique<LoopbackPeer>(false, meet));
        ASSERT_TRUE(peers.back()->Listening());
        targets.push_back(AddressOf(*peers.back()));
    }
    std::vector<std::string> commands = CommandLines(2);

    EXPECT_EQ(Send(targets, commands, {10000}), WQDS_OK);

    std::string expected;
    for (int i = 0; i < kScales; ++i)
        expected += "0together\r\n" + ScaleReply(commands[1]) + "\r\n";
    EXPECT_EQ(ReadUploadFile(), expected);
}

// "{port}" stands for the peer's port; a form without it gets the port through WQDS_VALUE_PORT.
struct AddressForm {
    bool ipv6;
    std::string text;
};

const std::vector<AddressForm> kAddressForms = {
    {false, "127.0.0.1:{port}"},
    {false, "127.0.0.1"},
    {true, "[::1]:{port}"},
    {true, "[::1]"},
    {true, "::1"},
};

void ExpectEveryAddressFormReachesThePeer(bool ipv6) {
    std::vector<std::string> commands = CommandLines(2);
    for (const AddressForm& form : kAddressForms) {
        if (form.ipv6 != ipv6) continue;
        SCOPED_TRACE(form.text);
        LoopbackPeer peer(ipv6, AnswerAll());
        ASSERT_TRUE(peer.Listening());
        std::string address = form.text;
        std::vector<std::uint32_t> values;
        std::size_t at = address.find("{port}");
        if (at != std::string::npos) {
            address.replace(at, 6, std::to_string(peer.Port()));
        } else {
            values = Settings(0, 0, 0, {{WQDS_VALUE_PORT, peer.Port()}});
        }
        RemoveUploadFile();

        EXPECT_EQ(Send({address}, commands, values), WQDS_OK);

        EXPECT_EQ(peer.Log().Received(), WithoutLineEnds(commands));
        EXPECT_EQ(ReadUploadFile(), UploadLinesFor(commands));
    }
}

TEST_F(DataSend, Ipv4AddressForms) {
    ExpectEveryAddressFormReachesThePeer(false);
}

TEST_F(DataSend, Ipv6AddressForms) {
    if (!LoopbackPeer(true, AnswerAll()).Listening()) GTEST_SKIP() << "no IPv6 loopback here";
    ExpectEveryAddressFormReachesThePeer(true);
}

TEST_F(DataSend, UnusableAddressesFailAsBadAddresses) {
    const std::vector<std::string> unusable = {
        "",
        "127.0.0.1:",
        "127.0.0.1:0",
        "127.0.0.1:65536",
        "127.0.0.1:123456",
        ":4001",
        "127.0.0.1:4a",
        "127.0.0.1:-1",
        "[::1",
        "[::1]4001",
        "[::1]:",
        "[]:4001",
        "[]",
    };
    for (const std::string& address : unusable) {
        SCOPED_TRACE(address);
        EXPECT_EQ(Send({address}, CommandLines(1), kQuickFailure), WQDS_BAD_ADDRESS);
    }
    // A port for addresses without one that no port can be.
    EXPECT_EQ(Send({"127.0.0.1"}, CommandLines(1), {100, 100, 1, 65536}), WQDS_BAD_ADDRESS);
    // A NULL address reads as "".
    const char* nullAddress[] = {nullptr};
    StringList commands(CommandLines(1));
    WQST target{WQStringList{nullAddress, 1}, WQStringList{nullptr, 0}, WQValueList{nullptr, 0}, 0};
    WQST command{WQStringList{nullptr, 0}, commands.View(), WQValueList{nullptr, 0}, 0};
    EXPECT_EQ(SendData(&target, &command), WQDS_BAD_ADDRESS);
}

TEST_F(DataSend, MissingRecordsOrTargetsAreBadRequests) {
    StringList targets({"127.0.0.1:4001"});
    StringList commands(CommandLines(1));
    WQST target{targets.View(), WQStringList{nullptr, 0}, WQValueList{nullptr, 0}, 0};
    WQST command{WQStringList{nullptr, 0}, commands.View(), WQValueList{nullptr, 0}, 0};
    WQST noTargets{WQStringList{nullptr, 0}, WQStringList{nullptr, 0}, WQValueList{nullptr, 0}, 0};
    WQST targetsWithoutItems{WQStringList{nullptr, 3}, WQStringList{nullptr, 0},
                             WQValueList{nullptr, 5}, 0};

    EXPECT_EQ(SendData(nullptr, &command), WQDS_BAD_REQUEST);
    EXPECT_EQ(SendData(&target, nullptr), WQDS_BAD_REQUEST);
    EXPECT_EQ(SendData(nullptr, nullptr), WQDS_BAD_REQUEST);
    EXPECT_EQ(SendData(&noTargets, &command), WQDS_BAD_REQUEST);
    EXPECT_EQ(SendData(&targetsWithoutItems, &command), WQDS_BAD_REQUEST);
    EXPECT_FALSE(UploadFileExists());
}

TEST_F(DataSend, NothingToSendConnectsNowhere) {
    // Any connection to this port would be refused, so a result of 0 means none was tried.
    RefusingPort refusing;
    StringList targets({LoopbackAddress(refusing.Port())});
    const char* nullLines[] = {nullptr, nullptr};
    const char* emptyLines[] = {"", ""};
    const std::vector<WQStringList> nothing = {WQStringList{nullptr, 0}, WQStringList{nullptr, 4},
                                               WQStringList{nullLines, 2},
                                               WQStringList{emptyLines, 2}};
    for (const WQStringList& lines : nothing) {
        WQST target{targets.View(), WQStringList{nullptr, 0}, WQValueList{nullptr, 0}, 0};
        WQST command{WQStringList{nullptr, 0}, lines, WQValueList{nullptr, 0}, 0};
        EXPECT_EQ(SendData(&target, &command), WQDS_OK);
    }
    EXPECT_FALSE(UploadFileExists());
}

TEST_F(DataSend, EmptyCommandLinesAreLeftOut) {
    LoopbackPeer peer(false, AnswerAll());
    ASSERT_TRUE(peer.Listening());
    std::vector<std::string> commands = CommandLines(2);
    StringList targets({AddressOf(peer)});
    const char* lines[] = {commands[0].c_str(), nullptr, "", commands[1].c_str()};
    WQST target{targets.View(), WQStringList{nullptr, 0}, WQValueList{nullptr, 0}, 0};
    WQST command{WQStringList{nullptr, 0}, WQStringList{lines, 4}, WQValueList{nullptr, 0}, 0};

    EXPECT_EQ(SendData(&target, &command), WQDS_OK);

    EXPECT_EQ(peer.Log().Received(), WithoutLineEnds(commands));
    EXPECT_EQ(ReadUploadFile(), UploadLinesFor(commands));
}

TEST_F(DataSend, RefusedConnectionFailsAfterItsRetries) {
    RefusingPort refusing;
    EXPECT_EQ(Send({LoopbackAddress(refusing.Port())}, CommandLines(3), kQuickFailure),
              WQDS_REFUSED);
    EXPECT_TRUE(UploadFileExists());
    EXPECT_EQ(ReadUploadFile(), "");
}

TEST_F(DataSend, DropMidSendResumesWithTheUnansweredCommand) {
    std::vector<std::string> commands = CommandLines(5);
    LoopbackPeer peer(false, [](const PeerEvent& event) {
        if (event.connection == 0 && event.received == 2) return PeerAnswer::HangUp();
        return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
    });
    ASSERT_TRUE(peer.Listening());

    EXPECT_EQ(Send({AddressOf(peer)}, commands), WQDS_OK);

    std::vector<std::string> sent = WithoutLineEnds(commands);
    EXPECT_EQ(peer.Log().Answered(), sent);  // every command answered exactly once
    std::vector<std::vector<std::string>> perConnection = {{sent[0], sent[1], sent[2]},
                                                           {sent[2], sent[3], sent[4]}};
    EXPECT_EQ(peer.Log().PerConnection(), perConnection);
    EXPECT_EQ(ReadUploadFile(), UploadLinesFor(commands));
}

TEST_F(DataSend, DropsBeyondTheRetriesFail) {
    struct RetryCase {
        std::uint32_t retries;  // WQDS_VALUE_RETRIES
        int connections;
    };
    const std::vector<RetryCase> cases = {{0, 3}, {1, 2}, {4, 5}, {kNoRetry, 1}};
    for (const RetryCase& retryCase : cases) {
        SCOPED_TRACE(retryCase.retries);
        LoopbackPeer peer(false, [](const PeerEvent&) { return PeerAnswer::HangUp(); });
        ASSERT_TRUE(peer.Listening());

        EXPECT_EQ(Send({AddressOf(peer)}, CommandLines(2), Settings(2000, 2000, retryCase.retries)),
                  WQDS_CLOSED);

        EXPECT_EQ(peer.Log().Connections(), retryCase.connections);
    }
}

TEST_F(DataSend, SilentPeerTimesOutAndKeepsWhatCameBefore) {
    std::vector<std::string> commands = CommandLines(3);
    LoopbackPeer peer(false, [](const PeerEvent& event) {
        if (event.received == 0) return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
        return PeerAnswer::Silence();
    });
    ASSERT_TRUE(peer.Listening());

    EXPECT_EQ(Send({AddressOf(peer)}, commands, kQuickFailure), WQDS_TIMEOUT);

    peer.Log().WaitForReceived(3);
    std::vector<std::string> sent = WithoutLineEnds(commands);
    std::vector<std::vector<std::string>> perConnection = {{sent[0], sent[1]}, {sent[1]}};
    EXPECT_EQ(peer.Log().PerConnection(), perConnection);
    EXPECT_EQ(ReadUploadFile(), UploadLinesFor({commands[0]}));
}

TEST_F(DataSend, RepliesLongerThanTheLimitFailWithoutARetry) {
    struct LimitCase {
        std::uint32_t limit;  // WQDS_VALUE_LONGEST_REPLY; 0 for the default
        std::string bytes;    // what the scale answers
        std::int32_t result;
    };
    const std::vector<LimitCase> cases = {
        {16, std::string(16, 'x') + "\r\n", WQDS_OK},
        {16, std::string(16, 'x') + "\n", WQDS_OK},
        {16, std::string(17, 'x') + "\r\n", WQDS_REPLY_TOO_LONG},
        {16, std::string(17, 'x') + "\n", WQDS_REPLY_TOO_LONG},
        {16, std::string(100, 'x'), WQDS_REPLY_TOO_LONG},
        {0, std::string(65536, 'x') + "\r\n", WQDS_OK},
        {0, std::string(65537, 'x') + "\r\n", WQDS_REPLY_TOO_LONG},
    };
    for (const LimitCase& limitCase : cases) {
        SCOPED_TRACE(std::to_string(limitCase.limit) + " / " +
                     std::to_string(limitCase.bytes.size()));
        LoopbackPeer peer(
            false, [&limitCase](const PeerEvent&) { return PeerAnswer::Reply(limitCase.bytes); });
        ASSERT_TRUE(peer.Listening());
        RemoveUploadFile();

        EXPECT_EQ(Send({AddressOf(peer)}, CommandLines(1),
                       Settings(2000, 2000, 2, {{WQDS_VALUE_LONGEST_REPLY, limitCase.limit}})),
                  limitCase.result);

        EXPECT_EQ(peer.Log().Connections(), 1);
        std::string kept = limitCase.bytes.substr(0, limitCase.bytes.find_first_of("\r\n"));
        EXPECT_EQ(ReadUploadFile(), limitCase.result == WQDS_OK ? kept + "\r\n" : "");
    }
}

TEST_F(DataSend, GarbageRepliesAreKeptAsTheyCame) {
    const std::vector<std::string> replies = {std::string("\0\xff\x01 \t!", 6), "\r", "",
                                              "0e\x80\x81\x7f", "no command letter"};
    std::vector<std::string> commands = CommandLines(replies.size());
    LoopbackPeer peer(false, [&replies](const PeerEvent& event) {
        return PeerAnswer::Reply(replies[event.received] + "\r\n");
    });
    ASSERT_TRUE(peer.Listening());

    EXPECT_EQ(Send({AddressOf(peer)}, commands), WQDS_OK);

    std::string expected;
    for (const std::string& reply : replies) expected += reply + "\r\n";
    EXPECT_EQ(ReadUploadFile(), expected);
}

TEST_F(DataSend, ReplyCutShortByAHangUpIsNotKept) {
    LoopbackPeer peer(false, [](const PeerEvent& event) {
        if (event.received == 0) return PeerAnswer::Reply("0u0000A\r\n0u00");
        return PeerAnswer::HangUp();
    });
    ASSERT_TRUE(peer.Listening());

    EXPECT_EQ(Send({AddressOf(peer)}, CommandLines(2), Settings(2000, 2000, kNoRetry)),
              WQDS_CLOSED);

    EXPECT_EQ(ReadUploadFile(), "0u0000A\r\n");
}

TEST_F(DataSend, OneDeadTargetDoesNotStopTheOthers) {
    enum class Scale { kLive, kRefusing, kSilent };
    struct DeadCase {
        std::vector<Scale> scales;
        std::int32_t result;  // the code of the first failing scale in target order
    };
    const std::vector<DeadCase> cases = {
        {{Scale::kRefusing, Scale::kLive}, WQDS_REFUSED},
        {{Scale::kLive, Scale::kRefusing}, WQDS_REFUSED},
        {{Scale::kSilent, Scale::kLive, Scale::kRefusing}, WQDS_TIMEOUT},
        {{Scale::kLive, Scale::kRefusing, Scale::kSilent}, WQDS_REFUSED},
    };
    std::vector<std::string> commands = CommandLines(4);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        std::vector<std::unique_ptr<LoopbackPeer>> live;
        std::vector<std::unique_ptr<LoopbackPeer>> silent;
        std::vector<std::unique_ptr<RefusingPort>> refusing;
        std::vector<std::string> targets;
        std::string expected;
        for (Scale scale : cases[c].scales) {
            if (scale == Scale::kLive) {
                std::string tag = std::to_string(live.size());
                live.push_back(std::make_unique<LoopbackPeer>(false, AnswerAll(tag)));
                targets.push_back(AddressOf(*live.back()));
                expected += UploadLinesFor(commands, tag);
            } else if (scale == Scale::kSilent) {
                silent.push_back(std::make_unique<LoopbackPeer>(
                    false, [](const PeerEvent&) { return PeerAnswer::Silence(); }));
                targets.push_back(AddressOf(*silent.back()));
            } else {
                refusing.push_back(std::make_unique<RefusingPort>());
                targets.push_back(LoopbackAddress(refusing.back()->Port()));
            }
        }
        RemoveUploadFile();

        EXPECT_EQ(Send(targets, commands, Settings(1000, 1000, kNoRetry)), cases[c].result);

        for (const auto& peer : live) EXPECT_EQ(peer->Log().Received(), WithoutLineEnds(commands));
        EXPECT_EQ(ReadUploadFile(), expected);
    }
}

TEST_F(DataSend, ExistingUploadFileKeepsItsLines) {
    const std::string earlier = "0u0007Akept\r\nan older line\r\nno line end";
    WriteUploadFile(earlier);
    LoopbackPeer peer(false, AnswerAll());
    ASSERT_TRUE(peer.Listening());
    std::vector<std::string> first = CommandLines(2);
    std::vector<std::string> second = CommandLines(3);

    EXPECT_EQ(Send({AddressOf(peer)}, first), WQDS_OK);
    EXPECT_EQ(Send({AddressOf(peer)}, second), WQDS_OK);

    // The last line, left open by hand, is ended first, so the first reply is not glued onto it.
    EXPECT_EQ(ReadUploadFile(), earlier + "\r\n" + UploadLinesFor(first) + UploadLinesFor(second));
}

TEST_F(DataSend, HowRepliesArriveDoesNotChangeTheFile) {
    std::vector<std::string> commands = CommandLines(6);
    for (const Arrival& arrival : kArrivals) {
        SCOPED_TRACE(arrival.name);
        LoopbackPeer peer(false, ArrivalScript(arrival, commands), arrival.delivery);
        ASSERT_TRUE(peer.Listening());
        RemoveUploadFile();

        EXPECT_EQ(Send({AddressOf(peer)}, commands), WQDS_OK);

        EXPECT_EQ(peer.Log().Connections(), 1);
        EXPECT_EQ(ReadUploadFile(), UploadLinesFor(commands));
    }
}

TEST_F(DataSend, WritingToAScaleThatHungUpRaisesNoSignal) {
    // The scale answers and hangs up at once; the long command after that meets first the
    // closed end and then a reset connection, where a write would raise SIGPIPE and end this
    // test process.
    std::vector<std::string> commands = CommandLines(1);
    commands.push_back("!0O" + std::string(16 << 20, 'x') + "\r\n");
    LoopbackPeer peer(false, [](const PeerEvent& event) {
        return PeerAnswer::ReplyThenHangUp(ScaleReply(event.command) + "\r\n");
    });
    ASSERT_TRUE(peer.Listening());

    EXPECT_EQ(Send({AddressOf(peer)}, commands, Settings(5000, 1000, kNoRetry)), WQDS_CLOSED);

    EXPECT_EQ(ReadUploadFile(), UploadLinesFor({commands[0]}));
}

TEST_F(DataSend, ResetRightAfterTheConnectionIsTakenCountsAsClosed) {
    // Whether the reset meets the connect, the command's write or the reply's read is a race;
    // every one of them is a scale that closed the connection.
    ResettingPeer peer;
    ASSERT_TRUE(peer.Listening());
    for (int call = 0; call < 20; ++call) {
        SCOPED_TRACE(call);
        EXPECT_EQ(
            Send({LoopbackAddress(peer.Port())}, CommandLines(2), Settings(1000, 1000, kNoRetry)),
            WQDS_CLOSED);
    }
}

TEST_F(DataSend, RetriesPauseBeforeReconnecting) {
    struct PauseCase {
        std::uint32_t firstPause;  // WQDS_VALUE_RETRY_PAUSE; 0 for the default
        std::uint32_t retries;
        std::uint32_t leastMs;  // the pauses added up
    };
    const std::vector<PauseCase> cases = {{0, 1, 500}, {30, 3, 30 + 60 + 120}};
    for (const PauseCase& pauseCase : cases) {
        SCOPED_TRACE(pauseCase.firstPause);
        ResettingPeer peer;
        ASSERT_TRUE(peer.Listening());
        std::vector<WQDSOutcome> outcomes;
        auto start = std::chrono::steady_clock::now();

        EXPECT_EQ(SendForOutcomes({LoopbackAddress(peer.Port())}, CommandLines(1),
                                  Settings(1000, 1000, pauseCase.retries,
                                           {{WQDS_VALUE_RETRY_PAUSE, pauseCase.firstPause}}),
                                  outcomes),
                  WQDS_CLOSED);

        EXPECT_GE(MillisecondsSince(start), pauseCase.leastMs);
        EXPECT_GE(outcomes[0].milliseconds, pauseCase.leastMs);
        EXPECT_EQ(outcomes[0].connections, pauseCase.retries + 1);
        EXPECT_EQ(peer.Connections(), static_cast<int>(pauseCase.retries + 1));
    }
}

TEST_F(DataSend, OutcomesComeOnePerTargetInTargetOrder) {
    if (!vudaduv::testing::LocalhostIsLoopback()) {
        GTEST_SKIP() << "localhost does not resolve to 127.0.0.1 here (no /etc/hosts?)";
    }
    // Every connection gets one reply and is then hung up on.
    LoopbackPeer oneReplyEach(false, [](const PeerEvent& event) {
        return PeerAnswer::ReplyThenHangUp(ScaleReply(event.command) + "\r\n");
    });
    LoopbackPeer live(false, AnswerAll());
    RefusingPort refusing;
    ASSERT_TRUE(oneReplyEach.Listening() && live.Listening());
    struct Expected {
        std::string address;
        std::int32_t code;
        std::uint32_t answered;
        std::uint32_t connections;
    };
    const std::vector<Expected> targets = {
        {AddressOf(oneReplyEach), WQDS_CLOSED, 2, 2},
        {"127.0.0.1:0", WQDS_BAD_ADDRESS, 0, 0},
        {LoopbackAddress(refusing.Port()), WQDS_REFUSED, 0, 2},
        {"localhost:" + std::to_string(live.Port()), WQDS_OK, 3, 1},  // a name, address by address
    };
    std::vector<std::string> addresses;
    for (const Expected& expected : targets) addresses.push_back(expected.address);
    std::vector<WQDSOutcome> outcomes;
    auto start = std::chrono::steady_clock::now();

    EXPECT_EQ(SendForOutcomes(addresses, CommandLines(3), {1000, 1000, 1, 0, 0, 10}, outcomes),
              WQDS_CLOSED);

    std::uint32_t elapsed = MillisecondsSince(start);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        SCOPED_TRACE(targets[i].address);
        EXPECT_EQ(outcomes[i].code, targets[i].code);
        EXPECT_EQ(outcomes[i].answered, targets[i].answered);
        EXPECT_EQ(outcomes[i].connections, targets[i].connections);
        EXPECT_LE(outcomes[i].milliseconds, elapsed);
    }
    // A bad request leaves the outcomes as they were; without room none are written.
    WQDSOutcome untouched{-1, 1, 2, 3};
    EXPECT_EQ(SendDataWithOutcomes(nullptr, nullptr, &untouched, 1), WQDS_BAD_REQUEST);
    EXPECT_EQ(untouched.code, -1);
    StringList target({AddressOf(live)});
    StringList commands(CommandLines(1));
    WQST targetRecord{target.View(), WQStringList{nullptr, 0}, WQValueList{nullptr, 0}, 0};
    WQST commandRecord{WQStringList{nullptr, 0}, commands.View(), WQValueList{nullptr, 0}, 0};
    EXPECT_EQ(SendDataWithOutcomes(&targetRecord, &commandRecord, nullptr, 0), WQDS_OK);
}

// What the progress callback is told: the indexes in the order told, the outcomes by index.
struct Told {
    std::vector<std::uint32_t> order;
    std::vector<WQDSOutcome> outcomes;
};

void WQ_CALL NoteTargetDone(void* context, std::uint32_t index, const WQDSOutcome* outcome) {
    Told& told = *static_cast<Told*>(context);
    told.order.push_back(index);
    told.outcomes.at(index) = *outcome;
}

TEST_F(DataSend, ProgressTellsOfEachTargetOnceAsItIsDone) {
    LoopbackPeer slow(false, [](const PeerEvent& event) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
    });
    LoopbackPeer fast(false, AnswerAll());
    RefusingPort refusing;
    ASSERT_TRUE(slow.Listening() && fast.Listening());
    StringList targets({AddressOf(slow), LoopbackAddress(refusing.Port()), AddressOf(fast)});
    StringList commands(CommandLines(2));
    std::vector<std::uint32_t> values = Settings(1000, 1000, kNoRetry);
    WQST target{targets.View(), StringList().View(),
                WQValueList{values.data(), static_cast<std::uint32_t>(values.size())}, 0};
    WQST command{StringList().View(), commands.View(), WQValueList{nullptr, 0}, 0};
    std::vector<WQDSOutcome> outcomes(3);
    Told told{{}, std::vector<WQDSOutcome>(3, WQDSOutcome{-1, 0, 0, 0})};

    EXPECT_EQ(SendDataWithProgress(&target, &command, outcomes.data(), 3, NoteTargetDone, &told),
              WQDS_REFUSED);

    ASSERT_EQ(told.order.size(), 3u);
    EXPECT_EQ(told.order.back(), 0u);  // the slow scale finishes last
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(told.outcomes[i].code, outcomes[i].code) << i;
        EXPECT_EQ(told.outcomes[i].answered, outcomes[i].answered) << i;
        EXPECT_EQ(told.outcomes[i].milliseconds, outcomes[i].milliseconds) << i;
    }
    // Nothing to tell of a bad request or of a send without command lines; no callback is fine.
    told.order.clear();
    EXPECT_EQ(SendDataWithProgress(&target, nullptr, nullptr, 0, NoteTargetDone, &told),
              WQDS_BAD_REQUEST);
    WQST noCommand{StringList().View(), StringList().View(), WQValueList{nullptr, 0}, 0};
    EXPECT_EQ(SendDataWithProgress(&target, &noCommand, nullptr, 0, NoteTargetDone, &told),
              WQDS_OK);
    EXPECT_TRUE(told.order.empty());
    EXPECT_EQ(SendDataWithProgress(&target, &command, nullptr, 0, nullptr, nullptr), WQDS_REFUSED);
}

TEST_F(DataSend, UploadFileThatCannotBeAppendedToOutweighsEveryTarget) {
    // A directory in the way of "Rec.txt": the replies have nowhere to go.
    std::filesystem::create_directory("Rec.txt");
    LoopbackPeer live(false, AnswerAll());
    RefusingPort refusing;
    ASSERT_TRUE(live.Listening());

    EXPECT_EQ(Send({AddressOf(live)}, CommandLines(2)), WQDS_UPLOAD_FILE);
    EXPECT_EQ(Send({LoopbackAddress(refusing.Port()), AddressOf(live)}, CommandLines(2),
                   Settings(1000, 1000, kNoRetry)),
              WQDS_UPLOAD_FILE);
}

TEST_F(DataSend, HundredsOfScalesAreEachServedWholeAndInTargetOrder) {
    constexpr std::size_t kScales = 240;
    LoopbackFleet fleet(kScales);
    std::vector<std::string> commands = CommandLines(3);
    std::vector<std::string> targets;
    std::string expected;
    for (std::size_t i = 0; i < kScales; ++i) {
        std::size_t scale = i * 7 % kScales;  // not in the order of the ports
        targets.push_back(LoopbackAddress(fleet.Port(scale)));
        expected += UploadLinesFor(commands, LoopbackFleet::Tag(scale));
    }
    std::vector<WQDSOutcome> outcomes;

    EXPECT_EQ(SendForOutcomes(targets, commands, {20000, 20000}, outcomes), WQDS_OK);

    EXPECT_EQ(ReadUploadFile(), expected);
    for (const WQDSOutcome& outcome : outcomes) {
        EXPECT_EQ(outcome.code, WQDS_OK);
        EXPECT_EQ(outcome.answered, 3u);
        EXPECT_EQ(outcome.connections, 1u);
    }
}

#ifdef SEND_UNDER_FILE_LIMIT
// More targets than the open-file limit leaves descriptors for: the targets beyond wait their
// turn and every one is served; so too when the rest of the process takes every descriptor left
// while the send goes on (a target with no socket waits for one of the send's own to close).
TEST_F(DataSend, TargetsBeyondTheOpenFileLimitWaitTheirTurn) {
    constexpr std::size_t kScales = 64;
    LoopbackFleet fleet(kScales);
    std::string arguments;
    for (std::size_t i = 0; i < kScales; ++i) arguments += " " + LoopbackAddress(fleet.Port(i));
    rlimit own{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
    struct LimitCase {
        rlim_t soft;
        rlim_t hard;
        bool fill;  // the rest of the process fills the table as the first target is done
    };
    // 32: one connection at a time; 64: fewer than the targets, then none left at all.
    std::vector<LimitCase> cases = {{32, 32, false}, {64, 64, true}};
    if (own.rlim_max >= 4 * kScales) cases.push_back({32, own.rlim_max, false});
    std::vector<std::string> commands = CommandLines(2);
    std::string expected;
    for (std::size_t i = 0; i < kScales; ++i) {
        expected += UploadLinesFor(commands, LoopbackFleet::Tag(i));
    }
    for (const LimitCase& limitCase : cases) {
        SCOPED_TRACE(std::to_string(limitCase.soft) + " " + std::to_string(limitCase.hard) +
                     (limitCase.fill ? " fill" : ""));
        RemoveUploadFile();
        std::string call = std::string("'") + SEND_UNDER_FILE_LIMIT + "' " +
                           std::to_string(limitCase.soft) + " " + std::to_string(limitCase.hard) +
                           (limitCase.fill ? " fill" : "") + arguments;
        FILE* child = popen(call.c_str(), "r");
        ASSERT_NE(child, nullptr);
        int result = -1;
        EXPECT_EQ(std::fscanf(child, "%d", &result), 1);
        std::size_t filled = 0;
        if (limitCase.fill) {
            EXPECT_EQ(std::fscanf(child, "%zu", &filled), 1);
            EXPECT_GT(filled, 0u);  // the table was full indeed
        }
        std::vector<int> codes(kScales, -1);
        std::vector<unsigned> answered(kScales, 0);
        for (std::size_t i = 0; i < kScales; ++i) {
            EXPECT_EQ(std::fscanf(child, "%d %u", &codes[i], &answered[i]), 2);
        }
        EXPECT_EQ(pclose(child), 0);

        EXPECT_EQ(result, WQDS_OK);
        for (std::size_t i = 0; i < kScales; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(codes[i], WQDS_OK);
            EXPECT_EQ(answered[i], 2u);
        }
        EXPECT_EQ(ReadUploadFile(), expected);
    }
}
#endif

}  // namespace
}  // namespace transport_test
