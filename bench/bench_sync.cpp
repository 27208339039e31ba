// The sync against a plain send, and a fleet's pull against one scale's, on virtual scales in
// this process; run by hand:
//   bench_sync [--scales N] [--delay MS] [--items N] [--changed N] [--pull-scales N]
//              [--state DIR]
// (--pull-scales 0 leaves the pull out; --state puts the state directory on another disk)
// Every scale holds the items (and the state says so) before the runs; then the changed ones
// are sent by a plain send of their lines, by a sync that confirms by the scales' answers, and
// by a sync that reads back what it sent. The records each scale answered are counted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "virtual_scale.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"

namespace {

using Clock = std::chrono::steady_clock;
using vudaduv::fleet::WantedList;

struct Settings {
    std::size_t scales = 1000;
    int delayMs = 20;
    int items = 4000;
    int changed = 200;
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
// before the clock starts: the sync's one flush is not charged with the setup's writes.
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
    std::printf("%zu scales, %d ms a reply, %d items, %zu changed\n", settings.scales,
                settings.delayMs, settings.items, changedLines.size());
    const std::string state = settings.state;

    // A plain send of the changed lines.
    Prefill(fleet, addresses, before, state);
    auto commands = std::make_shared<std::vector<std::string>>(
        vudaduv::BuildCommandList(1, changedLines, false));
    std::vector<vudaduv::transport::ScaleJob> jobs;
    for (const std::string& address : addresses) jobs.push_back({address, commands});
    Clock::time_point start = Clock::now();
    std::vector<vudaduv::transport::ScaleResult> plain =
        vudaduv::transport::SendToScales(jobs, vudaduv::transport::SendSettings{});
    double plainSeconds = SecondsSince(start);
    std::printf("plain send of the changed lines: %.2f s, %zu commands answered\n", plainSeconds,
                Answered(plain));

    for (bool readBack : {false, true}) {
        Prefill(fleet, addresses, before, state);
        vudaduv::fleet::SyncOptions sync;
        sync.stateDir = state;
        sync.listTypes = {1};
        sync.readBackSent = readBack;
        start = Clock::now();
        vudaduv::fleet::SyncResult result = vudaduv::fleet::Sync(list, addresses, sync);
        double seconds = SecondsSince(start);
        std::size_t sent = 0;
        std::size_t confirmed = 0;
        std::size_t failed = 0;
        for (const auto& scale : result.scales) {
            sent += scale.sent;
            confirmed += scale.confirmed;
            failed += scale.failure.empty() ? 0 : 1;
        }
        std::printf(
            "sync%s: %.2f s (%.2fx the plain send), %zu records sent, %zu confirmed, "
            "%zu scales failed\n",
            readBack ? " with read-back" : " confirmed by the answers", seconds,
            seconds / plainSeconds, sent, confirmed, failed);
    }

    // Every slot of one scale, then of every scale at once (--pull-scales 0 leaves it out).
    if (settings.pullScales == 0) {
        std::filesystem::remove_all(state);
        return 0;
    }
    std::vector<vudaduv::fleet::RecordKey> slots =
        vudaduv::fleet::SlotsOf(vudaduv::fleet::PullRequest{});
    std::vector<std::string> pullAddresses = Addresses(fleet, settings.pullScales);
    start = Clock::now();
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
