// vudaduv sync: every scale brought to hold a list, sending each only what differs.
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <utility>

#include "charset.h"
#include "check_report.h"
#include "commands.h"
#include "common_options.h"
#include "fleet_options.h"
#include "html_report.h"
#include "os.h"
#include "stop_request.h"
#include "sync_metrics.h"
#include "sync_plan.h"
#include "sync_report.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "sync";

constexpr OptionSpec kStateOption{"state", true, false};
constexpr OptionSpec kRemoveOption{"remove-missing", false, false};
constexpr OptionSpec kReadBackOption{"read-back", false, false};
constexpr OptionSpec kDryRunOption{"dry-run", false, false};
constexpr OptionSpec kAcceptOption{"accept-changes", false, false};
constexpr OptionSpec kReportOption{"report", true, true};
constexpr OptionSpec kMaxRemoveOption{"max-remove", true, false};
constexpr OptionSpec kProbeOption{"probe", true, false};
constexpr OptionSpec kFailedTargetsOption{"failed-targets", true, false};
constexpr OptionSpec kPlanOutOption{"plan-out", true, false};
constexpr OptionSpec kApplyOption{"apply", true, false};

constexpr uint64_t kMaxProbe = 100000;  // more than any scale holds: every record it holds

std::string SyncHelp() {
    return std::string(
               "Usage: vudaduv sync --file LIST [--type N] (--target ADDR... |\n"
               "                    --targets-file F) --state DIR [--remove-missing\n"
               "                    [--max-remove N|P%|all]] [--probe N] [--read-back]\n"
               "                    [--dry-run] [--accept-changes] [--report json:FILE]\n"
               "                    [--report html:FILE] [--report metrics:FILE]\n"
               "                    [--failed-targets FILE] [--en]\n"
               "                    [--charset CS] [--timeout MS] [--retries N]\n"
               "                    [--dry-run --plan-out PLAN | --apply PLAN]\n"
               "\n"
               "Brings every scale to hold LIST, all scales at once. What a scale holds is\n"
               "its image in DIR from the last sync (read from the scale when DIR has none,\n"
               "or with --read-back); only records that differ are sent, then read back, and\n"
               "DIR's image takes in only records that came back as the check foresaw. A run\n"
               "that ended early (a kill, a power cut, a failed scale, Ctrl-C) is finished\n"
               "by the next. A second sync on DIR stops, naming the first. Every run reaches\n"
               "every scale: a probe reads back a few records DIR says it holds; a scale\n"
               "that does not answer fails, one that holds otherwise (reset, swapped) is\n"
               "read in full and brought in step in the same run.\n"
               "\n"
               "  --file LIST       data lines of record type N (with --type) or a scale image\n"
               "  --type N          LIST holds data lines of this stored record type\n"
               "  --state DIR       the images of what each scale holds (made when missing)\n"
               "  --remove-missing  empty the records that a scale holds and LIST lacks, of\n"
               "                    LIST's record types: the empty item NNNNA (an empty\n"
               "                    message, empty label texts), the only removal the scales\n"
               "                    know; type 7 data and the key table are never removed\n"
               "  --max-remove N|P%|all  the most records a scale may lose in one run: N\n"
               "                    records, P per cent of what it holds of LIST's types,\n"
               "                    or all (default 10%, at least 1); a scale whose plan\n"
               "                    removes more is left untouched, and a LIST with no\n"
               "                    record at all is refused unless 'all'\n"
               "  --probe N         records of each scale's image read back first, drawn\n"
               "                    afresh each run, plus one slot it says is empty\n"
               "                    (default 8; 0: a scale with nothing to change is not\n"
               "                    contacted, and is not checked)\n"
               "  --read-back       read what the scales hold instead of trusting DIR\n"
               "  --dry-run         print what would be sent and removed; send nothing\n"
               "  --plan-out PLAN   with --dry-run: save the plans to PLAN (JSON)\n"
               "  --apply PLAN      send exactly the plans of PLAN; nothing when LIST, a\n"
               "                    scale's state or what it would get changed since\n"
               "  --accept-changes  sync also when the check finds lines that would change;\n"
               "                    a line that cannot be sent (no GBK form, a blank in its\n"
               "                    fields, LIST's last line without a line end) leaves its\n"
               "                    record alone on the scales\n"
               "  --report json:FILE  when the run started and ended, the list, and every\n"
               "                    scale's status, cause and figures as JSON; written as\n"
               "                    the run starts (\"status\": \"running\") and replaced\n"
               "                    when it ends, each time whole\n"
               "  --report html:FILE  the same as one page for a shop manager: a sentence\n"
               "                    on the run, then a table of the scales to sort, filter\n"
               "                    and print\n"
               "  --report metrics:FILE  the run's figures in the Prometheus text format,\n"
               "                    for node_exporter's textfile collector (with the time\n"
               "                    of the last run that left every scale in step)\n"
               "  --failed-targets FILE  the scales that did not end in step (failed,\n"
               "                    refused by --max-remove, interrupted, or every scale\n"
               "                    of a run that stopped before serving them), one a\n"
               "                    line with its name: a --targets-file for the next run\n"
               "                    (an empty file when every scale ended in step)\n"
               "  --en              code-page text (three digits a character)\n"
               "  --charset CS      LIST is in CS (default: the locale's)\n") +
           kFleetOptionsHelp +
           "  -h, --help        this help\n"
           "\n"
           "Output: one line a scale, 'ADDR: sent N, unchanged M, removed K' (what it\n"
           "confirmed; 'ADDR (NAME): ...' for a scale named in --targets-file),\n"
           "'drift: ...' before those figures when its probe differed, or its refusal,\n"
           "failure or interruption with what was planned, written, confirmed and left\n"
           "pending; then a summary, which counts the interrupted scales when Ctrl-C\n"
           "stopped the run.\n"
           "\n"
           "Exit status: 0 every scale holds LIST, 1 a scale failed or did not confirm\n"
           "what it was sent, DIR is held by another sync or cannot take the images,\n"
           "or a report could not be written, 2 bad arguments, 3 a file could not be\n"
           "read, 4 the check found lines that would not arrive as written, or a scale's\n"
           "plan (or an empty LIST) exceeds --max-remove (nothing sent to it), or the\n"
           "plan of --apply has gone stale (nothing sent), 130\n"
           "stopped by Ctrl-C (what was confirmed is kept; the next run sends the rest).\n";
}

