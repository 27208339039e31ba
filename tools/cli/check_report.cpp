#include "check_report.h"

#include <map>
#include <optional>

#include "vudaduv_model.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

CheckReport CheckAllLines(uint32_t recordType, bool en, const DataLines& data,
                          const std::string& charset) {
    std::vector<std::optional<std::string>> stored(data.lines.size());
    std::map<std::string, std::size_t> lastLineOf;  // record number -> the last line storing it
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        stored[i] = NumberedRecordOf(recordType, en, data.lines[i]);
        if (stored[i]) lastLineOf[*stored[i]] = i;
    }
    CheckReport report;
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        std::vector<Finding> findings = CheckDataLine(recordType, en, data.lines[i]);
        if (stored[i] && lastLineOf[*stored[i]] != i) {
            // A later line stores the same record: this one does not stay on the scale.
            findings.push_back({"line", "the same record is stored again by line " +
                                            std::to_string(data.numbers[lastLineOf[*stored[i]]]) +
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
