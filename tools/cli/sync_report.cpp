#include "sync_report.h"

#include "os.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

namespace {

const char* RunStatusName(RunStatus status) {
    switch (status) {
        case RunStatus::kRunning:
            return "running";
        case RunStatus::kInterrupted:
            return "interrupted";
        case RunStatus::kStopped:
            return "stopped";
        default:
            return "finished";
    }
}

std::string NameOf(const SyncRun& run, std::size_t scale) {
    return scale < run.names.size() ? run.names[scale] : "";
}

// The fields every report of a sync starts with: what wrote it, when, where, from which list.
ReportJson RunHead(const SyncRun& run, RunStatus status) {
    ReportJson digest = run.listDigest.empty() ? ReportJson() : ReportJson(run.listDigest);
    return {{"schema", kReportSchema},
            {"command", "sync"},
            {"status", RunStatusName(status)},
            {"started", IsoTime(run.started)},
            {"finished", status == RunStatus::kRunning
                             ? ReportJson()
                             : ReportJson(IsoTime(std::chrono::system_clock::now()))},
            {"version", VUDADUV_VERSION},
            {"host", os::HostName()},
            {"list", {{"path", run.listPath}, {"digest", digest}, {"records", run.listRecords}}},
            {"dry_run", run.dryRun}};
}

// A report of no scale: every run figure 0, for readers that take them as they are.
ReportJson WithoutScales(ReportJson report, const std::string& why, bool interrupted) {
    report["error"] = why;
    report["ok"] = false;
    report["interrupted"] = interrupted;
    report["probed"] = false;
    report["state_error"] = "";
    report["scales"] = ReportJson::array();
    report["targets"] = 0;
    for (const char* figure : {"served", "failed", "refused", "interrupted_scales",
                               "drift_repaired", "milliseconds", "seconds"}) {
        report[figure] = 0;
    }
    return report;
}

}  // namespace

// The figures of a scale in step: what it was sent and confirmed (or would be sent).
Tally TallyOf(const fleet::SyncResult& result) {
    Tally tally;
    for (const fleet::ScaleSync& scale : result.scales) {
        tally.failed += scale.status == fleet::SyncStatus::kFailed ? 1 : 0;
        tally.refused += scale.status == fleet::SyncStatus::kRefusedCap ? 1 : 0;
        tally.interrupted += scale.status == fleet::SyncStatus::kInterrupted ? 1 : 0;
        tally.drift += scale.differing > 0 ? 1 : 0;
    }
    return tally;
}

bool ScaleOk(const fleet::ScaleSync& scale) {
    return fleet::EndedAsAsked(scale.status);
}

ReportJson SyncRunningReport(const SyncRun& run) {
    ReportJson report = WithoutScales(RunHead(run, RunStatus::kRunning), "", false);
    report["targets"] = run.addresses.size();
    return report;
}

ReportJson SyncStoppedReport(const SyncRun& run, const std::string& why) {
    ReportJson report = WithoutScales(RunHead(run, RunStatus::kStopped), why, false);
    report["targets"] = run.addresses.size();
    return report;
}

ReportJson SyncReport(const SyncRun& run, const fleet::SyncResult& result, const Tally& tally,
                      uint32_t milliseconds) {
    ReportJson scales = ReportJson::array();
    for (std::size_t i = 0; i < result.scales.size(); ++i) {
        const fleet::ScaleSync& scale = result.scales[i];
        scales.push_back({{"address", scale.address},
                          {"name", NameOf(run, i)},
                          {"status", fleet::SyncStatusName(scale.status)},
                          {"ok", ScaleOk(scale)},
                          {"failure", scale.failure},
                          {"transport_code", scale.code},
                          {"transport_code_name", transport::TransportCodeName(scale.code)},
                          {"sent", scale.confirmed - scale.removalsConfirmed},
                          {"removed", scale.removalsConfirmed},
                          {"planned", scale.sent},
                          {"removals_planned", scale.removed},
                          {"written", scale.written},
                          {"confirmed", scale.confirmed},
                          {"pending", scale.pending},
                          {"unchanged", scale.unchanged},
                          {"removal_cap", scale.removalCap},
                          {"probed", scale.probed},
                          {"differing", scale.differing},
                          {"read_from_scale", scale.fromScale},
                          {"seconds", scale.milliseconds / 1000.0}});
    }
    std::size_t notOk = 0;
    for (const fleet::ScaleSync& scale : result.scales) notOk += ScaleOk(scale) ? 0 : 1;
    ReportJson report =
        RunHead(run, result.interrupted ? RunStatus::kInterrupted : RunStatus::kFinished);
    ReportJson tail = {{"error", ""},
                       {"ok", notOk == 0 && result.stateError.empty()},
                       {"interrupted", result.interrupted},
                       {"probed", result.probed},
                       {"state_error", result.stateError},
                       {"targets", result.scales.size()},
                       {"scales", scales},
                       {"served", result.scales.size() - notOk},
                       {"failed", tally.failed},
                       {"refused", tally.refused},
                       {"interrupted_scales", tally.interrupted},
                       {"drift_repaired", tally.drift},
                       {"milliseconds", milliseconds},
                       {"seconds", milliseconds / 1000.0}};
    for (const auto& field : tail.items()) report[field.key()] = field.value();
    return report;
}

std::string FailedTargets(const SyncRun& run, const fleet::SyncResult& result) {
    std::string text;
    for (std::size_t i = 0; i < result.scales.size(); ++i) {
        const fleet::ScaleSync& scale = result.scales[i];
        if (ScaleOk(scale)) continue;
        std::string name = NameOf(run, i);
        text += scale.address + (name.empty() ? "" : "  " + name) + "\n";
    }
    return text;
}

}  // namespace vudaduv::cli
