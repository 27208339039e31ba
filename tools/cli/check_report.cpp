#include "check_report.h"

#include "check.h"

namespace vudaduv::cli {

CheckReport CheckAllLines(uint32_t recordType, bool en, const DataLines& data,
                          const std::string& charset) {
    CheckReport report;
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        std::vector<Finding> findings = CheckDataLine(recordType, en, data.lines[i]);
        if (!findings.empty()) ++report.changedLines;
        for (const Finding& finding : findings) {
            report.lines.push_back(LinePlace(data, i) + ": " + finding.field + ": " +
                                   ShowText(charset, finding.what));
        }
    }
    return report;
}

}  // namespace vudaduv::cli
