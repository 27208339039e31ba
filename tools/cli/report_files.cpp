#include "report_files.h"

#include <cstdio>

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
                                       {"html:", &ReportFiles::html}};

bool WriteOne(const std::string& command, const std::string& path, const std::string& bytes) {
    std::string error;
    if (path.empty() || os::WriteAllBytes(path, bytes, error)) return true;
    std::fprintf(stderr, "vudaduv %s: the report %s could not be written: %s\n", command.c_str(),
                 path.c_str(), error.c_str());
    return false;
}

}  // namespace

bool ReadReportFiles(const std::vector<std::string>& values, const std::string& stdoutHolds,
                     ReportFiles& files, std::string& error) {
    for (const std::string& value : values) {
        const ReportFormat* format = nullptr;
        for (const ReportFormat& known : kReportFormats) {
            if (value.rfind(known.prefix, 0) == 0) format = &known;
        }
        std::string path = format ? value.substr(std::string(format->prefix).size()) : "";
        if (path.empty()) {
            error = "--report wants json:FILE or html:FILE, not '" + value + "'";
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
    bool json = WriteOne(command, files.json, files.json.empty() ? "" : ReportText(report));
    bool html = WriteOne(command, files.html, files.html.empty() ? "" : HtmlReport(report));
    return json && html;
}

}  // namespace vudaduv::cli
