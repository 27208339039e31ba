// The check of a whole list: every line's findings, the lines that cannot be sent at all, and
// the records that a later line stores again. It is the one verdict on a list, whoever sends it
// (the tool's send, check and sync, the fleet's C library).
#include <map>

#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

// "item 0042" of the record a line stores; "" for a line the library leaves out.
std::string RecordNameOfLine(uint32_t recordType, bool en, const std::string& line) {
    RecordKey key;
    return KeyOfDataLine(recordType, en, line, key) ? KeyName(key) : std::string();
}

bool Unsendable(const std::vector<Finding>& unsendable, std::size_t i) {
    return i < unsendable.size() && !unsendable[i].what.empty();
}

}  // namespace

std::vector<ListFinding> FindingsOfList(uint32_t recordType, bool en,
                                        const std::vector<std::string>& lines,
                                        const std::vector<std::vector<Finding>>& lineFindings,
                                        const std::vector<Finding>& unsendable,
                                        const std::vector<std::size_t>& numbers) {
    std::vector<std::size_t> over = LinesStoredOverLater(recordType, en, lines);
    std::vector<ListFinding> findings;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::vector<Finding> own;
        if (Unsendable(unsendable, i)) {
            own.push_back(unsendable[i]);
        } else if (i < lineFindings.size()) {
            own = lineFindings[i];
        }
        if (over[i] != kNotOverwritten) {
            own.push_back(
                {"line", "the same record is stored again by line " +
                             std::to_string(over[i] < numbers.size() ? numbers[over[i]] : over[i]) +
                             ", which overwrites it"});
        }
        if (own.empty()) continue;
        std::string record = RecordNameOfLine(recordType, en, lines[i]);
        for (Finding& finding : own) {
            findings.push_back({i, record, std::move(finding.field), std::move(finding.what)});
        }
    }
    return findings;
}

std::vector<ListFinding> CheckList(uint32_t recordType, bool en,
                                   const std::vector<std::string>& lines,
                                   const std::vector<Finding>& unsendable,
                                   const std::vector<std::size_t>& numbers) {
    std::vector<std::vector<Finding>> lineFindings(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!Unsendable(unsendable, i)) lineFindings[i] = CheckDataLine(recordType, en, lines[i]);
    }
    return FindingsOfList(recordType, en, lines, lineFindings, unsendable, numbers);
}

std::size_t LinesWithFindings(const std::vector<ListFinding>& findings) {
    std::size_t lines = 0;
    for (std::size_t i = 0; i < findings.size(); ++i) {
        if (i == 0 || findings[i].line != findings[i - 1].line) ++lines;
    }
    return lines;
}

bool EndsWithoutLineEnd(std::string_view text) {
    std::size_t lastEnd = text.rfind('\n');
    std::string_view last = lastEnd == std::string_view::npos ? text : text.substr(lastEnd + 1);
    return last.find_first_not_of(" \t\r\v\f") != std::string_view::npos;
}

Finding CutLastLineFinding() {
    return {"", "no line end; the file may have been cut while it was written"};
}

}  // namespace vudaduv::model
