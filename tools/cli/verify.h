// Reading a download back from the scale and telling what came back different from the data
// lines as written, and whether the check foresaw it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scale_link.h"
#include "vudaduv_model.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

// What one scale gave back.
struct ScaleReadBack {
    std::string name;     // its address; "" for the serial line
    std::string failure;  // why the read requests got no answers; "" when they did
    std::vector<std::string> uploadLines;
    ReadBackReport report;
};

struct ReadBackResult {
    ReadBackPlan plan;
    std::vector<ScaleReadBack> scales;  // in the order of the targets
};

// Sends the read requests for what dataLines of recordType stored to every target at once (or
// over link's serial line) and compares each scale's answers with the lines. A scale that fails
// never stops the others' read-back.
ReadBackResult ReadBack(const ScaleLink& link, const std::vector<std::string>& targets,
                        uint32_t recordType, const std::vector<std::string>& dataLines);

// Prints every scale's differences on stderr, texts shown in charset; named puts each scale's
// address in front. True when nothing came back different that the check did not foresee.
bool PrintVerification(const ReadBackResult& readBack, bool named, uint32_t recordType,
                       const std::string& charset);

// Prints one difference: which record, which field, what was sent and what came back.
void PrintDifference(std::FILE* out, const std::string& prefix, const std::string& indent,
                     uint32_t recordType, const Difference& difference, const std::string& charset);

}  // namespace vudaduv::cli
