// pull and diff as a user runs them against a device whose replies are no scale's reading (error
// replies, a web server's lines) and against a virtual scale that holds records no image line
// can hold (a text decoded to an LF, a text ending in a CR).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "loopback_socket.h"
#include "scripted_peer.h"
#include "temp_directory.h"
#include "tool_process.h"

namespace vudaduv::cli::test {
namespace {

using transport_test::PeerAnswer;
using transport_test::PeerEvent;
using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

std::string ImageFileOf(const std::string& address) {
    std::string name = address;
    for (char& c : name) c = c == ':' ? '_' : c;
    return name + ".txt";
}

struct DeviceCase {
    const char* name;
    std::string answer;  // to every command line
    std::string first;   // the first reply as the cause names it
};

TEST(NoScalesReading, PullFailsWithoutAnImageAndDiffCannotReadIt) {
    const DeviceCase cases[] = {
        {"every read refused", "0eUNKNOWN\r\n", "\"0eUNKNOWN\""},
        {"a web server", "HTTP/1.1 400 Bad Request\r\n", "\"HTTP/1.1 400 Bad Request\""},
    };
    for (const DeviceCase& c : cases) {
        TempDirectory directory;
        std::string answer = c.answer;
        transport_test::LoopbackPeer device(
            false, [answer](const PeerEvent&) { return PeerAnswer::Reply(answer); });
        ASSERT_TRUE(device.Listening()) << c.name;
        std::string address = "127.0.0.1:" + std::to_string(device.Port());
        std::string cause = address +
                            ": not read: 3 of 3 read(s) answered with an error or no scale's "
                            "reply; the first, for item 0001: " +
                            c.first + "\n";

        ToolRun pull = RunTool(
            {"pull", "--target", address, "--out", "pulled", "--types", "1", "--items", "1-3"});
        EXPECT_EQ(pull.status, 1) << c.name;
        EXPECT_NE(pull.err.find("vudaduv pull: " + cause), std::string::npos) << pull.err;
        EXPECT_NE(pull.err.find("read 0 of 1 scale(s)"), std::string::npos) << pull.err;
        EXPECT_FALSE(std::filesystem::exists("pulled/" + ImageFileOf(address))) << c.name;

        WriteWholeFile("items.txt", "1A1##Tea\n");
        ToolRun diff =
            RunTool({"diff", "items.txt", "scale:" + address, "--type", "1", "--items", "1-3"});
        EXPECT_EQ(diff.status, 3) << c.name;
        EXPECT_EQ(diff.out, "") << c.name;
        EXPECT_NE(diff.err.find("vudaduv diff: " + cause), std::string::npos) << diff.err;
    }
}

// A virtual scale holding item 1, a message 12 whose text decodes to "a" LF "b" (a command line
// of its own: no data line can hold an LF), and a message 06 whose code-page text ends in a CR.
class UnkeepableRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scale_.Started());
        ASSERT_FALSE(scale_.OutputLines().empty());
        address_ = scale_.OutputLines()[0];
        std::string port = address_.substr(address_.rfind(':') + 1);
        std::string error;
        auto stream = vudaduv::testing::ConnectTcp("127.0.0.1", uint16_t(std::stoi(port)), error);
        ASSERT_NE(stream, nullptr) << error;
        ASSERT_TRUE(stream->Write("!0X12A097010098000B\r\n"));
        std::string reply;
        while (reply.find('\n') == std::string::npos &&
               stream->Read(reply, 5000) == vudaduv::testing::ReadStatus::kData) {
        }
        ASSERT_EQ(reply, "0x\r\n");
        ToolRun message =
            RunTool({"send", "--type", "3", "--en", "--accept-changes", "--target", address_},
                    "6Aab\r\r\n");
        ASSERT_EQ(message.status, 0) << message.err;
        ToolRun item = RunTool({"send", "--type", "1", "--en", "--target", address_}, "1A1##Tea\n");
        ASSERT_EQ(item.status, 0) << item.err;
    }

    TempDirectory directory_;
    ScaleProcess scale_{1, 0};
    std::string address_;
};

TEST_F(UnkeepableRecords, PullNamesThemFailsAndKeepsTheRest) {
    ToolRun pull = RunTool({"pull", "--target", address_, "--out", "pulled", "--types", "1,3",
                            "--items", "1-3", "--en"});
    EXPECT_EQ(pull.status, 1);
    for (const char* named :
         {"message 06: holds a CR, which an image line cannot hold\n",
          "message 12: holds a line break, which an image line cannot hold\n"}) {
        EXPECT_NE(pull.err.find("vudaduv pull: " + address_ + ": " + named), std::string::npos)
            << pull.err;
    }
    std::string image = ReadWholeFile(("pulled/" + ImageFileOf(address_)).c_str());
    EXPECT_EQ(image, "1P0001A1##Tea\n");

    // The image is what the scale holds of what an image can hold: diff finds no difference,
    // and names the rest again.
    ToolRun diff = RunTool(
        {"diff", "pulled/" + ImageFileOf(address_), "scale:" + address_, "--items", "1-3", "--en"});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    EXPECT_EQ(diff.out, "");
    EXPECT_NE(diff.err.find(address_ + ": message 12: holds a line break"), std::string::npos)
        << diff.err;
}

