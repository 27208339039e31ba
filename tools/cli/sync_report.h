// What a sync tells besides its lines: the tally of how the scales ended, the report (JSON) and
// the list of the scales that did not end in step, for the next run's --targets-file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vudaduv_fleet.h"

namespace vudaduv::cli {

// The file of --report json:FILE (value, when given), tried before anything is sent; path
// stays "" without --report. False with a message.
bool ReadSyncReportFile(const std::string& value, bool given, std::string& path,
                        std::string& error);

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

// Every scale's status and figures, and the run's, as JSON (its shape numbered by "schema").
std::string SyncJsonReport(const fleet::SyncResult& result, const Tally& tally, bool dryRun,
                           uint32_t milliseconds);

// The addresses of the scales that did not end in step, one a line.
std::string FailedTargets(const fleet::SyncResult& result);

}  // namespace vudaduv::cli
