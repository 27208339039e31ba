// The nightly sync left running unattended, as named scenarios: a list that came empty or cut,
// a scale that is off, one that lost its memory, a device that answers every read with an
// error, Ctrl-C half-way, and a state directory that cannot take the images. Real virtual scales
// and the tool as a process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "file_size_limit.h"
#include "loopback_socket.h"
#include "scripted_peer.h"
#include "temp_directory.h"
#include "tool_process.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

std::string Items(int first, int last, const std::string& text = "Item") {
    std::string lines;
    for (int i = first; i <= last; ++i)
        lines += std::to_string(i) + "A1,25##" + text + " " + std::to_string(i) + "\n";
    return lines;
}

unsigned PortOf(const std::string& address) {
    return static_cast<unsigned>(std::stoul(address.substr(address.rfind(':') + 1)));
}

// What the scale holds of items 0 to 40 (the tests' items), as pull writes it; "" when it holds
// none.
std::string Held(const std::string& address) {
    ToolRun run =
        RunTool({"pull", "--target", address, "--out", "held", "--types", "1", "--items", "0-40"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string name = address;
    for (char& c : name) c = c == ':' ? '_' : c;
    return ReadWholeFile(("held/" + name + ".txt").c_str());
}

// No file the sync writes for a while (".new") is left in the directory.
std::vector<std::string> Temporaries(const std::string& dir) {
    std::vector<std::string> left;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".new") left.push_back(name);
    }
    return left;
}

// Two virtual scales, each with 20 items sent and synced into "state".
class NightlySync : public ::testing::Test {
  protected:
    void SetUp() override {
        fleet_ = std::make_unique<ScaleProcess>(2, 0);
        ASSERT_TRUE(fleet_->Started());
        scales_ = fleet_->OutputLines();
        ASSERT_EQ(scales_.size(), 2u);
        WriteWholeFile("items.txt", Items(1, 20));
        // Empty images: the scales are known to be new, so the first sync reads no slot of them.
        std::filesystem::create_directory("state");
        for (const std::string& scale : scales_) {
            std::string name = scale;
            for (char& c : name) c = c == ':' ? '_' : c;
            WriteWholeFile(("state/" + name + ".txt").c_str(), "");
        }
        ToolRun first = Sync({});
        ASSERT_EQ(first.status, 0) << first.out << first.err;
    }

    ToolRun Sync(std::vector<std::string> more, const std::string& list = "items.txt") {
        std::vector<std::string> args = {"sync", "--file", list, "--type", "1", "--state", "state"};
        for (const std::string& scale : scales_) {
            args.push_back("--target");
            args.push_back(scale);
        }
        args.insert(args.end(), more.begin(), more.end());
        return RunTool(args);
    }

    TempDirectory directory_;
    std::unique_ptr<ScaleProcess> fleet_;
    std::vector<std::string> scales_;
};

