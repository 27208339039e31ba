// Reading a download back from the scale and telling what came back different.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "readback.h"
#include "scale_link.h"

namespace vudaduv::cli {

struct ReadBackResult {
    int32_t result = 0;  // of the read request's send
    ReadBackPlan plan;
    ReadBackReport report;
    std::vector<std::string> uploadLines;  // what the read request brought back
};

// Sends the read requests for what dataLines of recordType stored and compares the answers with
// what they should be. "Rec.txt" is left as it was before the read.
ReadBackResult ReadBack(const ScaleLink& link, uint32_t recordType,
                        const std::vector<std::string>& dataLines);

// Reads back over link and prints every difference on stderr, texts shown in charset; name
// says which scale (empty for the only one). True when everything came back as sent.
bool VerifyDownload(const ScaleLink& link, const std::string& name, uint32_t recordType,
                    const std::vector<std::string>& dataLines, const std::string& charset);

// Prints one difference: which record, which field, what was expected and what came back.
void PrintDifference(std::FILE* out, const std::string& prefix, const std::string& indent,
                     uint32_t recordType, const Difference& difference, const std::string& charset);

// A long value cut to a readable piece around its first byte that differs from other.
std::string ShortenAtDifference(const std::string& value, const std::string& other);

}  // namespace vudaduv::cli
