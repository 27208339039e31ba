#include "sync_report.h"

#include <nlohmann/json.hpp>

#include "os.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

bool ReadSyncReportFile(const std::string& value, bool given, std::string& path,
                        std::string& error) {
    const std::string prefix = "json:";
    if (!given) return true;
    path = value.compare(0, prefix.size(), prefix) == 0 ? value.substr(prefix.size()) : "";
    if (path == "-") {
        error = "--report json:- would mix the report with the scales' lines; name a file";
    } else if (path.empty()) {
        error = "--report wants json:FILE, not '" + value + "'";
    } else if (!os::CanWriteFile(path, error)) {
        error = "--report: " + path + " cannot be written: " + error;
    }
    return error.empty();
}

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
    switch (scale.status) {
        case fleet::SyncStatus::kFailed:
        case fleet::SyncStatus::kRefusedCap:
        case fleet::SyncStatus::kInterrupted:
            return false;
        default:
            return true;
    }
}

// The report's shape; a change that takes a field away or changes its meaning counts it up.
constexpr int kReportSchema = 1;

std::string SyncJsonReport(const fleet::SyncResult& result, const Tally& tally, bool dryRun,
                           uint32_t milliseconds) {
    nlohmann::json scales = nlohmann::json::array();
    for (const fleet::ScaleSync& scale : result.scales) {
        scales.push_back({{"address", scale.address},
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
    nlohmann::json report = {{"schema", kReportSchema},
                             {"command", "sync"},
                             {"dry_run", dryRun},
                             {"ok", notOk == 0 && result.stateError.empty()},
                             {"interrupted", result.interrupted},
                             {"probed", result.probed},
                             {"state_error", result.stateError},
                             {"scales", scales},
                             {"served", result.scales.size() - notOk},
                             {"failed", tally.failed},
                             {"refused", tally.refused},
                             {"interrupted_scales", tally.interrupted},
                             {"drift_repaired", tally.drift},
                             {"milliseconds", milliseconds},
                             {"seconds", milliseconds / 1000.0}};
    return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string FailedTargets(const fleet::SyncResult& result) {
    std::string text;
    for (const fleet::ScaleSync& scale : result.scales) {
        if (!ScaleOk(scale)) text += scale.address + "\n";
    }
    return text;
}

}  // namespace vudaduv::cli