// LIST as records, its record types, whether its last line was cut, and the check's verdict;
// kExitOk or the exit status.
int LoadList(const ParsedArgs& parsed, bool en, const std::string& charset, fleet::WantedList& list,
             std::vector<uint32_t>& types, bool& cut) {
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
        int status = LoadDataLines(kCommand, parsed, type, charset, data, true);
        if (status != kExitOk) return status;
        // The fleet's check of the list, the C library's too: every line is round-tripped once
        // for its record and its findings. A line that cannot be sent (no GBK form, a cut last
        // line) leaves its record alone, accepted or not.
        fleet::CheckedList checked =
            fleet::CheckListOfDataLines(type, en, data.lines, UnsendableLines(data), data.numbers);
        list = std::move(checked.list);
        cut = data.lastLineCut;
        report = ReportListFindings(data, checked.findings, charset);
        lineCount = data.lines.size();
        types = {type};
    } else {
        ImageLines image;
        int status = LoadImageFile(kCommand, path, charset, image, true);
        if (status != kExitOk) return status;
        report.lines = image.unconvertible;
        report.changedLines = image.unconvertible.size();
        std::set<uint32_t> present(image.types.begin(), image.types.end());
        // The check's findings come with the records of each type: every line is round-tripped
        // once (an image names each record once, so its lines of a type read as one list).
        for (uint32_t type : present) {
            DataLines lines = LinesOfType(image, type);
            fleet::CheckedList checked =
                fleet::CheckListOfDataLines(type, en, lines.lines, {}, lines.numbers);
            list.insert(checked.list.begin(), checked.list.end());
            CheckReport one = ReportListFindings(lines, checked.findings, charset);
            report.lines.insert(report.lines.end(), one.lines.begin(), one.lines.end());
            report.changedLines += one.changedLines;
        }
        lineCount = image.types.size() + image.unconvertible.size();
        for (std::size_t i = 0; i < image.unconvertibleKeys.size(); ++i) {
            fleet::LeaveRecordAlone(list, image.unconvertibleKeys[i], image.unconvertible[i]);
            present.insert(image.unconvertibleKeys[i].type);
        }
        cut = !image.cut.empty();
        if (cut) {
            report.lines.push_back(image.cut);
            ++report.changedLines;
            ++lineCount;
        }
        // The cut line is the file's last: its record is left alone, as the scale would keep
        // that line over any earlier one of it.
        if (image.cutKey) {
            list.erase(*image.cutKey);
            fleet::LeaveRecordAlone(list, *image.cutKey, model::CutLastLineFinding().what);
            present.insert(image.cutKey->type);
        }
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

// --max-remove N, P% or all; false with a message.
bool ReadRemovalCap(const ParsedArgs& parsed, fleet::RemovalCap& cap, std::string& error) {
    if (!parsed.Has(kMaxRemoveOption.name)) return true;
    if (!parsed.Has(kRemoveOption.name)) {
        error = "--max-remove goes with --remove-missing";
        return false;
    }
    std::string text = parsed.Value(kMaxRemoveOption.name);
    uint64_t value = 0;
    if (text == "all") {
        cap.kind = fleet::RemovalCap::kAll;
    } else if (!text.empty() && text.back() == '%' &&
               ParseUnsigned(text.substr(0, text.size() - 1), 100, value)) {
        cap = {fleet::RemovalCap::kPercent, static_cast<std::size_t>(value)};
    } else if (ParseUnsigned(text, UINT32_MAX, value)) {
        cap = {fleet::RemovalCap::kCount, static_cast<std::size_t>(value)};
    } else {
        error = "--max-remove wants N (records), P% (0% to 100%) or all, not '" + text + "'";
        return false;
    }
    return true;
}

std::string Figures(const fleet::ScaleSync& scale, bool dryRun) {
    if (dryRun) {
        return "would send " + std::to_string(scale.sent) + ", unchanged " +
               std::to_string(scale.unchanged) + ", would remove " + std::to_string(scale.removed);
    }
    return "sent " + std::to_string(scale.sent) + ", unchanged " + std::to_string(scale.unchanged) +
           ", removed " + std::to_string(scale.removed);
}

// What happened to a scale that did not end in step: the plan, and how much of it the scale
// answered, confirmed and left for the next run.
std::string Progress(const fleet::ScaleSync& scale) {
    return "planned " + std::to_string(scale.sent) + " and " + std::to_string(scale.removed) +
           " removal(s): written " + std::to_string(scale.written) + ", confirmed " +
           std::to_string(scale.confirmed) + ", pending " + std::to_string(scale.pending) +
           "; unchanged " + std::to_string(scale.unchanged);
}

// What the state of a scale that was not planned foresees: the next run's work.
std::string Foreseen(const fleet::ScaleSync& scale) {
    return "by its state: planned " + std::to_string(scale.sent) + " and " +
           std::to_string(scale.removed) + " removal(s), pending " + std::to_string(scale.pending) +
           "; unchanged " + std::to_string(scale.unchanged);
}

// " (planned ...)" for a scale that got as far as a plan, " (by its state: ...)" for one whose
// state foresees something; "" when nothing of it is known.
std::string PlanProgress(const fleet::ScaleSync& scale) {
    if (scale.plan) return " (" + Progress(scale) + ")";
    bool known = scale.sent + scale.removed + scale.unchanged > 0;
    return scale.foreseen && known ? " (" + Foreseen(scale) + ")" : "";
}

std::string DriftWords(const fleet::ScaleSync& scale) {
    return "drift: " + std::to_string(scale.differing) + " of " + std::to_string(scale.probed) +
           " probed records differ; read in full; ";
}

// The line of a scale whose plan empties more than --max-remove allows.
std::string RefusalLine(const fleet::ScaleSync& scale) {
    return "refused: would remove " + std::to_string(scale.removed) +
           " record(s), more than --max-remove allows (" + std::to_string(scale.removalCap) +
           "); nothing sent (a larger --max-remove, or 'all', allows it)";
}

// A line on stderr after the lines on stdout before it: in a log that takes both, the lines
// stand in the order they were written.
void SayOnStderr(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "vudaduv sync: %s\n", text.c_str());
}

