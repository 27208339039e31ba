// COMMSendData over a real line pair (a pseudo-terminal, or a named pipe on Windows), the scale
// stand-in answering on the other end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "peer_io.h"
#include "scripted_peer.h"
#include "test_support.h"
#include "wqcommsend.h"

namespace transport_test {
namespace {

std::int32_t SendOverLine(std::uint32_t link, const std::vector<std::string>& commands) {
    StringList commandList(commands);
    WQCOMM request{link, StringList().View(), 0};
    WQCOMM command{link, commandList.View(), 0};
    return COMMSendData(&request, &command);
}

class CommSend : public InFreshDirectory {};

struct NamedMode {
    const char* name;
    peer_io::LineMode mode;
};

// The application may open its line either way; the transport must read and write it alike.
const std::vector<NamedMode> kLineModes = {
    {"blocking", peer_io::LineMode::kBlocking},
    {"non-blocking or overlapped", peer_io::LineMode::kNonBlocking},
};

TEST_F(CommSend, AnswersEveryCommandInOrderAndKeepsTheFile) {
    const std::string earlier = "an older line\r\n";
    std::vector<std::string> commands = CommandLines(4);
    for (const NamedMode& mode : kLineModes) {
        SCOPED_TRACE(mode.name);
        WriteUploadFile(earlier);
        LinePeer peer(AnswerAll(), Delivery::kWhole, mode.mode);
        ASSERT_TRUE(peer.Open());

        EXPECT_EQ(SendOverLine(peer.Link(), commands), WQCS_OK);

        EXPECT_EQ(peer.Log().Received(), WithoutLineEnds(commands));
        EXPECT_EQ(ReadUploadFile(), earlier + UploadLinesFor(commands));
        EXPECT_TRUE(peer_io::IsLinkOpen(peer.Link())) << "the line was closed";
    }
}

TEST_F(CommSend, HowRepliesArriveDoesNotChangeTheFile) {
    std::vector<std::string> commands = CommandLines(6);
    for (const NamedMode& mode : kLineModes) {
        for (const Arrival& arrival : kArrivals) {
            SCOPED_TRACE(std::string(mode.name) + ", " + arrival.name);
            LinePeer peer(ArrivalScript(arrival, commands), arrival.delivery, mode.mode);
            ASSERT_TRUE(peer.Open());
            RemoveUploadFile();

            EXPECT_EQ(SendOverLine(peer.Link(), commands), WQCS_OK);

            EXPECT_EQ(ReadUploadFile(), UploadLinesFor(commands));
        }
    }
}

TEST_F(CommSend, MissingRecordsOrLinesAreBadRequests) {
    LinePeer peer(AnswerAll());
    ASSERT_TRUE(peer.Open());
    StringList commands(CommandLines(1));
    WQCOMM good{peer.Link(), commands.View(), 0};
    EXPECT_EQ(COMMSendData(nullptr, &good), WQCS_BAD_REQUEST);
    EXPECT_EQ(COMMSendData(&good, nullptr), WQCS_BAD_REQUEST);
    EXPECT_EQ(COMMSendData(nullptr, nullptr), WQCS_BAD_REQUEST);

    peer_io::UnusableLinks unusable;
    for (const peer_io::UnusableLinks::Named& link : unusable.All()) {
        SCOPED_TRACE(link.name);
        EXPECT_EQ(SendOverLine(link.link, CommandLines(1)), WQCS_BAD_REQUEST);
    }
    EXPECT_FALSE(UploadFileExists());
    EXPECT_EQ(peer.Log().ReceivedCount(), 0u);
}

TEST_F(CommSend, NothingToSendTouchesNothing) {
    LinePeer peer(AnswerAll());
    ASSERT_TRUE(peer.Open());
    const char* emptyLines[] = {"", nullptr};
    for (const WQStringList& lines :
         {WQStringList{nullptr, 0}, WQStringList{nullptr, 3}, WQStringList{emptyLines, 2}}) {
        WQCOMM command{peer.Link(), lines, 0};
        EXPECT_EQ(COMMSendData(&command, &command), WQCS_OK);
    }
    EXPECT_FALSE(UploadFileExists());
}

TEST_F(CommSend, HangUpEndsTheSendAndKeepsWhatCameBefore) {
    std::vector<std::string> commands = CommandLines(3);
    LinePeer peer([](const PeerEvent& event) {
        if (event.received == 0) return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
        return PeerAnswer::HangUp();
    });
    ASSERT_TRUE(peer.Open());

    EXPECT_EQ(SendOverLine(peer.Link(), commands), WQCS_CLOSED);

    EXPECT_EQ(ReadUploadFile(), UploadLinesFor({commands[0]}));
}

TEST_F(CommSend, UploadFileThatCannotBeAppendedToOutweighsAFailingLine) {
    // A directory in the way of "Rec.txt": the replies have nowhere to go, which matters more
    // than the hang-up after them.
    std::filesystem::create_directory("Rec.txt");
    LinePeer peer([](const PeerEvent& event) {
        if (event.received == 0) return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
        return PeerAnswer::HangUp();
    });
    ASSERT_TRUE(peer.Open());

    EXPECT_EQ(SendOverLine(peer.Link(), CommandLines(3)), WQCS_UPLOAD_FILE);
}

TEST_F(CommSend, RepliesLongerThanTheLimitFail) {
    struct LimitCase {
        std::size_t length;
        std::int32_t result;
    };
    for (const NamedMode& mode : kLineModes) {
        for (const LimitCase& limitCase :
             {LimitCase{65536, WQCS_OK}, LimitCase{65537, WQCS_REPLY_TOO_LONG}}) {
            SCOPED_TRACE(std::string(mode.name) + ", " + std::to_string(limitCase.length));
            std::string reply(limitCase.length, 'x');
            LinePeer peer([&reply](const PeerEvent&) { return PeerAnswer::Reply(reply + "\r\n"); },
                          Delivery::kWhole, mode.mode);
            ASSERT_TRUE(peer.Open());
            RemoveUploadFile();

            EXPECT_EQ(SendOverLine(peer.Link(), CommandLines(1)), limitCase.result);

            EXPECT_EQ(ReadUploadFile(), limitCase.result == WQCS_OK ? reply + "\r\n" : "");
        }
    }
}

TEST_F(CommSend, UnansweredCommandsAreSentAgainThenTimeOut) {
    // The one test that waits out the fixed 3000 ms reply time-out: the second command is
    // answered only when sent again, the third never.
    std::vector<std::string> commands = CommandLines(4);
    std::vector<std::string> sent = WithoutLineEnds(commands);
    LinePeer peer([](const PeerEvent& event) {
        bool answer = event.received == 0 || event.received == 2;
        if (!answer) return PeerAnswer::Silence();
        return PeerAnswer::Reply(ScaleReply(event.command) + "\r\n");
    });
    ASSERT_TRUE(peer.Open());

    EXPECT_EQ(SendOverLine(peer.Link(), commands), WQCS_TIMEOUT);

    peer.Log().WaitForReceived(6);
    std::vector<std::string> expected = {sent[0], sent[1], sent[1], sent[2], sent[2], sent[2]};
    EXPECT_EQ(peer.Log().Received(), expected);
    EXPECT_EQ(ReadUploadFile(), UploadLinesFor({commands[0], commands[1]}));
}

}  // namespace
}  // namespace transport_test
