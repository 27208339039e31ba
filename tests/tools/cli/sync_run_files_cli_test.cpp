// What a sync leaves for the people around it: reports that say when, from which list and why,
// whether the run finished or not (killed, stopped by the lock, a full disk at the end), scales
// by their names, the metrics a monitor reads (checked by Prometheus's own parser), and a log
// whose lines stand in the order they were written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

#include "temp_directory.h"
#include "tool_process.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;
using Json = nlohmann::json;

std::string Items(int first, int last, const std::string& text = "Item") {
    std::string lines;
    for (int i = first; i <= last; ++i)
        lines += std::to_string(i) + "A1,25##" + text + " " + std::to_string(i) + "\n";
    return lines;
}

Json ReadJson(const std::string& path) {
    return Json::parse(ReadWholeFile(path.c_str()), nullptr, false);
}

// "2026-12-09T02:00:05+01:00"
bool IsIsoTimeWithOffset(const Json& value) {
    static const std::regex iso(
        "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}");
    return value.is_string() && std::regex_match(value.get<std::string>(), iso);
}

// A report from an earlier run that ended well: what a run that does not finish must not leave.
const char kLastNightsReport[] = "{\"schema\": 1, \"command\": \"sync\", \"ok\": true}\n";

// One virtual scale that takes 5 ms a reply, with an empty state image so that the run goes
// straight to sending 400 items: seconds of sending, to stop in the middle of.
class SlowSend : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteWholeFile(".stdin", "");
        fleet_ = StartProcess(ToolPath(), {"scale", "--count", "1", "--reply-delay", "5"}, ".stdin",
                              ".fleet", ".fleet-err");
        for (int i = 0; i < 500 && address_.empty(); ++i) {
            std::string text = ReadWholeFile(".fleet");
            if (text.find('\n') != std::string::npos) address_ = text.substr(0, text.find('\n'));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_FALSE(address_.empty());
        WriteWholeFile("items.txt", Items(1, 400));
        std::string name = address_;
        for (char& c : name) c = c == ':' ? '_' : c;
        std::filesystem::create_directory("state");
        WriteWholeFile(("state/" + name + ".txt").c_str(), "");
        WriteWholeFile("report.json", kLastNightsReport);
    }
    void TearDown() override {
        if (fleet_ == kNoProcess) return;
        AskToEnd(fleet_);
        WaitForProcess(fleet_, 5000);
    }

    std::vector<std::string> Sync() const {
        return {"sync",    "--file", "items.txt", "--type",          "1", "--target", address_,
                "--state", "state",  "--report",  "json:report.json"};
    }

    // Waits until the send is under way: the report says the run is running and the scale
    // answered a few lines (the report of the run is written before the first read).
    void WaitForTheSend() const {
        for (int i = 0; i < 300; ++i) {
            Json report = ReadJson("report.json");
            if (!report.is_discarded() && report.value("status", "") == "running" &&
                std::filesystem::exists("state/.pending")) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    TempDirectory directory_;
    ProcessId fleet_ = kNoProcess;
    std::string address_;
};

TEST_F(SlowSend, AKilledRunLeavesAReportThatSaysItDidNotFinish) {
    ProcessId run = StartProcess(ToolPath(), Sync(), ".stdin", ".out", ".err");
    WaitForTheSend();
    EXPECT_EQ(WaitForProcess(run, 1), -1) << "killed while it sent";
    Json report = ReadJson("report.json");
    ASSERT_FALSE(report.is_discarded()) << ReadWholeFile("report.json");
    EXPECT_EQ(report["status"], "running");
    EXPECT_TRUE(report["finished"].is_null());
    EXPECT_EQ(report["ok"], false);
    EXPECT_TRUE(IsIsoTimeWithOffset(report["started"])) << report["started"];
    EXPECT_EQ(report["list"]["path"], "items.txt");
    EXPECT_EQ(report["list"]["records"], 400);
    EXPECT_EQ(report["targets"], 1);
}

#ifndef _WIN32
// The tool's standard output and error in one file, as a service's log takes them.
ProcessId StartWithOneLog(const std::vector<std::string>& args, const std::string& log) {
    std::string command = "exec '" + ToolPath() + "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    return StartProcess("/bin/sh", {"-c", command + " >" + log + " 2>&1"}, ".stdin", ".sh-out",
                        ".sh-err");
}
#endif