// One line a scale on stdout, its notes on stderr; with --dry-run, every line it would get.
void PrintScale(const fleet::ScaleSync& scale, const std::string& name, bool dryRun,
                std::size_t planNumber, const std::string& charset) {
    for (const std::string& note : scale.notes) {
        SayOnStderr(scale.address + ": " + ShowText(charset, note));
    }
    std::string shown = scale.address + (name.empty() ? "" : " (" + name + ")");
    const char* address = shown.c_str();
    std::string drift = scale.differing > 0 ? DriftWords(scale) : "";
    switch (scale.status) {
        case fleet::SyncStatus::kFailed:
            std::printf("%s: failed: %s%s%s\n", address, drift.c_str(), scale.failure.c_str(),
                        PlanProgress(scale).c_str());
            return;
        case fleet::SyncStatus::kInterrupted:
            std::printf("%s: %s%s%s\n", address, drift.c_str(), scale.failure.c_str(),
                        PlanProgress(scale).c_str());
            return;
        case fleet::SyncStatus::kRefusedCap:
            std::printf("%s: %s%s\n", address, drift.c_str(), RefusalLine(scale).c_str());
            break;
        default:
            std::printf("%s: %s%s%s\n", address, drift.c_str(), Figures(scale, dryRun).c_str(),
                        dryRun && planNumber > 0
                            ? (" (plan " + std::to_string(planNumber) + ")").c_str()
                            : "");
            break;
    }
}

