// The sync over serial lines at their limit, run by hand (POSIX):
//   bench_serial [--baud B] [--scales N] [--items N] [--changed K] [--probe N] [--delay MS]
//                [--first]
// Scales on pseudo-terminals paced as lines at B baud (9600 by default; 10 bits a byte, each
// way), each holding the items (and the state says so) before the runs. Then: a sync of K
// changed records (sent and read back), and a sync to scales that already hold the list (the
// probe alone). Each beside its goal: the time the line needs for the bytes the run moved
// (command lines and replies, counted at the scale) times 1.1, plus the scale's reply delays;
// for the probe, that is (probe + 1) commands' worth. With --first, last, a first sync to a
// scale of which the state knows nothing: every slot of the items is read.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "virtual_scale.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fleet = vudaduv::fleet;
namespace scale = vudaduv::scale;

constexpr double kGoal = 1.1;  // the time a run may take over its bytes' time on the line
constexpr double kBitsPerByte = 10;

struct Settings {
    std::uint32_t baud = 9600;
    std::size_t scales = 1;
    int items = 400;
    int changed = 20;
    std::size_t probe = 8;
    int delayMs = 0;
    bool first = false;
    std::string state = "bench-serial-state";
};

bool ReadSettings(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--first") {
            settings.first = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        long value = std::strtol(argv[++i], nullptr, 10);
        if (value < 0) return false;
        if (name == "--baud" && value > 0) {
            settings.baud = static_cast<std::uint32_t>(value);
        } else if (name == "--scales" && value > 0) {
            settings.scales = static_cast<std::size_t>(value);
        } else if (name == "--items" && value > 0 && value <= 4000) {
            settings.items = static_cast<int>(value);
        } else if (name == "--changed") {
            settings.changed = static_cast<int>(value);
        } else if (name == "--probe") {
            settings.probe = static_cast<std::size_t>(value);
        } else if (name == "--delay") {
            settings.delayMs = static_cast<int>(value);
        } else {
            return false;
        }
    }
    settings.changed = std::min(settings.changed, settings.items);
    return true;
}

std::vector<std::string> Items(int count, int changed) {
    std::vector<std::string> lines;
    int step = changed > 0 ? std::max(1, count / changed) : 0;
    for (int i = 1; i <= count; ++i) {
        bool isChanged = step > 0 && (i - 1) % step == 0 && (i - 1) / step < changed;
        lines.push_back(std::to_string(i) + "A" + std::to_string(i % 97) + ",1##" +
                        (isChanged ? "New" : "Item") + std::to_string(i));
    }
    return lines;
}

// Scales on paced pseudo-terminals, each holding lines.
struct Lines {
    std::vector<std::unique_ptr<scale::ScaleMemory>> memories;
    std::vector<std::unique_ptr<scale::PtyScaleServer>> servers;
    std::vector<std::string> addresses;

    std::uint64_t BytesCarried() const {
        std::uint64_t bytes = 0;
        for (const auto& server : servers) bytes += server->BytesCarried();
        return bytes;
    }
};

bool StartLines(const Settings& settings, const std::vector<std::string>& lines, Lines& started) {
    scale::LinePace pace;
    pace.baud = settings.baud;
    pace.replyDelay = std::chrono::milliseconds(settings.delayMs);
    for (std::size_t i = 0; i < settings.scales; ++i) {
        started.memories.push_back(std::make_unique<scale::ScaleMemory>());
        for (std::string command : vudaduv::BuildCommandList(1, lines, false)) {
            started.memories.back()->Answer(command.substr(0, command.size() - 2));
        }
        started.servers.push_back(
            std::make_unique<scale::PtyScaleServer>(*started.memories.back(), pace));
        std::string error;
        if (!started.servers.back()->Start(error)) {
            std::fprintf(stderr, "bench_serial: %s\n", error.c_str());
            return false;
        }
        started.addresses.push_back("serial:" + started.servers.back()->DevicePath() + "@" +
                                    std::to_string(settings.baud));
    }
    return true;
}

// A state image of each scale that says it holds lines, or none at all (empty false: no file).
bool WriteState(const Settings& settings, const Lines& started,
                const std::vector<std::string>& lines, bool known) {
    std::filesystem::remove_all(settings.state);
    std::filesystem::create_directories(settings.state);
    if (!known) return true;
    std::string image =
        fleet::WriteImage(fleet::ImageOf(fleet::WantedOfDataLines(1, false, lines)));
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& address : started.addresses) {
        files.emplace_back(fleet::ImageFileName(address, 0), image);
    }
    std::string error;
    if (!fleet::WriteFilesAllOrNothing(settings.state, files, error)) {
        std::fprintf(stderr, "bench_serial: %s\n", error.c_str());
        return false;
    }
    return true;
}

