// A disk that fills up while a transport appends the replies: "Rec.txt" gains all of them or
// none. A file size limit stands in for the full disk.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "scripted_peer.h"
#include "test_support.h"
#include "wqdatasend.h"

namespace transport_test {
namespace {

class UploadFileFull : public InFreshDirectory {};

TEST_F(UploadFileFull, RepliesThatDoNotFitLeaveTheFileAsItWas) {
    const std::string earlier = "1P0007Akept line\r\n0eX\r\n";
    const std::vector<std::string> commands = CommandLines(50);
    const std::string replies = UploadLinesFor(commands);
    const struct {
        std::uint64_t room;  // bytes the file may grow by
        std::int32_t code;
    } cases[] = {{0, WQDS_UPLOAD_FILE},
                 {1, WQDS_UPLOAD_FILE},
                 {replies.size() / 2, WQDS_UPLOAD_FILE},
                 {replies.size() - 1, WQDS_UPLOAD_FILE},
                 {replies.size(), WQDS_OK}};
    for (const auto& c : cases) {
        WriteUploadFile(earlier);
        LoopbackPeer peer(false, AnswerAll());
        ASSERT_TRUE(peer.Listening());
        StringList targets({LoopbackAddress(peer.Port())});
        StringList commandList(commands);
        WQST target{targets.View(), StringList().View(), WQValueList{nullptr, 0}, 0};
        WQST command{StringList().View(), commandList.View(), WQValueList{nullptr, 0}, 0};
        vudaduv::testing::FileSizeLimit full;
        if (!full.Set(earlier.size() + c.room)) GTEST_SKIP() << "no file size limit here";

        EXPECT_EQ(SendData(&target, &command), c.code) << c.room;

        EXPECT_EQ(ReadUploadFile(), c.code == WQDS_OK ? earlier + replies : earlier) << c.room;
        EXPECT_EQ(vudaduv::testing::DirectoryNames(), std::vector<std::string>{"Rec.txt"});
    }
}

}  // namespace
}  // namespace transport_test