// A file the run writes at its end, whole, then renamed; false after saying why it could not
// be written.
bool WriteRunFile(const char* what, const std::string& path, const std::string& bytes) {
    return WriteWholeReport(kCommand, what, path, bytes);
}

// The files that say how the run went: the reports, the metrics and the failed scales. Written
// as the run starts, so that a run that is killed leaves reports that say it did not finish,
// and again when it ends, each time whole.
class RunFiles {
  public:
    RunFiles(const ReportFiles& reports, std::string failedPath, std::string stateDir)
        : reports_(reports), failedPath_(std::move(failedPath)), stateDir_(std::move(stateDir)) {}

    // The reports say "running". One that cannot be written is removed, lest the last run's
    // report be taken for this one's.
    void Start(const SyncRun& run) {
        ReportJson report = SyncRunningReport(run);
        for (const std::string* path : {&reports_.json, &reports_.html}) {
            std::string error;
            std::string bytes = path == &reports_.json ? ReportText(report) : HtmlReport(report);
            if (path->empty() || os::ReplaceFileWhole(*path, bytes, error)) continue;
            std::remove(path->c_str());
            if (os::ReplaceFileWhole(*path, bytes, error)) continue;
            SayOnStderr("the report " + *path + " could not be written: " + error +
                        "; the last run's report there is removed");
        }
    }