struct Run {
    double seconds = 0;
    std::uint64_t bytes = 0;
    std::size_t answered = 0;  // command lines, all scales
    std::size_t sent = 0;
    std::size_t failed = 0;
};

Run Sync(const Settings& settings, const Lines& started, const std::vector<std::string>& lines) {
    fleet::SyncOptions sync;
    sync.stateDir = settings.state;
    sync.listTypes = {1};
    sync.probe = settings.probe;
    Run run;
    sync.observer.scaleDone = [&run](std::size_t, const vudaduv::transport::ScaleResult& result) {
        run.answered += result.answered;
    };
    std::uint64_t before = started.BytesCarried();
    Clock::time_point start = Clock::now();
    fleet::SyncResult result =
        fleet::Sync(fleet::WantedOfDataLines(1, false, lines), started.addresses, sync);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.bytes = started.BytesCarried() - before;
    if (!result.error.empty()) std::fprintf(stderr, "bench_serial: %s\n", result.error.c_str());
    for (const auto& scale : result.scales) {
        run.sent += scale.sent;
        run.failed += scale.failure.empty() ? 0 : 1;
    }
    return run;
}

// A run beside its goal: the line's time for its bytes (one scale's share: the lines run side by
// side) times 1.1, plus the reply delays.
void Print(const char* name, const Run& run, const Settings& settings, double goal) {
    double perScaleBytes = static_cast<double>(run.bytes) / static_cast<double>(settings.scales);
    double lineSeconds = perScaleBytes * kBitsPerByte / settings.baud;
    std::printf(
        "%s: %.0f bytes a scale (%zu command lines in all, %zu records sent, %zu scales "
        "failed)\n"
        "    %.2f s; the line needs %.2f s for those bytes: %.2fx; goal %.2f s (%s)\n",
        name, perScaleBytes, run.answered, run.sent, run.failed, run.seconds, lineSeconds,
        lineSeconds > 0 ? run.seconds / lineSeconds : 0.0, goal,
        run.seconds <= goal ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ReadSettings(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: bench_serial [--baud B] [--scales N] [--items N] [--changed K] "
                     "[--probe N] [--delay MS] [--first]\n");
        return 2;
    }
    std::vector<std::string> held = Items(settings.items, 0);
    std::vector<std::string> wanted = Items(settings.items, settings.changed);
    Lines lines;
    if (!StartLines(settings, held, lines) || !WriteState(settings, lines, held, true)) return 1;
    std::printf(
        "%zu scale(s) on pseudo-terminals at %u baud, %d items, %d changed, probe %zu, "
        "reply delay %d ms\n",
        settings.scales, settings.baud, settings.items, settings.changed, settings.probe,
        settings.delayMs);
    double delay = settings.delayMs / 1000.0;
    auto lineTime = [&](const Run& run) {
        return static_cast<double>(run.bytes) / static_cast<double>(settings.scales) *
               kBitsPerByte / settings.baud;
    };
    auto commandsPerScale = [&](const Run& run) {
        return static_cast<double>(run.answered) / static_cast<double>(settings.scales);
    };

    Run changed = Sync(settings, lines, wanted);
    Print("sync of the changed records", changed, settings,
          kGoal * lineTime(changed) + commandsPerScale(changed) * delay);

    // Nothing to change: the probe alone, (probe + 1) commands of its size.
    Run probe = Sync(settings, lines, wanted);
    double perCommand = commandsPerScale(probe) > 0
                            ? kGoal * lineTime(probe) / commandsPerScale(probe) + delay
                            : 0.0;
    Print("probe of scales in step", probe, settings,
          static_cast<double>(settings.probe + 1) * perCommand);

    if (settings.first) {
        if (!WriteState(settings, lines, held, false)) return 1;
        Run first = Sync(settings, lines, wanted);
        Print("first sync (every slot read)", first, settings,
              kGoal * lineTime(first) + commandsPerScale(first) * delay);
    }
    for (const auto& server : lines.servers) server->Stop();
    std::filesystem::remove_all(settings.state);
    return 0;
}
