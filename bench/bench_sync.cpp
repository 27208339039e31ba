// The sync against a plain send, and a fleet's pull against one scale's, on virtual scales in
// this process; run by hand:
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
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "virtual_scale.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"

namespace {

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

std::vector<std::string> Addresses(const vudaduv::scale::ScaleFleet& fleet, std::size_t count) {
    std::vector<std::string> addresses;
    for (std::size_t i = 0; i < count; ++i) {
        addresses.push_back("127.0.0.1:" + std::to_string(fleet.Ports()[i]));
    }
    return addresses;
}

// Every scale and its state image hold the list, without the network. The images are on disk
// before the clock starts: the sync's one flush is not charged with the setup's writes. The
// state says what the scales hold, record for record, so the probe finds no drift.
void Prefill(vudaduv::scale::ScaleFleet& fleet, const std::vector<std::string>& addresses,
             const std::vector<std::string>& lines, const std::string& stateDir) {
    std::vector<std::string> commands = vudaduv::BuildCommandList(1, lines, false);
    std::string image = vudaduv::fleet::WriteImage(
        vudaduv::fleet::ImageOf(vudaduv::fleet::WantedOfDataLines(1, false, lines)));
    std::filesystem::remove_all(stateDir);
    std::filesystem::create_directories(stateDir);
    std::vector<std::pair<std::string, std::string>> files;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        for (const std::string& command : commands) {
            fleet.Memory(i).Answer(command.substr(0, command.size() - 2));
        }
        files.emplace_back(vudaduv::fleet::ImageFileName(addresses[i], 0), image);
    }
    std::string error;
    if (!vudaduv::fleet::WriteFilesAllOrNothing(stateDir, files, error)) {
        std::fprintf(stderr, "bench_sync: %s\n", error.c_str());
    }
}

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

// A plain send of the same command list to every scale; its seconds and the lines answered.
double PlainSend(const std::vector<std::string>& addresses, const std::vector<std::string>& lines,
                 std::size_t& answered) {
    auto commands = std::make_shared<std::vector<std::string>>(lines);
    std::vector<vudaduv::transport::ScaleJob> jobs;
    for (const std::string& address : addresses) jobs.push_back({address, commands});
    Clock::time_point start = Clock::now();
    std::vector<vudaduv::transport::ScaleResult> results =
        vudaduv::transport::SendToScales(jobs, vudaduv::transport::SendSettings{});
    double seconds = SecondsSince(start);
    answered = Answered(results);
    return seconds;
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
    std::size_t drifted = 0;  // scales read in full for a probe that differed
    std::size_t scales[kPhases] = {};
    std::size_t commands[kPhases] = {};
    std::size_t answered[kPhases] = {};
    double startedAt[kPhases] = {-1, -1, -1};
    double lastDoneAt[kPhases] = {-1, -1, -1};  // the last scale of the phase done
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
    Clock::time_point start = Clock::now();
    sync.phaseStarted = [&](SyncPhase started, std::size_t scales, std::size_t commands) {
        phase = static_cast<std::size_t>(started);
        run.scales[phase] += scales;
        run.commands[phase] += commands;
        run.startedAt[phase] = SecondsSince(start);
    };
    sync.observer.scaleDone = [&](std::size_t, const vudaduv::transport::ScaleResult& result) {
        run.answered[phase] += result.replies.size();
        run.lastDoneAt[phase] = SecondsSince(start);
    };
    vudaduv::fleet::SyncResult result = vudaduv::fleet::Sync(list, addresses, sync);
    run.seconds = SecondsSince(start);
    if (!result.error.empty()) std::fprintf(stderr, "bench_sync: %s\n", result.error.c_str());
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
    vudaduv::scale::ServerOptions options;
    options.replyDelay = std::chrono::milliseconds(settings.delayMs);
    std::size_t total = std::max(settings.scales, settings.pullScales);
    vudaduv::scale::ScaleFleet fleet(total, options);
    std::string error;
    if (!fleet.Start(error)) {
        std::fprintf(stderr, "bench_sync: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> addresses = Addresses(fleet, settings.scales);
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
    const std::string state = settings.state;

    // A plain send of the changed lines, then of the changed lines and their reads: what the
    // two syncs send each scale, without the probe.
    std::vector<std::string> writes = vudaduv::BuildCommandList(1, changedLines, false);
    std::vector<std::string> writesAndReads = writes;
    for (const std::string& read : ReadsOf(changedLines)) writesAndReads.push_back(read);
    double plainSeconds[2] = {};
    for (int withReads = 0; withReads < 2; ++withReads) {
        Prefill(fleet, addresses, before, state);
        std::size_t answered = 0;
        plainSeconds[withReads] =
            PlainSend(addresses, withReads ? writesAndReads : writes, answered);
        std::printf("plain send of the changed lines%s: %.2f s, %.1f command lines a scale\n",
                    withReads ? " and their reads" : "", plainSeconds[withReads],
                    PerScale(answered, settings.scales));
    }

    for (bool readBack : {false, true}) {
        Prefill(fleet, addresses, before, state);
        SyncRun run = RunSync(list, addresses, state, readBack, settings.probe);
        double reference = plainSeconds[readBack ? 1 : 0];
        double goal = 1.2 * reference + probeSeconds;
        std::printf(
            "sync%s, %zu changed, probe %zu: %.2f s (goal <= %.2f s: 1.2 x %.2f + %.2f; "
            "%.2fx the plain send, %.2fx the goal)\n",
            readBack ? " with read-back" : " confirmed by the answers", changedLines.size(),
            settings.probe, run.seconds, goal, reference, probeSeconds, run.seconds / reference,
            run.seconds / goal);
        PrintCounts(run, settings.scales);
    }

    // Scales that hold the list already, and a state that says so: the probe is the run.
    Prefill(fleet, addresses, today, state);
    SyncRun same = RunSync(list, addresses, state, true, settings.probe);
    double goal = probeSeconds + 1.0;
    std::printf(
        "sync, nothing changed, probe %zu: %.2f s (goal <= %.2f s: %.2f + 1; %.2fx the goal)\n",
        settings.probe, same.seconds, goal, probeSeconds, same.seconds / goal);
    PrintCounts(same, settings.scales);

    // Every slot of one scale, then of every scale at once (--pull-scales 0 leaves it out).
    if (settings.pullScales == 0) {
        std::filesystem::remove_all(state);
        return 0;
    }
    std::vector<vudaduv::fleet::RecordKey> slots =
        vudaduv::fleet::SlotsOf(vudaduv::fleet::PullRequest{});
    std::vector<std::string> pullAddresses = Addresses(fleet, settings.pullScales);
    Clock::time_point start = Clock::now();
    auto one = vudaduv::fleet::Pull({pullAddresses[0]}, slots, false, {});
    double oneSeconds = SecondsSince(start);
    start = Clock::now();
    auto all = vudaduv::fleet::Pull(pullAddresses, slots, false, {});
    double allSeconds = SecondsSince(start);
    std::size_t records = 0;
    for (const auto& scale : all) records += scale.image.size();
    std::printf(
        "pull of %zu slots: one scale %.2f s (%zu records); %zu scales %.2f s "
        "(%.2fx, %zu records)\n",
        slots.size(), oneSeconds, one[0].image.size(), pullAddresses.size(), allSeconds,
        allSeconds / oneSeconds, records);
    std::filesystem::remove_all(state);
    return 0;
}