    // A run that ended before serving the scales: the reports say why, the metrics that it
    // stopped, and every scale is one to try again.
    bool Stop(const SyncRun& run, const std::string& why) {
        bool ok = WriteReportFiles(kCommand, reports_, SyncStoppedReport(run, why));
        SyncMetricsRun metrics{run.started, std::chrono::system_clock::now(), run.dryRun, true,
                               fleet::LastGoodSync(stateDir_)};
        ok = WriteWholeReport(kCommand, "metrics file", reports_.metrics,
                              reports_.metrics.empty() ? "" : SyncMetrics(metrics, nullptr)) &&
             ok;
        if (!failedPath_.empty()) {
            std::string all;
            for (std::size_t i = 0; i < run.addresses.size(); ++i) {
                all += run.addresses[i] + (run.names[i].empty() ? "" : "  " + run.names[i]) + "\n";
            }
            ok = WriteRunFile("list of failed scales", failedPath_, all) && ok;
        }
        return ok;
    }

    bool End(const SyncRun& run, const fleet::SyncResult& result, uint32_t milliseconds) {
        bool ok = WriteReportFiles(kCommand, reports_,
                                   SyncReport(run, result, TallyOf(result), milliseconds));
        SyncMetricsRun metrics{run.started, std::chrono::system_clock::now(), run.dryRun, false,
                               result.lastGoodSync};
        ok = WriteWholeReport(kCommand, "metrics file", reports_.metrics,
                              reports_.metrics.empty() ? "" : SyncMetrics(metrics, &result)) &&
             ok;
        if (!failedPath_.empty()) {
            ok = WriteRunFile("list of failed scales", failedPath_, FailedTargets(run, result)) &&
                 ok;
        }
        return ok;
    }

  private:
    ReportFiles reports_;
    std::string failedPath_;
    std::string stateDir_;
};

// Why the list stopped the run, by LoadList's exit status (its message went to stderr).
std::string WhyTheListStopped(int status) {
    if (status == kExitChanged) {
        return "the check found lines of the list that would not arrive as written; nothing "
               "sent (--accept-changes syncs anyway)";
    }
    return status == kExitUnreadable ? "the list could not be read" : "the list was refused";
}

// The digest of LIST's bytes, for the report; "" for standard input.
std::string ListDigest(const std::string& path) {
    std::string bytes;
    std::string error;
    if (path.empty() || path == "-" || !os::ReadAllBytes(path, bytes, error)) return "";
    return fleet::DigestOf(bytes);
}

// The progress of every phase on a terminal's stderr, with its totals.
class PhaseProgress {
  public:
    void Start(fleet::SyncPhase phase, std::size_t scales, std::size_t commands) {
        if (line_) line_->End();
        const char* names[] = {"sync: reading", "sync: reading in full", "sync: sending"};
        line_.emplace(names[static_cast<int>(phase)],
                      phase == fleet::SyncPhase::kSending ? "command(s)" : "read(s)", scales,
                      commands);
    }
    void Answered() {
        if (line_) line_->Answered();
    }
    void ScaleDone() {
        if (line_) line_->ScaleDone();
    }
    void End() {
        if (line_) line_->End();
        line_.reset();
    }

  private:
    std::optional<CountLine> line_;
};

// --plan-out and --apply: the saved plan read, and the digest of LIST that both keep; kExitOk,
// or the exit status after saying why not.
int ReadPlanOptions(const ParsedArgs& parsed, fleet::SavedPlan& saved, std::string& listDigest) {
    bool out = parsed.Has(kPlanOutOption.name);
    bool apply = parsed.Has(kApplyOption.name);
    if (!out && !apply) return kExitOk;
    std::string error;
    std::string listPath = parsed.Value(kFileOption.name);
    if (out && !parsed.Has(kDryRunOption.name)) {
        return UsageError(kCommand, "--plan-out goes with --dry-run");
    }
    if (apply && parsed.Has(kDryRunOption.name)) {
        return UsageError(kCommand, "--apply sends: give it without --dry-run");
    }
    if (listPath.empty() || listPath == "-") {
        return UsageError(kCommand, "a saved plan wants LIST in a file, not standard input");
    }
    std::string bytes;
    if (!os::ReadAllBytes(listPath, bytes, error)) {
        return UnreadableFile(kCommand, listPath + ": " + error);
    }
    listDigest = fleet::DigestOf(bytes);
    if (out && !os::CanWriteFile(parsed.Value(kPlanOutOption.name), error)) {
        return UsageError(kCommand, "--plan-out: " + parsed.Value(kPlanOutOption.name) +
                                        " cannot be written: " + error);
    }
    if (!apply) return kExitOk;
    std::string path = parsed.Value(kApplyOption.name);
    if (!os::ReadAllBytes(path, bytes, error)) return UnreadableFile(kCommand, path + ": " + error);
    if (!fleet::ReadSavedPlan(bytes, saved, error))
        return UsageError(kCommand, "--apply: " + path + ": " + error);
    return kExitOk;
}