TEST_F(UnkeepableRecords, AnImageLineHoldingACrIsNamedAndNothingIsSent) {
    WriteWholeFile("image.txt", "1P0001A1##Tea\n3P06Aab\r\r\n");
    for (const char* command : {"check", "send"}) {
        std::vector<std::string> args = {command, "--file", "image.txt", "--en"};
        if (std::string(command) == "send") {
            args.insert(args.end(), {"--target", address_});
        }
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_NE(run.err.find("image.txt:2: message 06: holds a CR, which an image line cannot "
                               "hold"),
                  std::string::npos)
            << run.err;
    }
}

// A bad address among good ones, in every command that talks to scales: refused, named with the
// reason, exit status 2, before anything is sent to any scale (the good one sees no connection).
TEST(BadAddressAmongGoodOnes, NothingIsSentToAnyScale) {
    TempDirectory directory;
    transport_test::LoopbackPeer scale(
        false, [](const PeerEvent&) { return PeerAnswer::Reply("0v\r\n"); });
    ASSERT_TRUE(scale.Listening());
    std::string good = "127.0.0.1:" + std::to_string(scale.Port());
    WriteWholeFile("items.txt", "1A1##Tea\n");
    WriteWholeFile("scales.txt", good + "\n47001\n");
    struct BadCase {
        std::vector<std::string> args;
        std::string input;
        std::string message;
    };
    const std::vector<BadCase> cases = {
        {{"sync", "--file", "items.txt", "--type", "1", "--target", good, "--target", ":47001",
          "--state", "state"},
         "",
         "vudaduv sync: bad address ':47001': no host\n"},
        {{"sync", "--file", "items.txt", "--type", "1", "--targets-file", "scales.txt", "--state",
          "state"},
         "",
         "vudaduv sync: scales.txt:2: bad address '47001': a number alone is no host "
         "(HOST:PORT)\n"},
        {{"send", "--type", "1", "--target", good, "--target", "127.0.0.1:99999"},
         "1A1##Tea\n",
         "vudaduv send: bad address '127.0.0.1:99999': port 99999 is out of range (1 to "
         "65535)\n"},
        {{"pull", "--target", good, "--target", "", "--out", "pulled"},
         "",
         "vudaduv pull: bad address '': empty\n"},
        {{"diff", "scale:" + good, "scale:127.0.0.1:0", "--type", "1"},
         "",
         "vudaduv diff: bad address '127.0.0.1:0': port 0 is out of range (1 to 65535)\n"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.message);
        ToolRun run = RunTool(c.args, c.input);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(scale.Log().Connections(), 0);
    EXPECT_FALSE(std::filesystem::exists("state/" + ImageFileOf(good)));
    EXPECT_FALSE(std::filesystem::exists("pulled"));
}

#ifndef _WIN32
// A fleet larger than the open-file limit (soft = hard = 256, as "ulimit -n" sets both in a
// shell, and containers and some services run): the scales beyond it wait their turn in every
// step of the sync, and every one is served.
TEST(FleetBeyondTheFileLimit, EveryScaleIsSyncedUnderAHardLimitOf256) {
    constexpr std::size_t kScales = 1000;
    TempDirectory directory;
    ScaleProcess fleet(kScales, 0);
    ASSERT_TRUE(fleet.Started());
    std::vector<std::string> scales = fleet.OutputLines();
    ASSERT_EQ(scales.size(), kScales);
    std::string list;
    // Empty images: the scales are known to be new, so the sync probes them, sends and reads
    // back, without reading them whole first.
    std::filesystem::create_directory("state");
    for (const std::string& scale : scales) {
        list += scale + "\n";
        WriteWholeFile(("state/" + ImageFileOf(scale)).c_str(), "");
    }
    WriteWholeFile("scales.txt", list);
    WriteWholeFile("items.txt", "1A1,25##Tea\n2A3##Milk\n");
    WriteWholeFile(".stdin", "");

    ProcessId sync = StartProcess(
        "/bin/sh",
        {"-c", "ulimit -n 256 && exec \"$0\" \"$@\"", ToolPath(), "sync", "--file", "items.txt",
         "--type", "1", "--targets-file", "scales.txt", "--state", "state"},
        ".stdin", ".sync-out", ".sync-err");
    ASSERT_NE(sync, kNoProcess);
    int status = WaitForProcess(sync, 120000);
    std::string out = ReadWholeFile(".sync-out");

    EXPECT_EQ(status, 0) << ReadWholeFile(".sync-err");
    EXPECT_NE(out.find("synced 1000 of 1000 scale(s), failed 0,"), std::string::npos) << out;
    EXPECT_EQ(out.find("failure of this machine"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(("state/" + ImageFileOf(scales.back())).c_str()),
              "1P0001A1,25##Tea\n1P0002A3##Milk\n");
}
#endif

}  // namespace
}  // namespace vudaduv::cli::test
