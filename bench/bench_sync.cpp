// The sync against a plain send, and a fleet's pull against one scale's, on virtual scales in a
// process of their own (bench_scales, started anew for each run); run by hand:
//   bench_sync [--scales N] [--delay MS] [--items N] [--changed N] [--probe N]
//              [--pull-scales N] [--state DIR]
// (--pull-scales 0 leaves the pull out; --state puts the state directory on another disk;
// --probe is the records of each scale's state read back before the plan, 8 by default)
// Every scale holds the items (and the state says so) before the runs; then the changed ones
// are sent by a plain send of their lines, by a sync that confirms by the scales' answers, and
// by a sync that reads back what it sent, each beside its goal: the plain send of the same
// lines (the writes, or the writes and their reads) times 1.2, plus the probe's round trips.
// Last, a sync to scales that already hold the list: the probe alone, whose goal is its round
// trips plus 1 s. The command lines each scale answered are counted, phase by phase.
// Beside the times: this process's system calls (the kernel's count, raw_syscalls:sys_enter)
// and CPU per record, before, in and after the exchanges, and its peak memory a scale beyond the
// images it holds, each sync beside its aim: at most 1.1 times the plain send's calls per record
// (2.2 times with read-back) and 64 kB a scale. Last, the bytes each sync wrote to the state
// directory beside the changed records' upload lines, against the goal of 4 times those plus
// 256 bytes a scale: as the state directory shows them (files new or replaced whole, files
// grown by what they grew) and as the sync counts them.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measure/scale_process.h"
#include "measure/syscall_counter.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"

