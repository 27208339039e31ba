// vudaduv sync: every scale brought to hold a list, sending each only what differs.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "check_report.h"
#include "commands.h"
#include "common_options.h"
#include "fleet_options.h"
#include "os.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "sync";

constexpr OptionSpec kStateOption{"state", true, false};
constexpr OptionSpec kRemoveOption{"remove-missing", false, false};
constexpr OptionSpec kReadBackOption{"read-back", false, false};
constexpr OptionSpec kDryRunOption{"dry-run", false, false};
constexpr OptionSpec kAcceptOption{"accept-changes", false, false};
constexpr OptionSpec kReportOption{"report", true, false};

std::string SyncHelp() {
    return std::string(
               "Usage: vudaduv sync --file LIST [--type N] (--target ADDR... |\n"
               "                    --targets-file F) --state DIR [--remove-missing]\n"
               "                    [--read-back] [--dry-run] [--accept-changes]\n"
               "                    [--report json:FILE] [--en] [--charset CS]\n"
               "                    [--timeout MS] [--retries N]\n"
               "\n"
               "Brings every scale to hold LIST, all scales at once. What a scale holds is\n"
               "its image in DIR from the last sync (read from the scale when DIR has none,\n"
               "or with --read-back); only records that differ are sent, then read back, and\n"
               "DIR's image takes in only records that came back as the check foresaw. A run\n"
               "that ended early (a kill, a power cut, a failed scale) is finished by the\n"
               "next. A second sync on DIR stops, naming the first.\n"
               "\n"
               "  --file LIST       data lines of record type N (with --type) or a scale image\n"
               "  --type N          LIST holds data lines of this stored record type\n"
               "  --state DIR       the images of what each scale holds (made when missing)\n"
               "  --remove-missing  empty the records that a scale holds and LIST lacks, of\n"
               "                    LIST's record types: the empty item NNNNA (an empty\n"
               "                    message, empty label texts), the only removal the scales\n"
               "                    know; type 7 data and the key table are never removed\n"
               "  --read-back       read what the scales hold instead of trusting DIR\n"
               "  --dry-run         print what would be sent and removed; send nothing\n"
               "  --accept-changes  sync also when the check finds lines that would change\n"
               "  --report json:FILE  every scale's figures as JSON\n"
               "  --en              code-page text (three digits a character)\n"
               "  --charset CS      LIST is in CS (default: the locale's)\n") +
           kFleetOptionsHelp +
           "  -h, --help        this help\n"
           "\n"
           "Output: one line a scale, 'ADDR: sent N, unchanged M, removed K' or its\n"
           "failure and cause, then a summary.\n"
           "\n"
           "Exit status: 0 every scale holds LIST, 1 a scale failed or did not confirm\n"
           "what it was sent, DIR is held by another sync, or the report could not be\n"
           "written, 2 bad arguments, 3 a file could not be read, 4 the check found lines\n"
           "that would not arrive as written (nothing sent).\n";
}

// LIST as records, its record types, and the check's verdict; kExitOk or the exit status.
int LoadList(const ParsedArgs& parsed, bool en, const std::string& charset, fleet::WantedList& list,
             std::vector<uint32_t>& types) {
    std::string error;
    std::string path = parsed.Value(kFileOption.name);
    CheckReport report;
    std::size_t lineCount = 0;
    if (parsed.Has(kTypeOption.name)) {
        uint32_t type = 0;
        if (!ReadRecordType(parsed, type, error)) return UsageError(kCommand, error);
        if (RecordTypeOf(type).role != RecordRole::kStores) {
            return UsageError(kCommand, "--type wants a stored record type (" +
                                            RecordTypesWithRole(RecordRole::kStores) + ")");
        }
        if (parsed.Has(kRemoveOption.name) && type != 1) {
            return UsageError(kCommand,
                              "--remove-missing wants a list of items (--type 1) or an image");
        }
        DataLines data;
        int status = LoadDataLines(kCommand, parsed, type, charset, data);
        if (status != kExitOk) return status;
        report = CheckAllLines(type, en, data, charset);
        lineCount = data.lines.size();
        list = fleet::WantedOfDataLines(type, en, data.lines);
        types = {type};
    } else {
        ImageLines image;
        int status = LoadImageFile(kCommand, path, charset, image);
        if (status != kExitOk) return status;
        std::set<uint32_t> present(image.types.begin(), image.types.end());
        for (uint32_t type : present) {
            CheckReport one = CheckAllLines(type, en, LinesOfType(image, type), charset);
            report.lines.insert(report.lines.end(), one.lines.begin(), one.lines.end());
            report.changedLines += one.changedLines;
        }
        lineCount = image.types.size();
        list = fleet::WantedOfImage(image.image, en);
        types.assign(present.begin(), present.end());
    }
    for (const std::string& line : report.lines) std::fprintf(stderr, "%s\n", line.c_str());
    if (report.changedLines == 0) return kExitOk;
    bool accept = parsed.Has(kAcceptOption.name);
    std::fprintf(stderr, "vudaduv sync: %zu of %zu line(s) would not arrive as written: %s\n",
                 report.changedLines, lineCount,
                 accept ? "syncing all the same (--accept-changes)"
                        : "nothing sent (--accept-changes syncs anyway)");
    return accept ? kExitOk : kExitChanged;
}

