#include "sync_metrics.h"

#include <cstdio>
#include <vector>

namespace vudaduv::cli {

namespace {

const fleet::SyncStatus kStatuses[] = {
    fleet::SyncStatus::kInStep,     fleet::SyncStatus::kSynced, fleet::SyncStatus::kDriftRepaired,
    fleet::SyncStatus::kRefusedCap, fleet::SyncStatus::kFailed, fleet::SyncStatus::kInterrupted,
    fleet::SyncStatus::kPlanned};

double Seconds(std::chrono::system_clock::time_point when) {
    return std::chrono::duration<double>(when.time_since_epoch()).count();
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string number = text;
    // "12.000" as "12": the figures that count read as counts.
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
    return number;
}

// One metric: its HELP and TYPE lines, then a sample a label set ("" for none).
struct Metric {
    const char* name;
    const char* help;
    std::vector<std::pair<std::string, double>> samples;
};

std::string MetricText(const Metric& metric) {
    std::string name = std::string("vudaduv_sync_") + metric.name;
    std::string text = "# HELP " + name + " " + metric.help + "\n# TYPE " + name + " gauge\n";
    for (const auto& [labels, value] : metric.samples) {
        text += name + labels + " " + Number(value) + "\n";
    }
    return text;
}

}  // namespace

std::string SyncMetrics(const SyncMetricsRun& run, const fleet::SyncResult* result) {
    double sent = 0;
    double removed = 0;
    double pending = 0;
    bool inStep = result != nullptr && result->stateError.empty() && !result->interrupted;
    std::vector<std::pair<std::string, double>> byStatus;
    for (fleet::SyncStatus status : kStatuses) {
        double count = 0;
        for (std::size_t i = 0; result != nullptr && i < result->scales.size(); ++i) {
            count += result->scales[i].status == status ? 1 : 0;
        }
        byStatus.emplace_back(std::string("{status=\"") + fleet::SyncStatusName(status) + "\"}",
                              count);
    }
    for (std::size_t i = 0; result != nullptr && i < result->scales.size(); ++i) {
        const fleet::ScaleSync& scale = result->scales[i];
        sent += static_cast<double>(scale.confirmed - scale.removalsConfirmed);
        removed += static_cast<double>(scale.removalsConfirmed);
        pending += static_cast<double>(scale.pending);
        inStep = inStep && fleet::EndedAsAsked(scale.status);
    }
    const Metric metrics[] = {
        {"start_time_seconds",
         "When the last run started, in seconds since 1970.",
         {{"", Seconds(run.started)}}},
        {"end_time_seconds",
         "When the last run ended, in seconds since 1970.",
         {{"", Seconds(run.finished)}}},
        {"duration_seconds",
         "How long the last run took.",
         {{"", std::chrono::duration<double>(run.finished - run.started).count()}}},
        {"success",
         "1 when the last run ended with every scale in step, else 0.",
         {{"", inStep && !run.dryRun ? 1 : 0}}},
        {"interrupted",
         "1 when Ctrl-C or SIGTERM stopped the last run.",
         {{"", result != nullptr && result->interrupted ? 1 : 0}}},
        {"stopped",
         "1 when the last run ended before it served the scales (see its report).",
         {{"", run.stopped ? 1 : 0}}},
        {"dry_run",
         "1 when the last run was a dry run: nothing was sent.",
         {{"", run.dryRun ? 1 : 0}}},
        {"scales", "The scales of the last run, by how each ended.", byStatus},
        {"records_sent", "Records the scales confirmed in the last run.", {{"", sent}}},
        {"records_removed", "Records emptied on the scales in the last run.", {{"", removed}}},
        {"records_pending", "Changes left for the next run to finish.", {{"", pending}}},
        {"last_success_time_seconds",
         "When a run last ended with every scale in step, in seconds since 1970; 0 for never.",
         {{"", static_cast<double>(run.lastGoodSync)}}},
    };
    std::string text;
    for (const Metric& metric : metrics) text += MetricText(metric);
    return text;
}

}  // namespace vudaduv::cli