TEST_F(NightlySync, AnEmptyListWithRemoveMissingIsRefusedAndTouchesNothing) {
    WriteWholeFile("empty.txt", "");
    std::string before = Held(scales_[0]);
    for (auto extra : {std::vector<std::string>{}, std::vector<std::string>{"--dry-run"}}) {
        extra.push_back("--remove-missing");
        ToolRun run = Sync(extra, "empty.txt");
        EXPECT_EQ(run.status, 4) << run.out << run.err;
        EXPECT_NE(run.err.find("the list holds no record"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--max-remove all"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Held(scales_[0]), before);
    ToolRun all = Sync({"--remove-missing", "--max-remove", "all"}, "empty.txt");
    EXPECT_EQ(all.status, 0) << all.out << all.err;
    EXPECT_EQ(Held(scales_[1]), "");
}

TEST_F(NightlySync, ACutListOverTheRemovalCapLeavesTheScaleUntouched) {
    WriteWholeFile("cut.txt", Items(1, 12));  // the export stopped half-way: 8 of 20 missing
    std::string before = Held(scales_[0]);
    for (auto extra : {std::vector<std::string>{}, std::vector<std::string>{"--dry-run"}}) {
        extra.push_back("--remove-missing");
        ToolRun run = Sync(extra, "cut.txt");
        EXPECT_EQ(run.status, 4) << run.out << run.err;
        EXPECT_NE(
            run.out.find(scales_[0] + ": refused: would remove 8 record(s), more than --max-remove "
                                      "allows (2); nothing sent"),
            std::string::npos)
            << run.out;
    }
    EXPECT_EQ(Held(scales_[0]), before);
    // Within the cap it is a day's change; an explicit count allows more.
    WriteWholeFile("today.txt", Items(1, 18));
    EXPECT_EQ(Sync({"--remove-missing"}, "today.txt").status, 0);
    ToolRun allowed = Sync({"--remove-missing", "--max-remove", "6"}, "cut.txt");
    EXPECT_EQ(allowed.status, 0) << allowed.out << allowed.err;
    EXPECT_EQ(Held(scales_[1]), Held(scales_[0]));
    EXPECT_EQ(Sync({"--remove-missing", "--max-remove", "12x"}, "cut.txt").status, 2);
    EXPECT_EQ(Sync({"--max-remove", "5"}, "cut.txt").status, 2);  // without --remove-missing
}

TEST_F(NightlySync, AScaleThatIsOffFailsEvenWithNothingToChange) {
    ToolRun inStep = Sync({"--report", "json:in-step.json"});
    EXPECT_EQ(inStep.status, 0) << inStep.out << inStep.err;
    nlohmann::json scale = nlohmann::json::parse(ReadWholeFile("in-step.json"))["scales"][0];
    EXPECT_EQ(scale["status"], "in-step");
    EXPECT_EQ(scale["probed"], 9);
    EXPECT_EQ(scale["differing"], 0);

    fleet_->Stop();
    ToolRun off = Sync({"--report", "json:off.json", "--failed-targets", "failed.txt", "--timeout",
                        "300", "--retries", "0"});
    EXPECT_EQ(off.status, 1) << off.out << off.err;
    EXPECT_NE(off.out.find(scales_[0] + ": failed: could not be read: "), std::string::npos)
        << off.out;
    EXPECT_NE(off.out.find("synced 0 of 2 scale(s), failed 2"), std::string::npos) << off.out;
    nlohmann::json report = nlohmann::json::parse(ReadWholeFile("off.json"));
    EXPECT_EQ(report["schema"], 1);
    EXPECT_EQ(report["ok"], false);
    EXPECT_EQ(report["scales"][1]["status"], "failed");
    EXPECT_EQ(report["scales"][1]["ok"], false);
    EXPECT_EQ(report["scales"][1]["transport_code_name"], "WQDS_REFUSED");
    EXPECT_EQ(ReadWholeFile("failed.txt"), scales_[0] + "\n" + scales_[1] + "\n");

    // Without the probe a scale with nothing to change is not contacted, and the run says so.
    ToolRun unchecked = Sync({"--probe", "0"});
    EXPECT_EQ(unchecked.status, 0) << unchecked.out << unchecked.err;
    EXPECT_NE(unchecked.out.find("the scales were not checked (--probe 0)"), std::string::npos);
}

TEST_F(NightlySync, AScaleThatIsOffSaysWhatItsStateForeseesForTheNextRun) {
    WriteWholeFile("new.txt", Items(1, 20, "New"));
    fleet_->Stop();
    ToolRun run =
        Sync({"--report", "json:off.json", "--timeout", "300", "--retries", "0"}, "new.txt");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::string line = run.out.substr(run.out.find(scales_[1] + ": failed: could not be read: "));
    line = line.substr(0, line.find('\n') + 1);
    EXPECT_EQ(line.substr(line.find(" (by its state")),
              " (by its state: planned 20 and 0 removal(s), pending 20; unchanged 0)\n")
        << run.out;
    nlohmann::json scale = nlohmann::json::parse(ReadWholeFile("off.json"))["scales"][1];
    EXPECT_EQ(scale["planned"], 20);
    EXPECT_EQ(scale["pending"], 20);
    EXPECT_EQ(scale["sent"], 0);
}

TEST_F(NightlySync, AScaleDownDuringTheSendCountsOnlyWhatHappened) {
    WriteWholeFile("new.txt", Items(1, 20, "New"));
    fleet_->Stop();
    ToolRun run =
        Sync({"--probe", "0", "--report", "json:down.json", "--timeout", "300", "--retries", "0"},
             "new.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(scales_[0] +
                           ": failed: refused or unreachable (0 of 40 command line(s) answered) "
                           "(planned 20 and 0 removal(s): written 0, confirmed 0, pending 20; "
                           "unchanged 0)\n"),
              std::string::npos)
        << run.out;
    nlohmann::json scale = nlohmann::json::parse(ReadWholeFile("down.json"))["scales"][0];
    EXPECT_EQ(scale["planned"], 20);
    EXPECT_EQ(scale["sent"], 0);
    EXPECT_EQ(scale["written"], 0);
    EXPECT_EQ(scale["confirmed"], 0);
    EXPECT_EQ(scale["pending"], 20);
}

TEST_F(NightlySync, AScaleThatLostItsMemoryIsReadInFullAndRepaired) {
    std::string before = Held(scales_[1]);
    // The scale restarts empty on the same address (swapped, or its memory lost).
    fleet_->Stop();
    ScaleProcess first(1, PortOf(scales_[0]));
    ScaleProcess second(1, PortOf(scales_[1]));
    ASSERT_TRUE(first.Started() && second.Started());
    ToolRun run = Sync({});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find(scales_[0] + ": drift: 8 of 9 probed records differ; read in full; sent 20, "
                                  "unchanged 0, removed 0\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(Held(scales_[1]), before);
    ToolRun again = Sync({});
    EXPECT_NE(again.out.find(scales_[1] + ": sent 0, unchanged 20, removed 0\n"), std::string::npos)
        << again.out;
}

TEST(SyncTrust, ADeviceThatAnswersErrorsIsAFailedReadNotAnEmptyScale) {
    TempDirectory directory;
    transport_test::LoopbackPeer device(false, [](const transport_test::PeerEvent&) {
        return transport_test::PeerAnswer::Reply("0eUNKNOWN\r\n");
    });
    ASSERT_TRUE(device.Listening());
    std::string address = "127.0.0.1:" + std::to_string(device.Port());
    WriteWholeFile("items.txt", Items(1, 3));
    ToolRun run = RunTool({"sync", "--file", "items.txt", "--type", "1", "--target", address,
                           "--state", "state", "--remove-missing"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(address + ": failed: could not be read: "), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"0eUNKNOWN\""), std::string::npos) << run.out;
    EXPECT_LT(run.err.size(), 400u) << run.err;  // one cause, not a line a slot
    // Nothing sent after the reads, and no image that says the device holds nothing.
    EXPECT_FALSE(
        std::filesystem::exists("state/127.0.0.1_" + std::to_string(device.Port()) + ".txt"));
}

TEST(SyncTrust, CtrlCKeepsWhatWasConfirmedAndTheNextRunSendsTheRest) {
    if (!AskToEndLetsItFinish()) GTEST_SKIP() << "no signal here asks the tool to stop";
    TempDirectory directory;
    WriteWholeFile(".stdin", "");
    // A fleet of one scale that takes 5 ms a reply.
    ProcessId fleet = StartProcess(ToolPath(), {"scale", "--count", "1", "--reply-delay", "5"},
                                   ".stdin", ".fleet", ".fleet-err");
    std::string address;
    for (int i = 0; i < 500 && address.empty(); ++i) {
        std::string text = ReadWholeFile(".fleet");
        if (text.find('\n') != std::string::npos) address = text.substr(0, text.find('\n'));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(address.empty());
    WriteWholeFile("items.txt", Items(1, 400));
    // An empty image: the scale is known to be new, so the run goes straight to the send.
    std::string name = address;
    for (char& c : name) c = c == ':' ? '_' : c;
    std::filesystem::create_directory("state");
    WriteWholeFile(("state/" + name + ".txt").c_str(), "");
    std::vector<std::string> sync = {"sync",  "--file",   "items.txt",       "--type",
                                     "1",     "--target", address,           "--state",
                                     "state", "--report", "json:report.json"};
    ProcessId first = StartProcess(ToolPath(), sync, ".stdin", ".first-out", ".first-err");
    // Stopped once the send is under way (item 1, the first sent, has arrived), however slow
    // the machine: 400 writes and their read-backs take seconds more.
    for (int i = 0; i < 200 && Held(address).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    AskToEnd(first);
    int status = WaitForProcess(first, 10000);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1);
    std::string err = ReadWholeFile(".first-err");
    EXPECT_NE(err.find("vudaduv sync: interrupted: the next run sends the rest"), std::string::npos)
        << err;
    EXPECT_NE(ReadWholeFile(".first-out").find(address + ": interrupted "), std::string::npos)
        << ReadWholeFile(".first-out");
    nlohmann::json report = nlohmann::json::parse(ReadWholeFile("report.json"));
    EXPECT_EQ(report["interrupted"], true);
    EXPECT_EQ(report["scales"][0]["status"], "interrupted");
    // Stopped among the writes, before their read-back: what the scale answered is pending, and
    // the next run reads it back first instead of sending it again.
    std::size_t written = report["scales"][0]["written"];
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, 400u);
    EXPECT_EQ(report["scales"][0]["pending"], 400);

    ToolRun again = RunTool(sync);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    nlohmann::json second = nlohmann::json::parse(ReadWholeFile("report.json"));
    // The command on its way when the stop came may have arrived without its answer.
    std::size_t planned = second["scales"][0]["planned"];
    EXPECT_TRUE(planned == 400 - written || planned + 1 == 400 - written) << planned;
    AskToEnd(fleet);
    WaitForProcess(fleet, 5000);
}

TEST_F(NightlySync, AStateDirectoryWithoutRoomIsFoundBeforeAnyScaleIsRead) {
    WriteWholeFile("new.txt", Items(1, 20, "New"));
    std::string before = Held(scales_[0]);
    {
        vudaduv::testing::FileSizeLimit limit;
        if (!limit.Set(200)) GTEST_SKIP() << "no cap on file sizes on this system";
        ToolRun run = Sync({}, "new.txt");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("the state directory state cannot be written"), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Held(scales_[0]), before);  // nothing sent
    EXPECT_EQ(Temporaries("state"), std::vector<std::string>{});
}

TEST_F(NightlySync, StateImagesThatCannotBeWrittenAreNamedOnceAndLeaveNoTemporary) {
    // Every line changed and longer: the journal would outgrow the image, which is written whole.
    WriteWholeFile("new.txt", Items(1, 20, "Renamed"));
    std::string name = scales_[1];
    for (char& c : name) c = c == ':' ? '_' : c;
    // Something in the place of one image's temporary: the write of the images fails after
    // the send.
    std::filesystem::create_directories("state/" + name + ".txt.new/in-the-way");
    ToolRun run = Sync({}, "new.txt");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::size_t named = run.err.find("the state images could not be written in state: ");
    EXPECT_NE(named, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("could not be written", named + 1 + 20), std::string::npos) << run.err;
    std::filesystem::remove_all("state/" + name + ".txt.new");
    EXPECT_EQ(Temporaries("state"), std::vector<std::string>{});
    // The next run reads back what this one sent and finds it there.
    ToolRun again = Sync({}, "new.txt");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find(scales_[0] + ": sent 0, unchanged 20, removed 0\n"), std::string::npos)
        << again.out;
}

}  // namespace
}  // namespace vudaduv::cli::test