namespace {

namespace bench = vudaduv::bench;
using Clock = std::chrono::steady_clock;
using vudaduv::fleet::SyncPhase;
using vudaduv::fleet::WantedList;

struct Settings {
    std::size_t scales = 1000;
    int delayMs = 20;
    int items = 4000;
    int changed = 200;
    std::size_t probe = 8;
    std::size_t pullScales = 1000;
    std::string state = "bench-sync-state";
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> Items(int count, int changed, const std::string& changedText) {
    std::vector<std::string> lines;
    int step = changed > 0 ? std::max(1, count / changed) : 0;
    for (int i = 1; i <= count; ++i) {
        // The changed items are spread over the list.
        bool isChanged = step > 0 && (i - 1) % step == 0 && (i - 1) / step < changed;
        lines.push_back(std::to_string(i) + "A" + std::to_string(i % 97) + ",1##" +
                        (isChanged ? changedText : "Item") + std::to_string(i));
    }
    return lines;
}

// The calls per record of a sync over the plain send's, and its memory a scale, at most.
constexpr double kCallsGoal = 1.1;
constexpr double kCallsGoalWithReadBack = 2.2;
constexpr double kKbPerScaleGoal = 64;

// count scales, every one holding lines before it listens.
bool StartFleet(bench::ScaleProcess& fleet, std::size_t count, int delayMs,
                const std::vector<std::string>& lines) {
    std::vector<std::string> preload;
    for (std::string command : vudaduv::BuildCommandList(1, lines, false)) {
        preload.push_back(command.substr(0, command.size() - 2));  // no CR LF
    }
    std::string error;
    if (!fleet.Start(bench::ProgramBesideThisOne("bench_scales"), count, delayMs, preload, error)) {
        std::fprintf(stderr, "bench_sync: %s\n", error.c_str());
        return false;
    }
    return true;
}

// A fleet whose every scale holds lines, started anew, and a state image of each that says so,
// record for record, so the probe finds no drift. The images are on disk before the clock
// starts: the sync's one flush is not charged with the setup's writes.
bool Prefill(bench::ScaleProcess& fleet, std::size_t scales, int delayMs,
             const std::vector<std::string>& lines, const std::string& stateDir) {
    fleet.Stop();
    if (!StartFleet(fleet, scales, delayMs, lines)) return false;
    std::string image = vudaduv::fleet::WriteImage(
        vudaduv::fleet::ImageOf(vudaduv::fleet::WantedOfDataLines(1, false, lines)));
    std::filesystem::remove_all(stateDir);
    std::filesystem::create_directories(stateDir);
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& address : fleet.Addresses()) {
        files.emplace_back(vudaduv::fleet::ImageFileName(address, 0), image);
    }
    std::string error;
    if (!vudaduv::fleet::WriteFilesAllOrNothing(stateDir, files, error)) {
        std::fprintf(stderr, "bench_sync: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The text of the image of lines, as the state holds it.
std::string ImageText(const std::vector<std::string>& lines) {
    return vudaduv::fleet::WriteImage(
        vudaduv::fleet::ImageOf(vudaduv::fleet::WantedOfDataLines(1, false, lines)));
}

// The state directory's files: size and inode of each.
using DirFiles = std::map<std::string, std::pair<std::uintmax_t, ino_t>>;

DirFiles FilesOf(const std::string& dir) {
    DirFiles files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        struct stat status {};
        if (::stat(entry.path().c_str(), &status) != 0) continue;
        files[entry.path().filename().string()] = {static_cast<std::uintmax_t>(status.st_size),
                                                   status.st_ino};
    }
    return files;
}

// What a run wrote as the directory shows it: a file new or replaced, whole; one that grew, what
// it grew by (temporary files and a .pending written and removed again do not show).
std::uintmax_t BytesWrittenBetween(const DirFiles& before, const DirFiles& after) {
    std::uintmax_t bytes = 0;
    for (const auto& [name, file] : after) {
        auto was = before.find(name);
        if (was == before.end() || was->second.second != file.second) {
            bytes += file.first;
        } else if (file.first > was->second.first) {
            bytes += file.first - was->second.first;
        }
    }
    return bytes;
}

// What this process spent across a run: its calls and CPU, and its peak memory beyond what it
// held before.
struct Spent {
    double seconds = 0;
    bench::Sample used;
    long peakKb = 0;
};

std::size_t Answered(const std::vector<vudaduv::transport::ScaleResult>& results) {
    std::size_t answered = 0;
    for (const auto& result : results) answered += result.replies.size();
    return answered;
}

// The read requests of the items of the lines, one command list.
std::vector<std::string> ReadsOf(const std::vector<std::string>& lines) {
    const vudaduv::RecordType& item = vudaduv::RecordTypeOf(1);
    std::vector<std::string> numbers;
    for (const std::string& line : lines) {
        numbers.push_back(
            vudaduv::PadNumericField(std::stoi(line.substr(0, line.find('A'))), item.numberWidth));
    }
    return vudaduv::BuildCommandList(item.partner, numbers, false);
}

// A plain send of the same command list to every scale; what it spent and the lines answered.
Spent PlainSend(const std::vector<std::string>& addresses, const std::vector<std::string>& lines,
                std::size_t& answered) {
    auto commands = std::make_shared<std::vector<std::string>>(lines);
    std::vector<vudaduv::transport::ScaleJob> jobs;
    for (const std::string& address : addresses) jobs.push_back({address, commands});
    Spent spent;
    bench::ResetPeakMemory();  // first: it gives back what the allocator kept
    long residentBefore = bench::StatusKb("VmRSS");
    bench::Meter meter;
    bench::Sample start = meter.Take();
    Clock::time_point began = Clock::now();
    std::vector<vudaduv::transport::ScaleResult> results =
        vudaduv::transport::SendToScales(jobs, vudaduv::transport::SendSettings{});
    spent.seconds = SecondsSince(began);
    spent.used = bench::Between(start, meter.Take());
    spent.peakKb = bench::StatusKb("VmHWM") - residentBefore;
    answered = Answered(results);
    return spent;
}

constexpr std::size_t kPhases = 3;  // reading (pending and probe), reading in full, sending

// What one sync did: its time, its figures summed over the scales, and per phase the scales
// it took, the command lines sent and answered, and when it started.
struct SyncRun {
    double seconds = 0;
    std::size_t sent = 0;
    std::size_t confirmed = 0;
    std::size_t failed = 0;
    std::size_t probed = 0;
    std::size_t differing = 0;
    std::size_t drifted = 0;               // scales read in full for a probe that differed
    std::uintmax_t stateBytesSeen = 0;     // as the state directory shows them
    std::uintmax_t stateBytesCounted = 0;  // as the sync counts them
    std::size_t scales[kPhases] = {};
    std::size_t commands[kPhases] = {};
    std::size_t answered[kPhases] = {};
    double startedAt[kPhases] = {-1, -1, -1};
    double lastDoneAt[kPhases] = {-1, -1, -1};  // the last scale of the phase done
    Spent spent;
    // This process's calls and CPU from the sync's start when each phase started and when its
    // last scale was done.
    bench::Sample atStart[kPhases];
    bench::Sample atLastDone[kPhases];
};

SyncRun RunSync(const WantedList& list, const std::vector<std::string>& addresses,
                const std::string& state, bool readBack, std::size_t probe) {
    SyncRun run;
    std::size_t phase = 0;
    vudaduv::fleet::SyncOptions sync;
    sync.stateDir = state;
    sync.listTypes = {1};
    sync.readBackSent = readBack;
    sync.probe = probe;
    DirFiles filesBefore = FilesOf(state);
    bench::ResetPeakMemory();  // first: it gives back what the allocator kept
    long residentBefore = bench::StatusKb("VmRSS");
    bench::Meter meter;
    bench::Sample first = meter.Take();
    Clock::time_point start = Clock::now();
    sync.phaseStarted = [&](SyncPhase started, std::size_t scales, std::size_t commands) {
        phase = static_cast<std::size_t>(started);
        run.scales[phase] += scales;
        run.commands[phase] += commands;
        run.startedAt[phase] = SecondsSince(start);
        run.atStart[phase] = bench::Between(first, meter.Take());
    };
    sync.observer.scaleDone = [&](std::size_t, const vudaduv::transport::ScaleResult& result) {
        run.answered[phase] += result.answered;
        run.lastDoneAt[phase] = SecondsSince(start);
        run.atLastDone[phase] = bench::Between(first, meter.Take());
    };
    vudaduv::fleet::SyncResult result = vudaduv::fleet::Sync(list, addresses, sync);
    run.seconds = SecondsSince(start);
    run.spent.seconds = run.seconds;
    run.spent.used = bench::Between(first, meter.Take());
    run.spent.peakKb = bench::StatusKb("VmHWM") - residentBefore;
    if (!result.error.empty()) std::fprintf(stderr, "bench_sync: %s\n", result.error.c_str());
    run.stateBytesSeen = BytesWrittenBetween(filesBefore, FilesOf(state));
    run.stateBytesCounted = result.stateBytesWritten;
    for (const auto& scale : result.scales) {
        run.sent += scale.sent;
        run.confirmed += scale.confirmed;
        run.failed += scale.failure.empty() ? 0 : 1;
        run.probed += scale.probed;
        run.differing += scale.differing;
        run.drifted += scale.status == vudaduv::fleet::SyncStatus::kDriftRepaired ? 1 : 0;
    }
    return run;
}

double PerScale(std::size_t count, std::size_t scales) {
    return scales == 0 ? 0.0 : static_cast<double>(count) / static_cast<double>(scales);
}

// The figures of a sync: records, the probe, and command lines a scale, phase by phase.
void PrintCounts(const SyncRun& run, std::size_t scales) {
    std::printf(
        "    %zu records sent, %zu confirmed, %zu scales failed; probe: %zu slots read, "
        "%zu differing, %zu scales read in full\n",
        run.sent, run.confirmed, run.failed, run.probed, run.differing, run.drifted);
    const char* names[kPhases] = {"probe reads", "reads in full", "writes and read-backs"};
    std::printf("    command lines answered a scale:");
    for (std::size_t p = 0; p < kPhases; ++p) {
        std::printf("%s %.1f %s", p == 0 ? "" : ",", PerScale(run.answered[p], scales), names[p]);
    }
    std::printf(" (of %zu, %zu, %zu sent in all)\n", run.commands[0], run.commands[1],
                run.commands[2]);
    // Where the time went: the exchanges (from their start to the last scale done) and the
    // rest (the state read, the plan, the images written and flushed).
    double exchanges = 0;
    for (std::size_t p = 0; p < kPhases; ++p) {
        if (run.startedAt[p] >= 0 && run.lastDoneAt[p] >= 0) {
            exchanges += run.lastDoneAt[p] - run.startedAt[p];
        }
    }
    std::printf(
        "    time: %.2f s before the first exchange, %.2f s in the exchanges, %.2f s after the "
        "last\n",
        run.startedAt[0] >= 0 ? run.startedAt[0] : 0.0, exchanges,
        run.seconds - std::max({run.lastDoneAt[0], run.lastDoneAt[1], run.lastDoneAt[2], 0.0}));
}

// Where this process's calls and system CPU went: before the first exchange (the
// state read, the plan), in the exchanges (from a phase's start to its last scale
// done), between them, and after the last (the new images written and flushed); per
// record sent, or per scale when none was.
void PrintWhereTheCallsWent(const SyncRun& run, std::size_t scales) {
    bench::Sample before, exchanges, after;
    bool any = false;
    for (std::size_t p = 0; p < kPhases; ++p) {
        if (run.startedAt[p] < 0 || run.lastDoneAt[p] < 0) continue;
        if (!any) before = run.atStart[p];
        any = true;
        bench::Sample in = bench::Between(run.atStart[p], run.atLastDone[p]);
        exchanges.calls += in.calls;
        exchanges.systemSeconds += in.systemSeconds;
        after = bench::Between(run.atLastDone[p], run.spent.used);
    }
    if (!any) after = run.spent.used;
    bench::Sample between;
    between.calls = run.spent.used.calls - before.calls - exchanges.calls - after.calls;
    between.systemSeconds = run.spent.used.systemSeconds - before.systemSeconds -
                            exchanges.systemSeconds - after.systemSeconds;
    double per = static_cast<double>(run.sent > 0 ? run.sent : scales);
    const char* unit = run.sent > 0 ? "record" : "scale";
    std::printf(
        "    system calls a %s: %.2f before the first exchange, %.2f in the "
        "exchanges, %.2f "
        "between them, %.2f after the last (%.2f in all)\n",
        unit, static_cast<double>(before.calls) / per, static_cast<double>(exchanges.calls) / per,
        static_cast<double>(between.calls) / per, static_cast<double>(after.calls) / per,
        static_cast<double>(run.spent.used.calls) / per);
    std::printf(
        "    system CPU: %.0f ms before, %.0f ms in the exchanges, %.0f ms "
        "between, %.0f ms "
        "after (%.0f ms in all; user %.0f ms)\n",
        before.systemSeconds * 1e3, exchanges.systemSeconds * 1e3, between.systemSeconds * 1e3,
        after.systemSeconds * 1e3, run.spent.used.systemSeconds * 1e3,
        run.spent.used.userSeconds * 1e3);
}

// One row of the table: a run's time, calls and CPU per record (per scale when none
// was sent), its calls over the plain send's and the client's peak memory a scale
// beyond the images.
struct TableRow {
    std::string name;
    Spent spent;
    std::size_t records = 0;
    double callsRatio = 0;  // 0: no ratio
    double imagesKb = 0;
};

double CallsPer(const Spent& spent, std::size_t count) {
    return count == 0 ? 0 : static_cast<double>(spent.used.calls) / static_cast<double>(count);
}

double KbPerScale(const TableRow& row, std::size_t scales) {
    return (static_cast<double>(row.spent.peakKb) - row.imagesKb) / static_cast<double>(scales);
}

void PrintTable(const std::vector<TableRow>& rows, std::size_t scales, bool counting) {
    std::printf(
        "\n| run | wall (s) | calls/record | calls/scale | calls / plain send's | CPU/record (us) "
        "| system CPU (ms) | peak kB/scale beyond the images |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const TableRow& row : rows) {
        double cpu = row.spent.used.userSeconds + row.spent.used.systemSeconds;
        std::string calls = "-", callsPerScale = "-", ratio = "-", perRecord = "-";
        char text[32];
        if (counting) {
            std::snprintf(text, sizeof text, "%.1f", CallsPer(row.spent, scales));
            callsPerScale = text;
        }
        if (counting && row.records > 0) {
            std::snprintf(text, sizeof text, "%.2f", CallsPer(row.spent, row.records));
            calls = text;
        }
        if (counting && row.callsRatio > 0) {
            std::snprintf(text, sizeof text, "%.3fx", row.callsRatio);
            ratio = text;
        }
        if (row.records > 0) {
            std::snprintf(text, sizeof text, "%.1f", cpu * 1e6 / static_cast<double>(row.records));
            perRecord = text;
        }
        std::printf("| %s | %.2f | %s | %s | %s | %s | %.0f | %.1f |\n", row.name.c_str(),
                    row.spent.seconds, calls.c_str(), callsPerScale.c_str(), ratio.c_str(),
                    perRecord.c_str(), row.spent.used.systemSeconds * 1e3, KbPerScale(row, scales));
    }
}

// The aims beside what was measured.
void PrintGoal(const TableRow& row, double callsGoal, std::size_t scales, bool counting) {
    if (counting) {
        std::printf("%s: calls per record %.3fx the plain send's (goal <= %.1fx): %s\n",
                    row.name.c_str(), row.callsRatio, callsGoal,
                    row.callsRatio <= callsGoal ? "met" : "not met");
    }
    double kb = KbPerScale(row, scales);
    std::printf(
        "%s: peak memory %.1f kB a scale beyond %.0f kB of images (goal <= %.0f): "
        "%s\n",
        row.name.c_str(), kb, row.imagesKb, kKbPerScaleGoal,
        kb <= kKbPerScaleGoal ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        long value = std::strtol(argv[i + 1], nullptr, 10);
        if (name == "--scales") settings.scales = static_cast<std::size_t>(value);
        if (name == "--delay") settings.delayMs = static_cast<int>(value);
        if (name == "--items") settings.items = static_cast<int>(value);
        if (name == "--changed") settings.changed = static_cast<int>(value);
        if (name == "--probe") settings.probe = static_cast<std::size_t>(value);
        if (name == "--pull-scales") settings.pullScales = static_cast<std::size_t>(value);
        if (name == "--state") settings.state = argv[i + 1];
    }
    if (settings.scales == 0) {
        std::fprintf(stderr, "bench_sync: --scales must be at least 1\n");
        return 2;
    }
    std::vector<std::string> before = Items(settings.items, 0, "");
    std::vector<std::string> today = Items(settings.items, settings.changed, "New");
    WantedList list = vudaduv::fleet::WantedOfDataLines(1, false, today);
    std::vector<std::string> changedLines;
    for (std::size_t i = 0; i < today.size(); ++i) {
        if (today[i] != before[i]) changedLines.push_back(today[i]);
    }
    // The probe's round trips: its records and one empty slot, one reply each.
    double probeSeconds =
        settings.probe == 0 ? 0.0 : (settings.probe + 1) * settings.delayMs / 1000.0;
    std::printf("%zu scales, %d ms a reply, %d items, %zu changed, probe %zu (%.2f s)\n",
                settings.scales, settings.delayMs, settings.items, changedLines.size(),
                settings.probe, probeSeconds);
    bench::Meter probe;
    if (!probe.Counting()) std::printf("system calls not counted: %s\n", probe.WhyNot().c_str());
    const std::string state = settings.state;
    std::size_t records = changedLines.size() * settings.scales;
    // The images a sync holds at most: the state's (every scale's alike) and the list's.
    double imagesKb =
        static_cast<double>(ImageText(before).size() + ImageText(today).size()) / 1024.0;
    std::vector<TableRow> rows;
    bench::ScaleProcess fleet;

    // A plain send of the changed lines, then of the changed lines and their reads: what the
    // two syncs send each scale, without the probe.
    std::vector<std::string> writes = vudaduv::BuildCommandList(1, changedLines, false);
    std::vector<std::string> writesAndReads = writes;
    for (const std::string& read : ReadsOf(changedLines)) writesAndReads.push_back(read);
    double plainSeconds[2] = {};
    for (int withReads = 0; withReads < 2; ++withReads) {
        if (!Prefill(fleet, settings.scales, settings.delayMs, before, state)) return 1;
        std::size_t answered = 0;
        Spent spent = PlainSend(fleet.Addresses(), withReads ? writesAndReads : writes, answered);
        plainSeconds[withReads] = spent.seconds;
        std::printf("plain send of the changed lines%s: %.2f s, %.1f command lines a scale\n",
                    withReads ? " and their reads" : "", plainSeconds[withReads],
                    PerScale(answered, settings.scales));
        rows.push_back({withReads ? "plain send of the changed lines and their reads"
                                  : "plain send of the changed lines",
                        spent, records, 0, 0});
    }
    double plainCalls = CallsPer(rows[0].spent, records);
    if (plainCalls > 0) rows[1].callsRatio = CallsPer(rows[1].spent, records) / plainCalls;

    std::vector<std::pair<std::size_t, double>> goals;   // rows and their calls' goals
    std::vector<std::pair<std::string, SyncRun>> syncs;  // for the bytes written
    for (bool readBack : {false, true}) {
        if (!Prefill(fleet, settings.scales, settings.delayMs, before, state)) return 1;
        SyncRun run = RunSync(list, fleet.Addresses(), state, readBack, settings.probe);
        double reference = plainSeconds[readBack ? 1 : 0];
        double goal = 1.2 * reference + probeSeconds;
        std::printf(
            "sync%s, %zu changed, probe %zu: %.2f s (goal <= %.2f s: 1.2 x %.2f + %.2f; "
            "%.2fx the plain send, %.2fx the goal)\n",
            readBack ? " with read-back" : " confirmed by the answers", changedLines.size(),
            settings.probe, run.seconds, goal, reference, probeSeconds, run.seconds / reference,
            run.seconds / goal);
        PrintCounts(run, settings.scales);
        if (probe.Counting()) PrintWhereTheCallsWent(run, settings.scales);
        TableRow row{readBack ? "sync with read-back" : "sync confirmed by the answers", run.spent,
                     run.sent, 0, imagesKb};
        if (plainCalls > 0) row.callsRatio = CallsPer(run.spent, run.sent) / plainCalls;
        goals.emplace_back(rows.size(), readBack ? kCallsGoalWithReadBack : kCallsGoal);
        syncs.emplace_back(row.name, run);
        rows.push_back(row);
    }

    // Scales that hold the list already, and a state that says so: the probe is the run.
    if (!Prefill(fleet, settings.scales, settings.delayMs, today, state)) return 1;
    SyncRun same = RunSync(list, fleet.Addresses(), state, true, settings.probe);
    double goal = probeSeconds + 1.0;
    std::printf(
        "sync, nothing changed, probe %zu: %.2f s (goal <= %.2f s: %.2f + 1; %.2fx the goal)\n",
        settings.probe, same.seconds, goal, probeSeconds, same.seconds / goal);
    PrintCounts(same, settings.scales);
    if (probe.Counting()) PrintWhereTheCallsWent(same, settings.scales);
    rows.push_back({"sync, nothing changed", same.spent, 0, 0, imagesKb});
    syncs.emplace_back("sync, nothing changed", same);

    PrintTable(rows, settings.scales, probe.Counting());
    std::printf("\n");
    for (const auto& [row, callsGoal] : goals) {
        PrintGoal(rows[row], callsGoal, settings.scales, probe.Counting());
    }
    // The changed records' upload lines, on every scale.
    std::uintmax_t lineBytes = 0;
    {
        vudaduv::fleet::Image old =
            vudaduv::fleet::ImageOf(vudaduv::fleet::WantedOfDataLines(1, false, before));
        for (const auto& record : vudaduv::fleet::ImageOf(list)) {
            auto was = old.find(record.first);
            if (was == old.end() || was->second != record.second) {
                lineBytes += record.second.size() + 1;
            }
        }
        lineBytes *= settings.scales;
    }
    std::printf(
        "\n| run | state bytes written (directory) | (counted by the sync) | changed "
        "upload lines' bytes | ratio | goal: <= 4x + 256 B a scale |\n"
        "|---|---:|---:|---:|---:|---|\n");
    for (const auto& [name, run] : syncs) {
        bool changed = name != "sync, nothing changed";
        std::uintmax_t lines = changed ? lineBytes : 0;
        std::uintmax_t written = std::max(run.stateBytesSeen, run.stateBytesCounted);
        double ratio = lines == 0 ? 0.0 : static_cast<double>(written) / static_cast<double>(lines);
        std::printf("| %s | %ju | %ju | %ju | %.2fx | %s |\n", name.c_str(), run.stateBytesSeen,
                    run.stateBytesCounted, lines, ratio,
                    written <= 4 * lines + 256 * settings.scales ? "met" : "not met");
    }
    std::fflush(stdout);

    // Every slot of one scale, then of every scale at once (--pull-scales 0 leaves it out).
    if (settings.pullScales == 0) {
        fleet.Stop();
        std::filesystem::remove_all(state);
        return 0;
    }
    if (!Prefill(fleet, settings.pullScales, settings.delayMs, today, state)) return 1;
    std::vector<vudaduv::fleet::RecordKey> slots =
        vudaduv::fleet::SlotsOf(vudaduv::fleet::PullRequest{});
    const std::vector<std::string>& pullAddresses = fleet.Addresses();
    Clock::time_point start = Clock::now();
    auto one = vudaduv::fleet::Pull({pullAddresses[0]}, slots, false, {});
    double oneSeconds = SecondsSince(start);
    start = Clock::now();
    auto all = vudaduv::fleet::Pull(pullAddresses, slots, false, {});
    double allSeconds = SecondsSince(start);
    std::size_t pulled = 0;
    for (const auto& scale : all) pulled += scale.image.size();
    std::printf(
        "pull of %zu slots: one scale %.2f s (%zu records); %zu scales %.2f s "
        "(%.2fx, %zu records)\n",
        slots.size(), oneSeconds, one[0].image.size(), pullAddresses.size(), allSeconds,
        allSeconds / oneSeconds, pulled);
    fleet.Stop();
    std::filesystem::remove_all(state);
    return 0;
}