// What the command line asks of the sync, read and checked.
struct SyncCommand {
    ParsedArgs parsed;
    fleet::SyncOptions options;
    std::string charset;
    ReportFiles reports;
    std::string failedPath;
    Fleet fleet;
};

// The options that take a value of their own; false with a message.
bool ReadSyncValues(SyncCommand& command, std::string& error) {
    const ParsedArgs& parsed = command.parsed;
    command.options.stateDir = parsed.Value(kStateOption.name);
    command.failedPath = parsed.Value(kFailedTargetsOption.name);
    uint64_t probe = command.options.probe;
    if (!parsed.Has(kFileOption.name)) error = "--file LIST is required";
    if (error.empty() && command.options.stateDir.empty()) error = "--state DIR is required";
    if (!error.empty() ||
        !ReadReportFiles(parsed.Values(kReportOption.name), "the scales' lines", command.reports,
                         error, true) ||
        !ReadRemovalCap(parsed, command.options.maxRemove, error) ||
        !ReadUnsignedOption(parsed, kProbeOption.name, kMaxProbe, probe, error) ||
        !ReadCharset(parsed, command.charset, error)) {
        return false;
    }
    if (parsed.Has(kFailedTargetsOption.name) && !os::CanWriteFile(command.failedPath, error)) {
        error = "--failed-targets: " + command.failedPath + " cannot be written: " + error;
        return false;
    }
    command.options.probe = static_cast<std::size_t>(probe);
    return true;
}

// The switches, and the state's images in the user's character set, as pull writes images.
void SetSyncSwitches(SyncCommand& command) {
    fleet::SyncOptions& options = command.options;
    options.stateCharset.name = command.charset;
    options.stateCharset.toGbk = [](const std::string& name, const std::string& text,
                                    std::string& gbk) { return ConvertToGbk(name, text, gbk); };
    options.stateCharset.fromGbk = [](const std::string& name, const std::string& gbk,
                                      std::string& text) {
        text = ConvertFromGbk(name, gbk);
        return true;  // the fleet converts back and compares: a "?" put in does not pass
    };
    options.en = command.parsed.Has(kEnOption.name);
    options.removeMissing = command.parsed.Has(kRemoveOption.name);
    options.readScales = command.parsed.Has(kReadBackOption.name);
    options.dryRun = command.parsed.Has(kDryRunOption.name);
}

// The command line read; false, with the exit status, when the command ends here: after --help
// (status kExitOk) or after saying what is wrong.
bool ReadSyncOptions(const Arguments& args, SyncCommand& command, int& status) {
    status = kExitOk;
    if (!ParseCommandArgs(
            kCommand, SyncHelp(), args,
            {kFileOption, kTypeOption, kEnOption, kCharsetOption, kTargetOption, kTargetsFileOption,
             kTimeoutOption, kRetriesOption, kStateOption, kRemoveOption, kReadBackOption,
             kDryRunOption, kAcceptOption, kReportOption, kMaxRemoveOption, kProbeOption,
             kFailedTargetsOption, kPlanOutOption, kApplyOption},
            command.parsed, status)) {
        return false;
    }
    if (!command.parsed.Positionals().empty()) {
        status =
            UsageError(kCommand, "unexpected argument '" + command.parsed.Positionals()[0] + "'");
        return false;
    }
    std::string error;
    if (!ReadSyncValues(command, error)) {
        status = UsageError(kCommand, error);
        return false;
    }
    SetSyncSwitches(command);
    status = LoadFleet(kCommand, command.parsed, command.fleet);
    command.options.settings = command.fleet.settings;
    return status == kExitOk;
}

