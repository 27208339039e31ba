#include "check_report.h"

#include "vudaduv_model.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

namespace {

bool Unconvertible(const DataLines& data, std::size_t i) {
    return i < data.unconvertible.size() && !data.unconvertible[i].empty();
}

}  // namespace

CheckReport CheckAllLines(uint32_t recordType, bool en, const DataLines& data,
                          const std::string& charset) {
    std::vector<std::vector<Finding>> findings(data.lines.size());
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        if (!Unconvertible(data, i)) findings[i] = CheckDataLine(recordType, en, data.lines[i]);
    }
    return ReportFindings(recordType, en, data, findings, charset);
}

CheckReport ReportFindings(uint32_t recordType, bool en, const DataLines& data,
                           const std::vector<std::vector<Finding>>& lineFindings,
                           const std::string& charset) {
    std::vector<std::size_t> over = LinesStoredOverLater(recordType, en, data.lines);
    CheckReport report;
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        if (Unconvertible(data, i)) {
            // Already in the user's character set: the line was never GBK.
            ++report.changedLines;
            report.lines.push_back(LinePlace(data, i) + ": line: " + data.unconvertible[i]);
            continue;
        }
        std::vector<Finding> findings = lineFindings[i];
        if (over[i] != kNotOverwritten) {
            findings.push_back({"line", "the same record is stored again by line " +
                                            std::to_string(data.numbers[over[i]]) +
                                            ", which overwrites it"});
        }
        if (!findings.empty()) ++report.changedLines;
        for (const Finding& finding : findings) {
            report.lines.push_back(LinePlace(data, i) + ": " + finding.field + ": " +
                                   ShowText(charset, finding.what));
        }
    }
    return report;
}

}  // namespace vudaduv::cli
