// The files of --report FORMAT:FILE, given once for each format: the run's report as JSON and
// as one HTML page, both made of the same JSON, and for sync its figures for a monitor (see
// docs/report.md). Each is written whole, then renamed over the last one: a reader never finds
// a part of one.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vudaduv::cli {

// A report's fields in the order they are made, so that "schema" and "command" come first.
using ReportJson = nlohmann::ordered_json;

// The shape of the reports of send and sync; a change that takes a field away or changes its
// meaning counts it up (a new field does not).
constexpr int kReportSchema = 1;

struct ReportFiles {
    std::string json;  // "" when not asked for
    std::string html;
    std::string metrics;  // the Prometheus text format (sync only)
};

// Every value of --report: json:FILE, html:FILE or, with withMetrics, metrics:FILE, each format
// at most once; each file is tried for writing before anything is sent. stdoutHolds names what
// standard output carries, for the message that refuses "-". False with a message.
bool ReadReportFiles(const std::vector<std::string>& values, const std::string& stdoutHolds,
                     ReportFiles& files, std::string& error, bool withMetrics = false);

// A moment as ISO 8601 in local time with its offset: "2026-12-09T02:00:05+01:00".
std::string IsoTime(std::chrono::system_clock::time_point when);

// Writes bytes as the whole file (os::ReplaceFileWhole); false after saying on stderr, with
// command, what could not be written and that the file there is left as it was.
bool WriteWholeReport(const std::string& command, const char* what, const std::string& path,
                      const std::string& bytes);

// The report as the JSON file holds it. Bytes that are not UTF-8 (an address given in another
// charset) become U+FFFD.
std::string ReportText(const ReportJson& report);

// Writes the JSON and HTML files asked for, each whole, then renamed; false after saying on
// stderr why one could not be written (the other is written all the same; the one that could
// not is left as it was: the last whole report).
bool WriteReportFiles(const std::string& command, const ReportFiles& files,
                      const ReportJson& report);

}  // namespace vudaduv::cli