// The run as its reports name it, before the list is read.
SyncRun RunOf(const SyncCommand& command) {
    SyncRun run;
    run.started = std::chrono::system_clock::now();
    run.dryRun = command.options.dryRun;
    std::string listPath = command.parsed.Value(kFileOption.name);
    run.listPath = listPath.empty() ? "-" : listPath;
    run.addresses = command.fleet.addresses;
    run.names = command.fleet.names;
    return run;
}

// The list read and checked, the run's reports begun; kExitOk, or the exit status after the
// reports say why the run stopped.
int LoadSyncList(SyncCommand& command, SyncRun& run, RunFiles& files, fleet::WantedList& list) {
    fleet::SyncOptions& options = command.options;
    bool cut = false;
    int status =
        LoadList(command.parsed, options.en, command.charset, list, options.listTypes, cut);
    if (status != kExitOk) {
        files.Stop(run, WhyTheListStopped(status));
        return status;
    }
    run.listDigest = ListDigest(run.listPath);
    run.listRecords = list.size();
    files.Start(run);
    // A cut line may have lost digits of its record's number ("2" of "20A..."), so which record
    // it was meant to name is not known: a list cut so removes nothing, lest it remove that one.
    if (cut && options.removeMissing) {
        options.removeMissing = false;
        std::fprintf(stderr,
                     "vudaduv sync: no record is removed in this run: the list's last line "
                     "was cut and may have named any record\n");
    }
    return kExitOk;
}

// --plan-out and --apply: the saved plan, the list's digest both keep, and why the saved plan
// went stale, when it did.
struct PlanUse {
    fleet::SavedPlan saved;
    std::string listDigest;
    std::string stale;
};

// With --apply the fleet holds the run's plans against the saved one before anything is sent.
void HoldToSavedPlan(SyncCommand& command, PlanUse& plan) {
    if (command.parsed.Has(kApplyOption.name)) {
        command.options.digestState = true;
        const std::vector<std::string>& addresses = command.fleet.addresses;
        command.options.approvePlans = [&plan,
                                        &addresses](const std::vector<fleet::ScaleSync>& planned) {
            plan.stale = fleet::WhyStale(plan.saved, plan.listDigest, addresses, planned);
            return plan.stale;
        };
    }
    command.options.digestState =
        command.options.digestState || command.parsed.Has(kPlanOutOption.name);
}

// The fleet's sync, with the progress of every phase on stderr; Ctrl-C and SIGTERM end it at the
// next reply (what was confirmed is kept).
fleet::SyncResult SyncWithProgress(const fleet::WantedList& list, SyncCommand& command,
                                   const StopRequest& stop) {
    fleet::SyncOptions& options = command.options;
    PhaseProgress progress;
    options.phaseStarted = [&progress](fleet::SyncPhase phase, std::size_t scales,
                                       std::size_t commands) {
        progress.Start(phase, scales, commands);
    };
    options.observer.lineAnswered = [&progress](std::size_t, std::size_t) { progress.Answered(); };
    options.observer.scaleDone = [&progress](std::size_t, const transport::ScaleResult&) {
        progress.ScaleDone();
    };
    options.observer.stop = stop.Flag();
    fleet::SyncResult result =
        fleet::Sync(list, command.fleet.addresses, command.fleet.scales, options);
    progress.End();
    options.phaseStarted = nullptr;
    options.observer = transport::SendObserver();
    return result;
}