std::string Figures(const fleet::ScaleSync& scale, bool dryRun) {
    std::string would = dryRun ? "would " : "";
    return would + "send " + std::to_string(scale.sent) + ", unchanged " +
           std::to_string(scale.unchanged) + ", " + would + "remove " +
           std::to_string(scale.removed);
}

// One line a scale on stdout, its notes on stderr; with --dry-run, every line it would get.
void PrintScale(const fleet::ScaleSync& scale, bool dryRun, const std::string& charset) {
    for (const std::string& note : scale.notes) {
        std::fprintf(stderr, "vudaduv sync: %s: %s\n", scale.address.c_str(),
                     ShowText(charset, note).c_str());
    }
    if (dryRun) {
        std::printf("%s: %s\n", scale.address.c_str(), Figures(scale, true).c_str());
        for (const std::string& line : scale.toSend) {
            std::printf("  send %s\n", ShowText(charset, line).c_str());
        }
        for (const std::string& line : scale.toRemove) {
            std::printf("  remove %s\n", ShowText(charset, line).c_str());
        }
        return;
    }
    std::string figures = "sent " + std::to_string(scale.sent) + ", unchanged " +
                          std::to_string(scale.unchanged) + ", removed " +
                          std::to_string(scale.removed);
    if (scale.failure.empty()) {
        std::printf("%s: %s\n", scale.address.c_str(), figures.c_str());
    } else {
        std::printf("%s: failed: %s (%s; %zu confirmed)\n", scale.address.c_str(),
                    scale.failure.c_str(), figures.c_str(), scale.confirmed);
    }
}

std::string JsonReport(const fleet::SyncResult& result, uint32_t milliseconds) {
    nlohmann::json scales = nlohmann::json::array();
    std::size_t failed = 0;
    for (const fleet::ScaleSync& scale : result.scales) {
        failed += scale.failure.empty() ? 0 : 1;
        scales.push_back({{"address", scale.address},
                          {"ok", scale.failure.empty()},
                          {"failure", scale.failure},
                          {"sent", scale.sent},
                          {"unchanged", scale.unchanged},
                          {"removed", scale.removed},
                          {"confirmed", scale.confirmed},
                          {"read_from_scale", scale.fromScale}});
    }
    nlohmann::json report = {{"scales", scales},
                             {"served", result.scales.size() - failed},
                             {"failed", failed},
                             {"milliseconds", milliseconds}};
    return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

int RunSync(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(
            kCommand, SyncHelp(), args,
            {kFileOption, kTypeOption, kEnOption, kCharsetOption, kTargetOption, kTargetsFileOption,
             kTimeoutOption, kRetriesOption, kStateOption, kRemoveOption, kReadBackOption,
             kDryRunOption, kAcceptOption, kReportOption},
            parsed, status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    std::string error;
    std::string charset;
    fleet::SyncOptions options;
    options.stateDir = parsed.Value(kStateOption.name);
    std::string report = parsed.Value(kReportOption.name);
    const std::string json = "json:";
    if (!parsed.Has(kFileOption.name)) return UsageError(kCommand, "--file LIST is required");
    if (options.stateDir.empty()) return UsageError(kCommand, "--state DIR is required");
    if (parsed.Has(kReportOption.name) &&
        (report.compare(0, json.size(), json) != 0 || report.size() == json.size())) {
        return UsageError(kCommand, "--report wants json:FILE, not '" + report + "'");
    }
    if (!ReadCharset(parsed, charset, error)) return UsageError(kCommand, error);
    options.en = parsed.Has(kEnOption.name);
    options.removeMissing = parsed.Has(kRemoveOption.name);
    options.readScales = parsed.Has(kReadBackOption.name);
    options.dryRun = parsed.Has(kDryRunOption.name);
    Fleet fleet;
    status = LoadFleet(kCommand, parsed, fleet);
    if (status != kExitOk) return status;
    options.settings = fleet.settings;
    fleet::WantedList list;
    status = LoadList(parsed, options.en, charset, list, options.listTypes);
    if (status != kExitOk) return status;

    CountLine progress(kCommand, "command(s)", fleet.addresses.size(), 0);
    options.observer.lineAnswered = [&progress](std::size_t, std::size_t) { progress.Answered(); };
    options.observer.scaleDone = [&progress](std::size_t, const transport::ScaleResult&) {
        progress.ScaleDone();
    };
    auto start = std::chrono::steady_clock::now();
    fleet::SyncResult result = fleet::Sync(list, fleet.addresses, options);
    progress.End();
    if (!result.error.empty()) {
        std::fprintf(stderr, "vudaduv sync: %s\n", result.error.c_str());
        return kExitFailed;
    }
    std::size_t failed = 0;
    for (const fleet::ScaleSync& scale : result.scales) {
        PrintScale(scale, options.dryRun, charset);
        failed += scale.failure.empty() ? 0 : 1;
    }
    uint32_t milliseconds = MillisecondsSince(start);
    std::printf("%s %zu of %zu scale(s), failed %zu, in %.1f s\n",
                options.dryRun ? "planned" : "synced", result.scales.size() - failed,
                result.scales.size(), failed, milliseconds / 1000.0);
    bool ok = failed == 0;
    if (!report.empty() &&
        !os::WriteAllBytes(report.substr(json.size()), JsonReport(result, milliseconds), error)) {
        std::fprintf(stderr, "vudaduv sync: the report %s could not be written: %s\n",
                     report.substr(json.size()).c_str(), error.c_str());
        ok = false;
    }
    return ok ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
