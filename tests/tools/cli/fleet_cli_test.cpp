// pull, diff and sync as a user runs them: a sync process killed half-way and run again, and
// the exit statuses that scripts read.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
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

// "vudaduv scale --count 2 --reply-delay MS": its addresses, once it prints them.
std::vector<std::string> StartSlowFleet(ProcessId& process, const char* delay = "2") {
    process = StartProcess(ToolPath(), {"scale", "--count", "2", "--reply-delay", delay}, ".stdin",
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
    for (int i = 1; i <= 300; ++i)
        items += std::to_string(i) + "A1,25##Item " + std::to_string(i) + "\n";
    WriteWholeFile("items.txt", items);
    WriteWholeFile("scales.txt", scales[0] + "\n" + scales[1] + "\n");
    // Empty images: the scales are known to be new, so nothing is read before the send.
    std::filesystem::create_directory("state");
    for (const std::string& scale : scales) {
        std::string name = scale;
        for (char& c : name) c = c == ':' ? '_' : c;
        WriteWholeFile(("state/" + name + ".txt").c_str(), "");
    }
    std::vector<std::string> sync = {"sync",           "--file",     "items.txt", "--type", "1",
                                     "--targets-file", "scales.txt", "--state",   "state"};
    ProcessId first = StartProcess(ToolPath(), sync, ".stdin", ".first-out", ".first-err");
    // Killed once item 1 (the first sent) has arrived at both scales, however slow the machine.
    for (int i = 0; i < 200; ++i) {
        bool both = true;
        for (const std::string& scale : scales) {
            std::string name = scale;
            for (char& c : name) c = c == ':' ? '_' : c;
            RunTool(
                {"pull", "--target", scale, "--out", "arrived", "--types", "1", "--items", "1-1"});
            both = both && !ReadWholeFile(("arrived/" + name + ".txt").c_str()).empty();
        }
        if (both) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    AskToEnd(first);
    WaitForProcess(first, 5000);

    ToolRun again = RunTool(sync);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.out.find("sent 300,"), std::string::npos) << again.out;  // some had arrived
    for (const std::string& scale : scales) {
        ToolRun diff =
            RunTool({"diff", "items.txt", "scale:" + scale, "--type", "1", "--items", "1-400"});
        EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    }
    ToolRun third = RunTool(sync);
    EXPECT_NE(third.out.find(scales[0] + ": sent 0, unchanged 300, removed 0\n"), std::string::npos)
        << third.out;

    // A drift at the scale: diff finds it, with exit status 1.
    RunTool({"send", "--type", "1", "--target", scales[1]}, "7A9##Item 7\n");
    ToolRun drift =
        RunTool({"diff", "items.txt", "scale:" + scales[1], "--type", "1", "--items", "1-400"});
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
    ToolRun sync =
        RunTool({"sync", "--file", "image.txt", "--target", "127.0.0.1:1", "--state", "s"});
    EXPECT_EQ(sync.status, 2);
}

// Two scales that answer at once, in a directory of their own.
class FleetTool : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteWholeFile(".stdin", "");
        scales_ = StartSlowFleet(fleet_, "0");
        ASSERT_EQ(scales_.size(), 2u);
    }
    void TearDown() override {
        AskToEnd(fleet_);
        WaitForProcess(fleet_, 5000);
    }

    // The image file a pull of the scale's first items writes; "" when it wrote none.
    std::string PullItems(std::size_t scale, const std::string& types = "1") {
        ToolRun run = RunTool({"pull", "--target", scales_[scale], "--out", "pulled", "--types",
                               types, "--items", "1-9"});
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadWholeFile(("pulled/" + FileName(scale)).c_str());
    }

    std::string FileName(std::size_t scale) const {
        std::string name = scales_[scale];
        for (char& c : name) c = c == ':' ? '_' : c;
        return name + ".txt";
    }

    void Send(std::size_t scale, const std::string& items) {
        ToolRun run =
            RunTool({"send", "--type", "1", "--accept-changes", "--target", scales_[scale]}, items);
        ASSERT_EQ(run.status, 0) << run.err;
    }

    TempDirectory directory_;
    ProcessId fleet_ = kNoProcess;
    std::vector<std::string> scales_;
};

