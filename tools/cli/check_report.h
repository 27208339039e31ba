// The check of a whole input, as the tool reports it: one line per finding,
// "SOURCE:LINE: field: what happens" ("SOURCE:LINE: what" for a file's cut last line), texts in
// the user's character set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lines.h"
#include "vudaduv_model.h"

namespace vudaduv::cli {

struct CheckReport {
    std::vector<std::string> lines;
    std::size_t changedLines = 0;  // data lines with at least one finding
};

CheckReport CheckAllLines(uint32_t recordType, bool en, const DataLines& data,
                          const std::string& charset);

// The same report of findings made already (the fleet's reading of a list gives them with its
// records); numbers in the findings' words are the lines' numbers in the file.
CheckReport ReportListFindings(const DataLines& data,
                               const std::vector<model::ListFinding>& findings,
                               const std::string& charset);

}  // namespace vudaduv::cli