TEST_F(SlowSend, CtrlCInALogKeepsTheLinesInOrderAndTheSummarySaysInterrupted) {
#ifdef _WIN32
    GTEST_SKIP() << "no signal here asks the tool to stop";
#else
    ProcessId run = StartWithOneLog(Sync(), "log.txt");
    WaitForTheSend();
    AskToEnd(run);
    int status = WaitForProcess(run, 10000);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1);
    std::string log = ReadWholeFile("log.txt");
    std::size_t scale = log.find(address_ + ": interrupted");
    std::size_t summary =
        log.find("synced 0 of 1 scale(s), failed 0, refused 0, interrupted 1, in ");
    std::size_t last = log.find("vudaduv sync: interrupted: the next run sends the rest\n");
    ASSERT_NE(scale, std::string::npos) << log;
    ASSERT_NE(summary, std::string::npos) << log;
    ASSERT_NE(last, std::string::npos) << log;
    EXPECT_LT(scale, summary) << log;
    EXPECT_LT(summary, last) << log;
    EXPECT_EQ(last + std::string("vudaduv sync: interrupted: the next run sends the rest\n").size(),
              log.size())
        << "the stderr line is the log's last:\n"
        << log;
    Json report = ReadJson("report.json");
    EXPECT_EQ(report["status"], "interrupted");
    EXPECT_TRUE(IsIsoTimeWithOffset(report["finished"]));
    EXPECT_EQ(report["scales"][0]["status"], "interrupted");
    EXPECT_NE(report["scales"][0]["failure"], "") << "an interrupted scale says so";
#endif
}

// Two virtual scales, named in the targets file, and a dead address with a name of its own.
class NamedFleet : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fleet_.Started()) << fleet_.Output();
        addresses_ = fleet_.OutputLines();
        ASSERT_EQ(addresses_.size(), 2u);
        dead_ = "127.0.0.1:" + std::to_string(ClosedPort());
        WriteWholeFile("scales.txt", "# the shop's scales\n" + addresses_[0] +
                                         "  Store 12, deli counter\n" + addresses_[1] + "\n" +
                                         dead_ + "\tStore 3, bakery # moved in May\n");
        WriteWholeFile("items.txt", Items(1, 20));
    }

    ToolRun Sync(std::vector<std::string> more = {}, const std::string& list = "items.txt") {
        std::vector<std::string> args = {"sync",
                                         "--file",
                                         list,
                                         "--type",
                                         "1",
                                         "--state",
                                         "state",
                                         "--targets-file",
                                         "scales.txt",
                                         "--retries",
                                         "0",
                                         "--report",
                                         "json:report.json",
                                         "--report",
                                         "html:report.html",
                                         "--report",
                                         "metrics:sync.prom"};
        args.insert(args.end(), more.begin(), more.end());
        return RunTool(args);
    }

    TempDirectory directory_;
    ScaleProcess fleet_{2, 0};
    std::vector<std::string> addresses_;
    std::string dead_;
};

