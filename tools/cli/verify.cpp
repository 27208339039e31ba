#include "verify.h"

#include <algorithm>
#include <cstdio>

#include "lines.h"
#include "platform/platform.h"
#include "upload/upload.h"
#include "vudaduv.h"

namespace vudaduv::cli {

namespace {

constexpr std::size_t kShownBytes = 60;

}  // namespace

std::string ShortenAtDifference(const std::string& value, const std::string& other) {
    if (value.size() <= kShownBytes) return value;
    auto mismatch = std::mismatch(value.begin(), value.end(), other.begin(),
                                  other.begin() + std::min(value.size(), other.size()));
    std::size_t at = static_cast<std::size_t>(mismatch.first - value.begin());
    std::size_t start = at > kShownBytes / 2 ? at - kShownBytes / 2 : 0;
    std::string piece = value.substr(start, kShownBytes);
    return (start > 0 ? "..." : "") + piece + (start + piece.size() < value.size() ? "..." : "") +
           " (" + std::to_string(value.size()) + " bytes, first difference at byte " +
           std::to_string(at) + ")";
}

void PrintDifference(std::FILE* out, const std::string& prefix, const std::string& indent,
                     uint32_t recordType, const Difference& difference,
                     const std::string& charset) {
    std::string record = RecordName(recordType, difference.key);
    if (difference.missing) {
        std::fprintf(out, "%s%s: nothing came back\n%sexpected:  %s\n", prefix.c_str(),
                     record.c_str(), indent.c_str(),
                     ShowText(charset, difference.expected).c_str());
        return;
    }
    std::string expected = ShortenAtDifference(difference.expected, difference.actual);
    std::string actual = ShortenAtDifference(difference.actual, difference.expected);
    std::fprintf(out, "%s%s: %s came back different\n%sexpected:  %s\n%scame back: %s\n",
                 prefix.c_str(), record.c_str(), difference.field.c_str(), indent.c_str(),
                 ShowText(charset, expected).c_str(), indent.c_str(),
                 ShowText(charset, actual).c_str());
}

ReadBackResult ReadBack(const ScaleLink& link, uint32_t recordType,
                        const std::vector<std::string>& dataLines) {
    ReadBackResult readBack;
    readBack.plan = PlanReadBack(recordType, dataLines, link.en);
    if (readBack.plan.records.empty()) {
        readBack.result = WQ_NOTHING_TO_SEND;
        return readBack;
    }
    std::string before = ReadUploadFile();
    SendOutcome outcome = SendAndCollect(link, readBack.plan.readType, readBack.plan.readLines);
    platform::ReplaceFileBytes(kUploadFileName, before);
    readBack.result = outcome.result;
    readBack.uploadLines = outcome.uploadLines;
    readBack.report = CompareReadBack(recordType, readBack.plan, outcome.uploadLines);
    return readBack;
}

bool VerifyDownload(const ScaleLink& link, const std::string& name, uint32_t recordType,
                    const std::vector<std::string>& dataLines, const std::string& charset) {
    std::string prefix = name.empty() ? "verify: " : "verify " + name + ": ";
    ReadBackResult readBack = ReadBack(link, recordType, dataLines);
    for (const std::string& line : readBack.plan.rejected) {
        std::fprintf(stderr, "%snot sent (the library rejects this data line): %s\n",
                     prefix.c_str(), ShowText(charset, line).c_str());
    }
    if (readBack.result != WQ_OK) {
        std::fprintf(stderr, "%sreading back failed: result %d (%s)\n", prefix.c_str(),
                     readBack.result, ResultWords(readBack.result).c_str());
        return false;
    }
    for (const Difference& difference : readBack.report.differences) {
        PrintDifference(stderr, prefix, "  ", recordType, difference, charset);
    }
    for (const std::string& line : readBack.report.otherLines) {
        std::fprintf(stderr, "%sthe scale also answered: %s\n", prefix.c_str(),
                     ShowText(charset, line).c_str());
    }
    std::size_t total = readBack.plan.records.size();
    std::size_t differing = readBack.report.differences.size();
    if (differing == 0) {
        std::fprintf(stderr, "%sall %zu record(s) came back as sent\n", prefix.c_str(), total);
    } else {
        std::fprintf(stderr, "%s%zu of %zu record(s) came back different\n", prefix.c_str(),
                     differing, total);
    }
    return differing == 0;
}

}  // namespace vudaduv::cli