// A run that sent nothing: its plans refused (a stale saved plan, an empty list), or an error
// before any scale was served; the exit status.
int ReportNothingSent(const fleet::SyncResult& result, const PlanUse& plan, const SyncRun& run,
                      RunFiles& files) {
    if (result.refused) {
        std::string why = (plan.stale.empty() ? "" : "the plan is stale: ") + result.error +
                          "; nothing sent (" +
                          (plan.stale.empty() ? "--max-remove all allows it"
                                              : "make a new one with --dry-run --plan-out") +
                          ")";
        SayOnStderr(why);
        files.Stop(run, why);
        return kExitChanged;
    }
    SayOnStderr(result.error);
    files.Stop(run, result.error);
    return kExitFailed;
}

// Every scale's line, the plans of a dry run and the summary on stdout; the tally.
Tally PrintSync(const SyncCommand& command, const SyncRun& run, const fleet::SyncResult& result,
                uint32_t milliseconds) {
    bool dryRun = command.options.dryRun;
    std::vector<std::size_t> plans = PlanNumbers(result.scales);
    for (std::size_t i = 0; i < result.scales.size(); ++i) {
        PrintScale(result.scales[i], i < run.names.size() ? run.names[i] : "", dryRun, plans[i],
                   command.charset);
    }
    if (dryRun) std::fputs(PlansText(result.scales, command.charset).c_str(), stdout);
    Tally tally = TallyOf(result);
    std::size_t done = result.scales.size() - tally.failed - tally.refused - tally.interrupted;
    std::string interrupted =
        result.interrupted ? ", interrupted " + std::to_string(tally.interrupted) : "";
    std::printf("%s %zu of %zu scale(s), failed %zu, refused %zu%s, in %.1f s\n",
                dryRun ? "planned" : "synced", done, result.scales.size(), tally.failed,
                tally.refused, interrupted.c_str(), milliseconds / 1000.0);
    if (!result.probed) {
        std::printf(
            "the scales were not checked (--probe 0): a scale that is off or was reset "
            "is not noticed when it has nothing to change\n");
    }
    return tally;
}

// The run's outcome printed and its files written; the exit status.
int ReportSync(const SyncCommand& command, const SyncRun& run, RunFiles& files,
               const fleet::SyncResult& result, const PlanUse& plan, uint32_t milliseconds,
               const StopRequest& stop) {
    if (result.refused || !result.error.empty()) {
        return ReportNothingSent(result, plan, run, files);
    }
    Tally tally = PrintSync(command, run, result, milliseconds);
    if (!result.stateError.empty()) SayOnStderr(result.stateError);
    bool ok = tally.failed == 0 && result.stateError.empty();
    ok = files.End(run, result, milliseconds) && ok;
    if (command.parsed.Has(kPlanOutOption.name)) {
        ok = WriteRunFile("plan", command.parsed.Value(kPlanOutOption.name),
                          PlanFile(command.parsed.Value(kFileOption.name), plan.listDigest,
                                   result.scales, command.charset)) &&
             ok;
    }
    if (result.interrupted) {
        SayOnStderr("interrupted: the next run sends the rest");
        return stop.ExitStatus();
    }
    if (!ok) return kExitFailed;
    return tally.refused > 0 ? kExitChanged : kExitOk;
}

}  // namespace

int RunSync(const Arguments& args) {
    SyncCommand command;
    int status = kExitOk;
    if (!ReadSyncOptions(args, command, status)) return status;
    SyncRun run = RunOf(command);
    RunFiles files(command.reports, command.failedPath, command.options.stateDir);
    fleet::WantedList list;
    status = LoadSyncList(command, run, files, list);
    if (status != kExitOk) return status;
    PlanUse plan;
    status = ReadPlanOptions(command.parsed, plan.saved, plan.listDigest);
    if (status != kExitOk) {
        files.Stop(run, "the saved plan could not be used");
        return status;
    }
    HoldToSavedPlan(command, plan);
    StopRequest stop;
    auto start = std::chrono::steady_clock::now();
    fleet::SyncResult result = SyncWithProgress(list, command, stop);
    return ReportSync(command, run, files, result, plan, MillisecondsSince(start), stop);
}

}  // namespace vudaduv::cli
