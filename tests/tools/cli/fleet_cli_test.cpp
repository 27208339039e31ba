// pull, diff and sync as a user runs them: a sync process killed half-way and run again, and
// the exit statuses that scripts read.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "temp_directory.h"
#include "tool_process.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

// "vudaduv scale --count 2 --reply-delay 2": its addresses, once it prints them.
std::vector<std::string> StartSlowFleet(ProcessId& process) {
    process = StartProcess(ToolPath(), {"scale", "--count", "2", "--reply-delay", "2"}, ".stdin",
                           ".fleet", ".fleet-err");
    for (int i = 0; i < 500 && process != kNoProcess; ++i) {
        std::string text = ReadWholeFile(".fleet");
        std::size_t first = text.find('\n');
        std::size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
        if (second != std::string::npos) {
            return {text.substr(0, first), text.substr(first + 1, second - first - 1)};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

TEST(SyncTool, KilledHalfWayThenRunAgainEndsWithTheList) {
    TempDirectory directory;
    WriteWholeFile(".stdin", "");
    ProcessId fleet = kNoProcess;
    std::vector<std::string> scales = StartSlowFleet(fleet);
    ASSERT_EQ(scales.size(), 2u);
    std::string items;
    for (int i = 1; i <= 300; ++i) items += std::to_string(i) + "A1,25##Item " + std::to_string(i) + "\n";
    WriteWholeFile("items.txt", items);
    WriteWholeFile("scales.txt", scales[0] + "\n" + scales[1] + "\n");
    // Empty images: the scales are known to be new, so nothing is read before the send.
    std::filesystem::create_directory("state");
    for (const std::string& scale : scales) {
        std::string name = scale;
        for (char& c : name) c = c == ':' ? '_' : c;
        WriteWholeFile(("state/" + name + ".txt").c_str(), "");
    }
    std::vector<std::string> sync = {"sync", "--file", "items.txt", "--type", "1",
                                     "--targets-file", "scales.txt", "--state", "state"};
    ProcessId first = StartProcess(ToolPath(), sync, ".stdin", ".first-out", ".first-err");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    AskToEnd(first);
    WaitForProcess(first, 5000);

    ToolRun again = RunTool(sync);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.out.find("sent 300,"), std::string::npos) << again.out;  // some had arrived
    for (const std::string& scale : scales) {
        ToolRun diff = RunTool({"diff", "items.txt", "scale:" + scale, "--type", "1", "--items", "1-400"});
        EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    }
    ToolRun third = RunTool(sync);
    EXPECT_NE(third.out.find(scales[0] + ": sent 0, unchanged 300, removed 0\n"), std::string::npos)
        << third.out;

    // A drift at the scale: diff finds it, with exit status 1.
    RunTool({"send", "--type", "1", "--target", scales[1]}, "7A9##Item 7\n");
    ToolRun drift = RunTool({"diff", "items.txt", "scale:" + scales[1], "--type", "1", "--items", "1-400"});
    EXPECT_EQ(drift.status, 1);
    EXPECT_EQ(drift.out, "~ item 0007: fields: \"1,25\" -> \"9\"\n");
    AskToEnd(fleet);
    WaitForProcess(fleet, 5000);
}

TEST(SyncTool, AnImageLineWithoutAPrefixIsNamed) {
    TempDirectory directory;
    WriteWholeFile("image.txt", "1P0001A1##Tea\n0002A1##Milk\n");
    ToolRun run = RunTool({"check", "--file", "image.txt"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("image.txt:2: "), std::string::npos) << run.err;
    ToolRun sync = RunTool({"sync", "--file", "image.txt", "--target", "127.0.0.1:1", "--state", "s"});
    EXPECT_EQ(sync.status, 2);
}

}  // namespace
}  // namespace vudaduv::cli::test
