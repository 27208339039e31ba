#include "check_report.h"

#include "vudaduv_model.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

CheckReport CheckAllLines(uint32_t recordType, bool en, const DataLines& data,
                          const std::string& charset) {
    std::vector<Finding> unsendable = UnsendableLines(data);
    return ReportListFindings(data, CheckList(recordType, en, data.lines, unsendable, data.numbers),
                              charset);
}

CheckReport ReportListFindings(const DataLines& data, const std::vector<ListFinding>& findings,
                               const std::string& charset) {
    std::vector<Finding> unsendable = UnsendableLines(data);
    CheckReport report;
    report.changedLines = LinesWithFindings(findings);
    for (const ListFinding& finding : findings) {
        // A line with no GBK form is named in the user's character set already.
        bool shown = finding.line < unsendable.size() &&
                     finding.what == unsendable[finding.line].what &&
                     finding.field == unsendable[finding.line].field;
        std::string what = shown ? finding.what : ShowText(charset, finding.what);
        report.lines.push_back(LinePlace(data, finding.line) + ": " +
                               (finding.field.empty() ? "" : finding.field + ": ") + what);
    }
    return report;
}

}  // namespace vudaduv::cli