namespace vudaduv::cli::test {
namespace {

// One check and one rule for scales, as send has them: every line a scale cannot get is named,
// the rest is sent with --accept-changes, a line with no GBK form leaves its record alone, item 0
// is a slot like the others, and one scale named twice is served once.
TEST_F(NightlySync, TheListIsCheckedAsSendChecksItAndEachScaleServedOnce) {
    ASSERT_EQ(RunTool({"send", "--type", "1", "--target", scales_[0]}, "0A1##Zero\n").status, 0);
    // Item 3 cannot be sent in UTF-8 (GBK lacks the character); item 5 is cut.
    WriteWholeFile("mixed.txt", "1A1,25##Item 1\n3A1##Tea \xf0\x9f\x98\x80\n5A1##" +
                                    std::string(60, 'x') + "\n");
    ToolRun refused =
        Sync({"--charset", "UTF-8", "--remove-missing", "--max-remove", "all"}, "mixed.txt");
    EXPECT_EQ(refused.status, 4) << refused.out << refused.err;
    EXPECT_NE(refused.err.find("mixed.txt:2: line: "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("mixed.txt:3: "), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");

    std::vector<std::string> args = {
        "sync",         "--file",   "mixed.txt",        "--type",   "1",
        "--state",      "state",    "--charset",        "UTF-8",    "--remove-missing",
        "--max-remove", "all",      "--accept-changes", "--target", scales_[0],
        "--target",     scales_[0], "--read-back"};
    ToolRun accepted = RunTool(args);
    EXPECT_EQ(accepted.status, 0) << accepted.out << accepted.err;
    EXPECT_NE(accepted.err.find("--target '" + scales_[0] + "' is the scale of '" + scales_[0] +
                                "' again: sent to once"),
              std::string::npos)
        << accepted.err;
    // Read back whole: item 0 removed, 1 kept, 3 left as it was (not sent, not removed), 5 sent
    // cut, the rest of the 20 removed.
    std::string held = Held(scales_[0]);
    EXPECT_EQ(held.find("1P0000A"), std::string::npos) << held;
    EXPECT_NE(held.find("1P0001A1,25##Item 1\n"), std::string::npos) << held;
    EXPECT_NE(held.find("1P0003A1,25##Item 3\n"), std::string::npos) << held;
    EXPECT_NE(held.find("1P0005A1##xxxx"), std::string::npos) << held;
    EXPECT_EQ(held.find("1P0007A"), std::string::npos) << held;
}

}  // namespace
}  // namespace vudaduv::cli::test

namespace vudaduv::cli::test {
namespace {

// The state's images are scale images in the user's character set, as pull writes them: diff and
// send take them with their default options. A state written in GBK before (no .charsets) is
// read as it is and rewritten in the user's set.
TEST(SyncTrust, StateImagesAreInTheUsersCharsetAndOldOnesStillRead) {
    TempDirectory directory;
    ScaleProcess fleet(1, 0);
    ASSERT_TRUE(fleet.Started());
    std::string scale = fleet.OutputLines().at(0);
    std::string name = scale;
    for (char& c : name) c = c == ':' ? '_' : c;
    std::string image = "state/" + name + ".txt";
    const std::string apple = "\xe8\x8b\xb9\xe6\x9e\x9c";  // in UTF-8; "\xc6\xbb\xb9\xfb" in GBK
    WriteWholeFile("items.txt", "1A1##" + apple + "\n2A1##Milk\n");
    std::vector<std::string> sync = {"sync",  "--file",    "items.txt", "--type",
                                     "1",     "--target",  scale,       "--state",
                                     "state", "--charset", "UTF-8"};
    ASSERT_EQ(RunTool(sync).status, 0);
    EXPECT_EQ(ReadWholeFile(image.c_str()), "1P0001A1##" + apple + "\n1P0002A1##Milk\n");
    ToolRun diff =
        RunTool({"diff", image, "scale:" + scale, "--items", "0-10", "--charset", "UTF-8"});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;

    // A state directory from before: GBK, and no word of its character set.
    std::filesystem::remove("state/.charsets");
    WriteWholeFile(image.c_str(), "1P0001A1##\xc6\xbb\xb9\xfb\n1P0002A1##Milk\n");
    ToolRun again = RunTool(sync);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find(": sent 0, unchanged 2, removed 0"), std::string::npos) << again.out;
    EXPECT_EQ(ReadWholeFile(image.c_str()), "1P0001A1##" + apple + "\n1P0002A1##Milk\n");
}

}  // namespace
}  // namespace vudaduv::cli::test

namespace vudaduv::cli::test {
namespace {

// Change control: a dry run prints each plan once with the scales that share it and saves it;
// --apply sends exactly that plan, and refuses (sending nothing) once the list, a scale's state
// or what a scale would get has changed.
TEST_F(NightlySync, ASavedPlanIsSentAsItIsOrNotAtAll) {
    WriteWholeFile("today.txt", Items(1, 19) + "21A1##Item 21\n");
    std::string before = Held(scales_[0]);
    std::vector<std::string> plan = {"--remove-missing", "--dry-run", "--plan-out", "plan.json"};
    ToolRun dry = Sync(plan, "today.txt");
    EXPECT_EQ(dry.status, 0) << dry.out << dry.err;
    EXPECT_NE(dry.out.find("plan 1, for 2 scale(s): " + scales_[0] + " " + scales_[1] +
                           "\n  send item 0021 (type 1): 21A1##Item 21\n"
                           "  remove item 0020 (type 1)\n"),
              std::string::npos)
        << dry.out;
    EXPECT_EQ(dry.out.find("plan 2"), std::string::npos) << dry.out;
    EXPECT_EQ(Held(scales_[0]), before);  // a dry run sends nothing

    // The list changed after the plan was made: nothing sent.
    WriteWholeFile("today.txt", Items(1, 19) + "21A1##Item 22\n");
    ToolRun changed = Sync({"--remove-missing", "--apply", "plan.json"}, "today.txt");
    EXPECT_EQ(changed.status, 4) << changed.out << changed.err;
    EXPECT_NE(changed.err.find("the plan is stale: the list differs"), std::string::npos)
        << changed.err;
    EXPECT_EQ(Held(scales_[0]), before);

    WriteWholeFile("today.txt", Items(1, 19) + "21A1##Item 21\n");
    ToolRun applied = Sync({"--remove-missing", "--apply", "plan.json"}, "today.txt");
    EXPECT_EQ(applied.status, 0) << applied.out << applied.err;
    EXPECT_NE(applied.out.find(scales_[1] + ": sent 1, unchanged 19, removed 1\n"),
              std::string::npos)
        << applied.out;
    // Applied once, the states have moved on: the same plan again is stale.
    ToolRun again = Sync({"--remove-missing", "--apply", "plan.json"}, "today.txt");
    EXPECT_EQ(again.status, 4) << again.out << again.err;
    EXPECT_NE(again.err.find("its state changed since the plan was made"), std::string::npos)
        << again.err;
    EXPECT_EQ(Sync({"--apply", "today.txt"}, "today.txt").status, 2);  // no plan file
}

}  // namespace
}  // namespace vudaduv::cli::test

namespace vudaduv::cli::test {
namespace {

// A scale that holds the list already costs no write: its state image stays as it was, byte for
// byte (here with the CR LF line ends of an editor); a change that lands goes to its journal.
TEST_F(NightlySync, AStateImageThatStaysAsItWasIsNotWrittenAgain) {
    std::string name = scales_[0];
    for (char& c : name) c = c == ':' ? '_' : c;
    std::string path = "state/" + name + ".txt";
    std::string text = ReadWholeFile(path.c_str());
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WriteWholeFile(path.c_str(), crlf);
    ToolRun same = Sync({});
    EXPECT_EQ(same.status, 0) << same.out << same.err;
    EXPECT_EQ(ReadWholeFile(path.c_str()), crlf);
    WriteWholeFile("new.txt", Items(1, 19) + "20A9##Item 20\n");
    ASSERT_EQ(Sync({}, "new.txt").status, 0);
    EXPECT_EQ(ReadWholeFile(path.c_str()), crlf);
    EXPECT_EQ(ReadWholeFile((path + ".journal").c_str()), "1P0020A9##Item 20\n");
}

}  // namespace
}  // namespace vudaduv::cli::test
