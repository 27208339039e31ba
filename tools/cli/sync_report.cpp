#include "sync_report.h"

#include "vudaduv_transport.h"

namespace vudaduv::cli {

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

ReportJson SyncReport(const fleet::SyncResult& result, const Tally& tally, bool dryRun,
                      uint32_t milliseconds) {
    ReportJson scales = ReportJson::array();
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
    return {{"schema", kReportSchema},
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
}

std::string FailedTargets(const fleet::SyncResult& result) {
    std::string text;
    for (const fleet::ScaleSync& scale : result.scales) {
        if (!ScaleOk(scale)) text += scale.address + "\n";
    }
    return text;
}

}  // namespace vudaduv::cli
