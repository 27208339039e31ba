// A send's --verify and a sync read back the same records with the same command lines: the same
// list is sent with --verify to one scale and synced (the fleet's read-back) to another, each a
// scripted scale that answers from a memory of its own and keeps every command line it got; the
// command lines after the last write, the read-back, must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "scripted_peer.h"
#include "temp_directory.h"
#include "tool_process.h"
#include "vudaduv_model.h"

namespace vudaduv::cli::test {
namespace {

using transport_test::PeerAnswer;
using transport_test::PeerEvent;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

// A scale on loopback that answers from its own memory and keeps what it was sent.
class LoggedScale {
  public:
    explicit LoggedScale(bool en)
        : memory_(model::TextModeOf(en)), peer_(false, [this](const PeerEvent& event) {
              return PeerAnswer::Reply(memory_.Answer(event.command) + "\r\n");
          }) {}

    bool Listening() const { return peer_.Listening(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(peer_.Port()); }

    // The command lines after the last one that is no read: what the scale was asked to read
    // back of what it had just been sent, in order.
    std::vector<std::string> ReadBack() const {
        std::vector<std::string> received = peer_.Log().Received();
        auto isRead = [](const std::string& command) {
            return command.size() > 2 &&
                   std::string("UWYNSQK").find(command[2]) != std::string::npos;
        };
        auto lastWrite = std::find_if_not(received.rbegin(), received.rend(), isRead);
        return {lastWrite.base(), received.end()};
    }

  private:
    model::ScaleMemory memory_;
    transport_test::LoopbackPeer peer_;
};

std::string KeyTable() {
    std::string table;
    for (int key = 1000; key < 1142; ++key) table += std::to_string(key);
    return table;
}

struct ReadsCase {
    const char* name;
    int recordType;
    bool en;
    std::string list;
    std::vector<std::string> readBack;  // as the scales are asked, sorted
};

const ReadsCase kReadsCases[] = {
    // A record stored twice is read once; a number above the highest as the codec sends it.
    {"Items",
     1,
     false,
     "12A1##Tea\n5A2##Milk\n12A3##Tea\n5000A1##x\n",
     {"!0U0005A", "!0U0012A", "!0U4000A"}},
    {"MessagesInCodePageText", 3, true, "1AHello\n21AThanks\n", {"!0W01A", "!0W21A"}},
    {"Messages", 5, false, "4ABest before\n20AHi\n", {"!0Y04A", "!0Y20A"}},
    {"LabelsInTwoHalves", 10, false, "3AxBy\n", {"!0Q03A", "!0S03A"}},
    {"Type7Data", 7, false, "PLU-7\n", {"!0N"}},
    {"KeyTable", 12, false, KeyTable() + "\n", {"!0K00A", "!0K01A", "!0K02A", "!0K03A"}},
};

class SameReads : public ::testing::TestWithParam<ReadsCase> {};

TEST_P(SameReads, SendVerifyAndSyncReadTheSameCommandsForTheSameRecords) {
    const ReadsCase& c = GetParam();
    TempDirectory directory;
    WriteWholeFile("list.txt", c.list);
    LoggedScale sent(c.en);
    LoggedScale synced(c.en);
    ASSERT_TRUE(sent.Listening() && synced.Listening());

    std::vector<std::string> send = {
        "send",     "--file",       "list.txt", "--type",          std::to_string(c.recordType),
        "--target", sent.Address(), "--verify", "--accept-changes"};
    // The state says the scale holds nothing, so the sync sends the list whole; no probe.
    std::string image = synced.Address();
    std::replace(image.begin(), image.end(), ':', '_');
    std::filesystem::create_directory("state");
    WriteWholeFile(("state/" + image + ".txt").c_str(), "");
    std::vector<std::string> sync = {
        "sync",     "--file",          "list.txt", "--type", std::to_string(c.recordType),
        "--target", synced.Address(),  "--state",  "state",  "--probe",
        "0",        "--accept-changes"};
    if (c.en) {
        send.push_back("--en");
        sync.push_back("--en");
    }
    ToolRun sendRun = RunTool(send);
    EXPECT_EQ(sendRun.status, 0) << sendRun.err;
    ToolRun syncRun = RunTool(sync);
    EXPECT_EQ(syncRun.status, 0) << syncRun.err;

    std::vector<std::string> verifyReads = sent.ReadBack();
    std::vector<std::string> syncReads = synced.ReadBack();
    std::sort(verifyReads.begin(), verifyReads.end());
    std::sort(syncReads.begin(), syncReads.end());
    EXPECT_EQ(verifyReads, c.readBack);
    EXPECT_EQ(syncReads, c.readBack);
}

INSTANTIATE_TEST_SUITE_P(Lists, SameReads, ::testing::ValuesIn(kReadsCases),
                         [](const ::testing::TestParamInfo<ReadsCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vudaduv::cli::test