TEST_F(NamedFleet, TheNamesOfTheTargetsFileGoToTheLinesReportsAndFailedTargets) {
    ToolRun run = Sync({"--failed-targets", "failed.txt"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(addresses_[0] + " (Store 12, deli counter): sent 20,"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(addresses_[1] + ": sent 20,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(dead_ + " (Store 3, bakery): failed: "), std::string::npos) << run.out;
    Json report = ReadJson("report.json");
    ASSERT_EQ(report["scales"].size(), 3u);
    EXPECT_EQ(report["scales"][0]["name"], "Store 12, deli counter");
    EXPECT_EQ(report["scales"][1]["name"], "");
    EXPECT_EQ(report["scales"][2]["name"], "Store 3, bakery");
    EXPECT_EQ(report["scales"][2]["address"], dead_);
    std::string page = ReadWholeFile("report.html");
    EXPECT_NE(page.find("<td>Store 12, deli counter</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>Store 3, bakery</td>"), std::string::npos);
    // The failed scales read back as a targets file, names and all.
    EXPECT_EQ(ReadWholeFile("failed.txt"), dead_ + "  Store 3, bakery\n");
    WriteWholeFile("scales.txt", ReadWholeFile("failed.txt"));
    ToolRun again = Sync();
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find(dead_ + " (Store 3, bakery): failed: "), std::string::npos)
        << again.out;
}

// The statuses a sync can give, each run on the same fleet: every scale that did not end as
// asked has a cause, and a refused one names the removals planned and the cap.
TEST_F(NamedFleet, EveryScaleThatIsNotOkSaysWhy) {
    struct Step {
        const char* name;
        std::vector<std::string> args;
        std::string list;
        std::vector<const char*> statuses;  // of the two scales and the dead one
        bool changeFirstScale = false;      // its records changed at the scale before the run
    };
    WriteWholeFile("fewer.txt", Items(1, 2));
    WriteWholeFile("other.txt", Items(1, 20, "Other"));
    const std::vector<Step> steps = {
        {"first", {}, "items.txt", {"synced", "synced", "failed"}},
        {"again", {}, "items.txt", {"in-step", "in-step", "failed"}},
        {"dry run", {"--dry-run"}, "other.txt", {"planned", "planned", "failed"}},
        {"removals",
         {"--remove-missing", "--max-remove", "3"},
         "fewer.txt",
         {"refused-cap", "refused-cap", "failed"}},
        {"full read", {"--read-back"}, "other.txt", {"synced", "synced", "failed"}},
        {"drift", {}, "other.txt", {"drift-repaired", "in-step", "failed"}, true},
    };
    for (const Step& step : steps) {
        if (step.changeFirstScale) {
            ToolRun send = RunTool({"send", "--type", "1", "--target", addresses_[0]},
                                   Items(1, 20, "Changed"));
            ASSERT_EQ(send.status, 0) << send.err;
        }
        ToolRun run = Sync(step.args, step.list);
        Json report = ReadJson("report.json");
        ASSERT_EQ(report["scales"].size(), 3u) << step.name << run.out << run.err;
        EXPECT_EQ(report["status"], "finished") << step.name;
        std::string page = ReadWholeFile("report.html");
        for (std::size_t i = 0; i < 3; ++i) {
            const Json& scale = report["scales"][i];
            EXPECT_EQ(scale["status"], step.statuses[i]) << step.name << " " << i;
            EXPECT_EQ(scale["ok"].get<bool>(), scale["failure"].get<std::string>().empty())
                << step.name << " " << i << ": " << scale.dump();
            std::string failure = scale["failure"];
            if (!failure.empty()) {
                EXPECT_NE(page.find(failure.substr(0, 30)), std::string::npos) << step.name;
            }
        }
        if (std::string(step.name) == "removals") {
            EXPECT_EQ(report["scales"][0]["failure"],
                      "its plan removes 18 record(s), more than its removal cap of 3 allows; "
                      "nothing sent");
            EXPECT_NE(page.find("refused: too many removals (refused-cap)"), std::string::npos);
            EXPECT_NE(page.find("2 not changed (its plan removes 18 record(s), more than its "
                                "removal cap of 3 allows; nothing sent (2 scales))"),
                      std::string::npos)
                << page.substr(0, 3000);
        }
    }
}

#ifdef __linux__
// Holds the state directory's lock as another sync would.
class HeldLock {
  public:
    explicit HeldLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT, 0644)) {
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~HeldLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Held() const { return held_; }

  private:
    int fd_;
    bool held_ = false;
};
#endif

TEST_F(NamedFleet, ARunStoppedByTheLockSaysSoInEveryFile) {
#ifndef __linux__
    GTEST_SKIP() << "the lock is held here with flock";
#else
    std::filesystem::create_directory("state");
    WriteWholeFile("report.json", kLastNightsReport);
    HeldLock lock("state/.lock");
    ASSERT_TRUE(lock.Held());
    ToolRun run = Sync({"--failed-targets", "failed.txt"});
    EXPECT_EQ(run.status, 1) << run.err;
    Json report = ReadJson("report.json");
    EXPECT_EQ(report["status"], "stopped");
    EXPECT_EQ(report["ok"], false);
    EXPECT_NE(report["error"].get<std::string>(), "");
    EXPECT_TRUE(IsIsoTimeWithOffset(report["finished"]));
    EXPECT_TRUE(report["scales"].empty());
    EXPECT_NE(ReadWholeFile("report.html").find("stopped before it served any scale"),
              std::string::npos);
    EXPECT_NE(ReadWholeFile("sync.prom").find("\nvudaduv_sync_stopped 1\n"), std::string::npos);
    // Every scale is one to try again.
    EXPECT_EQ(ReadWholeFile("failed.txt"), addresses_[0] + "  Store 12, deli counter\n" +
                                               addresses_[1] + "\n" + dead_ +
                                               "  Store 3, bakery\n");
#endif
}

TEST_F(NamedFleet, AReportSaysWhenFromWhichListAndWhere) {
    ToolRun version = RunTool({"--version"});
    Sync();
    Json report = ReadJson("report.json");
    EXPECT_EQ(report["status"], "finished");
    EXPECT_TRUE(IsIsoTimeWithOffset(report["started"])) << report["started"];
    EXPECT_TRUE(IsIsoTimeWithOffset(report["finished"])) << report["finished"];
    EXPECT_LE(report["started"].get<std::string>(), report["finished"].get<std::string>());
    EXPECT_EQ("vudaduv " + report["version"].get<std::string>() + "\n", version.out);
    EXPECT_NE(report["host"], "");
    EXPECT_EQ(report["list"]["path"], "items.txt");
    EXPECT_EQ(report["list"]["records"], 20);
    EXPECT_EQ(report["list"]["digest"].get<std::string>().size(), 16u);
    std::string page = ReadWholeFile("report.html");
    EXPECT_NE(page.find("<p class=\"lead\" id=\"lead\">The sync of the list items.txt (20 "
                        "records) on "),
              std::string::npos);
    EXPECT_NE(page.find("3 scale(s), 2 up to date (0 already, 2 updated, 0 repaired), 1 failed ("),
              std::string::npos);
}

// The metrics file through Prometheus's own parser (Debian's python3-prometheus-client).
const char kParse[] = R"(import sys
from prometheus_client.parser import text_string_to_metric_families
for family in text_string_to_metric_families(open(sys.argv[1]).read()):
    for sample in family.samples:
        labels = ",".join(k + "=" + v for k, v in sorted(sample.labels.items()))
        print(family.type, sample.name, labels, repr(float(sample.value)))
)";

// The parser's lines for the file, or "" with why when there is no parser.
[[maybe_unused]] std::string Parsed(const std::string& file, std::string& why) {
    WriteWholeFile("parse.py", kParse);
    WriteWholeFile(".stdin", "");
    for (const char* python : {"/usr/bin/python3", "/usr/local/bin/python3"}) {
        if (!std::filesystem::exists(python)) continue;
        ProcessId parse =
            StartProcess(python, {"parse.py", file}, ".stdin", ".parsed", ".parse-err");
        int status = WaitForProcess(parse, 60000);
        if (status == 0) return ReadWholeFile(".parsed");
        why = ReadWholeFile(".parse-err");
    }
    return "";
}

TEST_F(NamedFleet, MetricsReadByPrometheusOwnParser) {
#ifdef _WIN32
    GTEST_SKIP() << "the parser is checked on Linux";
#else
    Sync();
    WriteWholeFile("good.txt", addresses_[0] + "\n" + addresses_[1] + "\n");
    ToolRun good = RunTool({"sync", "--file", "items.txt", "--type", "1", "--state", "state",
                            "--targets-file", "good.txt", "--report", "metrics:good.prom"});
    EXPECT_EQ(good.status, 0) << good.err;
    std::string why;
    std::string failed = Parsed("sync.prom", why);
    ASSERT_NE(failed, "") << "install python3-prometheus-client (scripts/setup --tests): " << why;
    for (const char* line :
         {"gauge vudaduv_sync_scales status=synced 2.0\n",
          "gauge vudaduv_sync_scales status=failed 1.0\n",
          "gauge vudaduv_sync_scales status=refused-cap 0.0\n",
          "gauge vudaduv_sync_records_sent  40.0\n", "gauge vudaduv_sync_records_pending  0.0\n",
          "gauge vudaduv_sync_success  0.0\n",
          "gauge vudaduv_sync_last_success_time_seconds  0.0\n"}) {
        EXPECT_NE(failed.find(line), std::string::npos) << line << failed;
    }
    for (const char* metric : {"start_time_seconds", "end_time_seconds", "duration_seconds"}) {
        EXPECT_NE(failed.find(std::string(" vudaduv_sync_") + metric + " "), std::string::npos)
            << metric;
    }
    std::string passed = Parsed("good.prom", why);
    EXPECT_NE(passed.find("gauge vudaduv_sync_success  1.0\n"), std::string::npos) << passed;
    EXPECT_EQ(passed.find("gauge vudaduv_sync_last_success_time_seconds  0.0\n"), std::string::npos)
        << "a good run is kept in the state directory:\n"
        << passed;
    // Each metric has its HELP and TYPE lines.
    std::string text = ReadWholeFile("good.prom");
    for (std::size_t at = text.find("# TYPE "); at != std::string::npos;
         at = text.find("# TYPE ", at + 1)) {
        std::string name = text.substr(at + 7, text.find(' ', at + 7) - at - 7);
        EXPECT_EQ(name.rfind("vudaduv_sync_", 0), 0u) << name;
        EXPECT_NE(text.find("# HELP " + name + " "), std::string::npos) << name;
    }
#endif
}

#ifdef __linux__
// A tmpfs of 64 KiB at path while it lives (mounting needs root, as in a container).
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        std::filesystem::create_directories(path);
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};
#endif

