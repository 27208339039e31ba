// What a sync tells besides its lines: the tally of how the scales ended, the report (JSON and
// HTML, see report_files.h), its figures for a monitor (sync_metrics.h) and the list of the
// scales that did not end in step, for the next run's --targets-file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// What a report says of the run besides its scales: when, which list, and the scales' names.
struct SyncRun {
    std::chrono::system_clock::time_point started;
    bool dryRun = false;
    std::string listPath;    // "-" for standard input
    std::string listDigest;  // fleet::DigestOf the file's bytes; "" when not known
    std::size_t listRecords = 0;
    std::vector<std::string> addresses;
    std::vector<std::string> names;  // of each address, "" for none
};

// How far the run got, as the report's "status" says it.
enum class RunStatus {
    kRunning,      // written as the run starts: a report still saying so did not finish
    kFinished,     // every scale has its outcome
    kInterrupted,  // Ctrl-C or SIGTERM stopped it; every scale has its outcome
    kStopped,      // it ended before the scales were served (why in "error")
};

// The report as the run starts: "status": "running", "finished": null, no scale yet.
ReportJson SyncRunningReport(const SyncRun& run);

// The report of a run that ended before its scales were served: why, and no scale.
ReportJson SyncStoppedReport(const SyncRun& run, const std::string& why);

// Every scale's status and figures, and the run's (its shape numbered by "schema"; see
// docs/report.md).
ReportJson SyncReport(const SyncRun& run, const fleet::SyncResult& result, const Tally& tally,
                      uint32_t milliseconds);

// The scales that did not end in step, one a line, each with its name after it when it has
// one: a targets file for the next run.
std::string FailedTargets(const SyncRun& run, const fleet::SyncResult& result);

}  // namespace vudaduv::cli