TEST_F(FleetTool, DryRunPrintsWhatWouldBeSentAndRemovedAndSendsNothing) {
    std::filesystem::create_directory("state");
    WriteWholeFile(("state/" + FileName(0)).c_str(), "1P0002A1##Milk\n1P0003A1##Old\n");
    WriteWholeFile("items.txt", "1A1##Tea\n2A1##Milk\n");
    ToolRun run = RunTool({"sync", "--file", "items.txt", "--type", "1", "--target", scales_[0],
                           "--state", "state", "--remove-missing", "--dry-run", "--probe", "0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("planned")),
              scales_[0] +
                  ": would send 1, unchanged 1, would remove 1 (plan 1)\nplan 1, for 1 scale(s): " +
                  scales_[0] +
                  "\n  send item 0001 (type 1): 1A1##Tea\n  remove item 0003 (type 1)\n");
    EXPECT_EQ(PullItems(0), "");
    EXPECT_EQ(ReadWholeFile(("state/" + FileName(0)).c_str()), "1P0002A1##Milk\n1P0003A1##Old\n");
}

TEST_F(FleetTool, RemoveMissingWithAnImageMakesAnExactCopyAndTheReportCountsIt) {
    Send(0, "1A1##Tea\n2A3##Milk\n3A1##Salt\n");
    std::string image = PullItems(0);
    WriteWholeFile("image.txt", image);
    Send(1, "2A1##Old\n8A1##Gone\n9A1##Gone\n");
    ToolRun run =
        RunTool({"sync", "--file", "image.txt", "--target", scales_[1], "--state", "state",
                 "--remove-missing", "--max-remove", "all", "--report", "json:report.json"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(PullItems(1), image);
    nlohmann::json scale = nlohmann::json::parse(ReadWholeFile("report.json"))["scales"][0];
    EXPECT_EQ(scale["address"], scales_[1]);
    EXPECT_EQ(scale["ok"], true);
    EXPECT_EQ(scale["sent"], 3);  // item 2 changed, 1 and 3 new
    EXPECT_EQ(scale["removed"], 2);
    EXPECT_EQ(scale["unchanged"], 0);
    EXPECT_EQ(scale["read_from_scale"], true);
}

TEST_F(FleetTool, PullReadsOnlyTheAskedSlotsAndNamesARecordThatCannotComeBack) {
    Send(0, "1A1##Tea\n5A1 2##Split\n20A1##Beyond\n");
    RunTool({"send", "--type", "3", "--target", scales_[0]}, "7AHello\n");
    ToolRun run = RunTool(
        {"pull", "--target", scales_[0], "--out", "pulled", "--types", "1", "--items", "1-10"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(scales_[0] + ": item 0005: came back"), std::string::npos) << run.err;
    EXPECT_EQ(ReadWholeFile(("pulled/" + FileName(0)).c_str()), "1P0001A1##Tea\n");
}

TEST_F(FleetTool, AnImageSentToAnEmptyScalePullsBackTheSame) {
    Send(0, "1A1##Tea\n4A2,5##Milk##Fresh\n");
    RunTool({"send", "--type", "3", "--target", scales_[0]}, "7AHello\n");
    std::string image = PullItems(0, "1,3");
    ASSERT_NE(image.find("3P07AHello"), std::string::npos) << image;
    WriteWholeFile("image.txt", image);
    ToolRun send = RunTool({"send", "--file", "image.txt", "--target", scales_[1]});
    EXPECT_EQ(send.status, 0) << send.err;
    EXPECT_EQ(PullItems(1, "1,3"), image);
}

TEST_F(FleetTool, DiffTakesADataLineAsTheScaleStoresIt) {
    WriteWholeFile("items.txt", "3A5##ABCDEFGHIJKLMNOPQRSTUVWXYZ\n");
    Send(0, "3A5##ABCDEFGHIJKLMNOPQRSTUVWXYZ\n");
    ASSERT_EQ(PullItems(0), "1P0003A5##ABCDEFGHIJKL\n");  // the scale keeps a cut text
    ToolRun diff =
        RunTool({"diff", "scale:" + scales_[0], "items.txt", "--type", "1", "--items", "1-9"});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    EXPECT_EQ(diff.out, "");
}

TEST_F(FleetTool, DiffAndSendOfAStateImageTakeInItsJournal) {
    WriteWholeFile("items.txt", "1A1##Tea\n2A3##Milk\n3A1##Salt\n");
    std::vector<std::string> sync = {"sync",  "--file",           "items.txt",    "--type",
                                     "1",     "--target",         scales_[0],     "--state",
                                     "state", "--remove-missing", "--max-remove", "all"};
    ASSERT_EQ(RunTool(sync).status, 0);
    WriteWholeFile("items.txt", "1A1##Tea\n2A4##Milk\n");
    ToolRun second = RunTool(sync);
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    std::string state = "state/" + FileName(0);
    // The image as the first run wrote it; the second run's changes in the journal beside it.
    ASSERT_EQ(ReadWholeFile(state.c_str()), "1P0001A1##Tea\n1P0002A3##Milk\n1P0003A1##Salt\n");
    ASSERT_EQ(ReadWholeFile((state + ".journal").c_str()), "1P0002A4##Milk\n1P0003A\n");
    ToolRun diff = RunTool({"diff", state, "scale:" + scales_[0], "--items", "1-9"});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    ToolRun list = RunTool({"diff", state, "items.txt", "--type", "1"});
    EXPECT_EQ(list.status, 0) << list.out << list.err;
    // The operator restores the scale's state onto the other, empty scale.
    ToolRun send = RunTool({"send", "--file", state, "--target", scales_[1]});
    EXPECT_EQ(send.status, 0) << send.err;
    EXPECT_NE(send.err.find("2 record(s) to 1 scale(s)"), std::string::npos) << send.err;
    EXPECT_EQ(PullItems(1), "1P0001A1##Tea\n1P0002A4##Milk\n");
    // A journal line that is no record is named, with its file and line.
    WriteWholeFile((state + ".journal").c_str(), "1P0002A4##Milk\nnonsense\n");
    ToolRun broken = RunTool({"diff", state, "scale:" + scales_[0], "--items", "1-9"});
    EXPECT_EQ(broken.status, 3);
    EXPECT_NE(broken.err.find(state + ".journal:2: "), std::string::npos) << broken.err;
}

}  // namespace
}  // namespace vudaduv::cli::test
