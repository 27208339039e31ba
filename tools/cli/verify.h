// Reading a download back from the scale and telling what came back different from the data
// lines as written, and whether the check foresaw it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vudaduv_model.h"
#include "scale_link.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

struct ReadBackResult {
    bool sent = false;  // the read requests went out and every scale answered them
    std::string failure;  // why not, when they did not
    ReadBackPlan plan;
    ReadBackReport report;
    std::vector<std::string> uploadLines;  // what the read request brought back
};

// Sends the read requests for what dataLines of recordType stored and compares the answers with
// the lines. "Rec.txt" is left as it was before the read unless keepUploadFile is set.
ReadBackResult ReadBack(const ScaleLink& link, uint32_t recordType,
                        const std::vector<std::string>& dataLines, bool keepUploadFile = false);

// Reads back over link and prints every difference on stderr, texts shown in charset; name
// says which scale (empty for the only one). True when nothing came back different that the
// check did not foresee.
bool VerifyDownload(const ScaleLink& link, const std::string& name, uint32_t recordType,
                    const std::vector<std::string>& dataLines, const std::string& charset);

// Prints one difference: which record, which field, what was sent and what came back.
void PrintDifference(std::FILE* out, const std::string& prefix, const std::string& indent,
                     uint32_t recordType, const Difference& difference, const std::string& charset);

}  // namespace vudaduv::cli
