#include "report_files.h"

#include <cstdio>
#include <ctime>

#include "html_report.h"
#include "os.h"

namespace vudaduv::cli {

namespace {

// The formats --report knows, and where each one's file goes.
struct ReportFormat {
    const char* prefix;
    std::string ReportFiles::*file;
};

const ReportFormat kReportFormats[] = {{"json:", &ReportFiles::json},
                                       {"html:", &ReportFiles::html},
                                       {"metrics:", &ReportFiles::metrics}};

}  // namespace

bool WriteWholeReport(const std::string& command, const char* what, const std::string& path,
                      const std::string& bytes) {
    std::string error;
    if (path.empty() || os::ReplaceFileWhole(path, bytes, error)) return true;
    std::fflush(stdout);  // the lines before it come first in a log
    std::fprintf(stderr,
                 "vudaduv %s: the %s %s could not be written: %s; the file there is left as it "
                 "was\n",
                 command.c_str(), what, path.c_str(), error.c_str());
    return false;
}

std::string IsoTime(std::chrono::system_clock::time_point when) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    long offset = 0;
    char text[40] = {};
    if (!os::LocalTimeOf(seconds, local, offset)) return "";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60 % (24 * 60));
    char zone[48] = {};
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(text) + zone;
}

bool ReadReportFiles(const std::vector<std::string>& values, const std::string& stdoutHolds,
                     ReportFiles& files, std::string& error, bool withMetrics) {
    for (const std::string& value : values) {
        const ReportFormat* format = nullptr;
        for (const ReportFormat& known : kReportFormats) {
            if (value.rfind(known.prefix, 0) == 0) format = &known;
        }
        if (format && format->file == &ReportFiles::metrics && !withMetrics) format = nullptr;
        std::string path = format ? value.substr(std::string(format->prefix).size()) : "";
        if (path.empty()) {
            error = std::string("--report wants json:FILE") +
                    (withMetrics ? ", html:FILE or metrics:FILE" : " or html:FILE") + ", not '" +
                    value + "'";
        } else if (!(files.*format->file).empty()) {
            error = std::string("--report ") + format->prefix + " is given twice";
        } else if (path == "-") {
            error =
                "--report " + value + " would mix the report with " + stdoutHolds + "; name a file";
        } else if (!os::CanWriteFile(path, error)) {
            error = "--report: " + path + " cannot be written: " + error;
        }
        if (!error.empty()) return false;
        files.*format->file = path;
    }
    return true;
}

std::string ReportText(const ReportJson& report) {
    return report.dump(2, ' ', false, ReportJson::error_handler_t::replace) + "\n";
}

bool WriteReportFiles(const std::string& command, const ReportFiles& files,
                      const ReportJson& report) {
    bool json = WriteWholeReport(command, "report", files.json,
                                 files.json.empty() ? "" : ReportText(report));
    bool html = WriteWholeReport(command, "report", files.html,
                                 files.html.empty() ? "" : HtmlReport(report));
    return json && html;
}

}  // namespace vudaduv::cli
