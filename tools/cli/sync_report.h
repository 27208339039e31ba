// What a sync tells besides its lines: the tally of how the scales ended, the report (JSON and
// HTML, see report_files.h) and the list of the scales that did not end in step, for the next run's
// --targets-file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "report_files.h"
#include "vudaduv_fleet.h"

namespace vudaduv::cli {

// The run's figures: how many scales ended how.
struct Tally {
    std::size_t failed = 0;
    std::size_t refused = 0;
    std::size_t interrupted = 0;
    std::size_t drift = 0;
};

Tally TallyOf(const fleet::SyncResult& result);

// A scale that ended in step (in step, synced, repaired, or planned in a dry run).
bool ScaleOk(const fleet::ScaleSync& scale);

// Every scale's status and figures, and the run's (its shape numbered by "schema"; see
// docs/report.md).
ReportJson SyncReport(const fleet::SyncResult& result, const Tally& tally, bool dryRun,
                      uint32_t milliseconds);

// The addresses of the scales that did not end in step, one a line.
std::string FailedTargets(const fleet::SyncResult& result);

}  // namespace vudaduv::cli
