// A sync's figures for the monitoring a chain already runs: the Prometheus text format, as
// node_exporter's textfile collector reads a file, every metric named vudaduv_sync_..., each
// with its HELP and TYPE lines (see docs/report.md).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "vudaduv_fleet.h"

namespace vudaduv::cli {

// How the run went, besides what its result holds.
struct SyncMetricsRun {
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point finished;
    bool dryRun = false;
    bool stopped = false;      // it ended before the scales were served: result is nullptr
    int64_t lastGoodSync = 0;  // fleet::LastGoodSync, seconds since 1970; 0 for never
};

// The file's text; result is nullptr for a run that stopped before the scales were served.
std::string SyncMetrics(const SyncMetricsRun& run, const fleet::SyncResult* result);

}  // namespace vudaduv::cli