// The disk of the reports fills during the run: the report of the run's start stays whole, and
// stderr says so; no report is ever empty or cut.
TEST(SyncReportOnAFullDisk, TheLastWholeReportStays) {
#ifndef __linux__
    GTEST_SKIP() << "a small tmpfs is Linux's";
#else
    TempDirectory directory;
    SmallDisk disk("reports");
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root (CAP_SYS_ADMIN)";
    // 150 scales that are off: the report of the end is some 90 KiB, the one of the start 1.
    std::string targets;
    unsigned port = ClosedPort();
    for (int i = 1; i <= 150; ++i)
        targets += "127.0.0." + std::to_string(i) + ":" + std::to_string(port) + "\n";
    WriteWholeFile("scales.txt", targets);
    WriteWholeFile("items.txt", Items(1, 2));
    ToolRun run = RunTool({"sync", "--file", "items.txt", "--type", "1", "--state", "state",
                           "--targets-file", "scales.txt", "--retries", "0", "--timeout", "2000",
                           "--report", "json:reports/report.json"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the report reports/report.json could not be written: "),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("; the file there is left as it was"), std::string::npos) << run.err;
    Json report = ReadJson("reports/report.json");
    ASSERT_FALSE(report.is_discarded()) << ReadWholeFile("reports/report.json").size();
    EXPECT_EQ(report["status"], "running");
    EXPECT_FALSE(std::filesystem::exists("reports/report.json.new"));
#endif
}

}  // namespace
}  // namespace vudaduv::cli::test
