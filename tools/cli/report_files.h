// The files of --report FORMAT:FILE, given once for each format: the run's report as JSON and
// as one HTML page, both made of the same JSON (see docs/report.md).
#pragma once

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
};

// Every value of --report: json:FILE or html:FILE, each format at most once; each file is
// tried for writing before anything is sent. stdoutHolds names what standard output carries,
// for the message that refuses "-". False with a message.
bool ReadReportFiles(const std::vector<std::string>& values, const std::string& stdoutHolds,
                     ReportFiles& files, std::string& error);

// The report as the JSON file holds it. Bytes that are not UTF-8 (an address given in another
// charset) become U+FFFD.
std::string ReportText(const ReportJson& report);

// Writes each file asked for; false after saying on stderr why one could not be written (the
// other is written all the same).
bool WriteReportFiles(const std::string& command, const ReportFiles& files,
                      const ReportJson& report);

}  // namespace vudaduv::cli
