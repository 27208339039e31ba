#include "verify.h"

#include <algorithm>
#include <iterator>
#include <cstdio>

#include "vudaduv_model.h"
#include "lines.h"
#include "platform/platform.h"
#include "vudaduv_codec.h"
#include "vudaduv.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

namespace {

const char* Origin(const Difference& difference) {
    return difference.foreseen ? "foreseen by the check" : "made by the scale";
}

}  // namespace

void PrintDifference(std::FILE* out, const std::string& prefix, const std::string& indent,
                     uint32_t recordType, const Difference& difference,
                     const std::string& charset) {
    std::string record = RecordName(recordType, difference.key);
    if (difference.missing) {
        std::fprintf(out, "%s%s: nothing came back (%s)\n%ssent:      %s\n", prefix.c_str(),
                     record.c_str(), Origin(difference), indent.c_str(),
                     ShowText(charset, Quoted(difference.sent)).c_str());
        return;
    }
    std::size_t at = static_cast<std::size_t>(
        std::mismatch(difference.sent.begin(),
                      difference.sent.begin() +
                          static_cast<std::ptrdiff_t>(
                              std::min(difference.sent.size(), difference.back.size())),
                      difference.back.begin())
            .first -
        difference.sent.begin());
    std::fprintf(out, "%s%s: %s came back different (%s)\n%ssent:      %s\n%scame back: %s\n",
                 prefix.c_str(), record.c_str(), difference.field.c_str(), Origin(difference),
                 indent.c_str(), ShowText(charset, Quoted(difference.sent, at)).c_str(),
                 indent.c_str(), ShowText(charset, Quoted(difference.back, at)).c_str());
}

ReadBackResult ReadBack(const ScaleLink& link, uint32_t recordType,
                        const std::vector<std::string>& dataLines, bool keepUploadFile) {
    ReadBackResult readBack;
    readBack.plan = PlanReadBack(recordType, dataLines, link.en);
    if (readBack.plan.records.empty()) {
        readBack.failure = "nothing to read back";
        return readBack;
    }
    std::string before = ReadUploadFile();
    SendOutcome outcome = SendLines(link, readBack.plan.readType, readBack.plan.readLines);
    if (!keepUploadFile && !platform::ReplaceFileBytes(kUploadFileName, before)) {
        // Nothing is lost, but the file holds more than the user's send left: say so.
        std::fprintf(stderr,
                     "verify: \"Rec.txt\" could not be put back as it was: it also holds the "
                     "upload lines of the read-back\n");
    }
    readBack.sent = outcome.uploadFileWritten;
    for (const ScaleResult& scale : outcome.scales) {
        std::string cause = FailureCause(scale, outcome.commands.size());
        if (!cause.empty()) {
            readBack.sent = false;
            readBack.failure = cause;
        }
        readBack.uploadLines.insert(readBack.uploadLines.end(), scale.uploadLines.begin(),
                                    scale.uploadLines.end());
    }
    if (!outcome.uploadFileWritten) readBack.failure = "\"Rec.txt\" could not be written";
    readBack.report = CompareReadBack(recordType, readBack.plan, readBack.uploadLines);
    return readBack;
}

bool VerifyDownload(const ScaleLink& link, const std::string& name, uint32_t recordType,
                    const std::vector<std::string>& dataLines, const std::string& charset) {
    std::string prefix = name.empty() ? "verify: " : "verify " + name + ": ";
    ReadBackResult readBack = ReadBack(link, recordType, dataLines);
    for (const std::string& line : readBack.plan.rejected) {
        std::fprintf(stderr, "%snot sent (the library leaves this data line out): %s\n",
                     prefix.c_str(), ShowText(charset, Quoted(line)).c_str());
    }
    if (!readBack.sent) {
        std::fprintf(stderr, "%sreading back failed: %s\n", prefix.c_str(),
                     readBack.failure.c_str());
        return false;
    }
    std::size_t unforeseen = 0;
    for (const Difference& difference : readBack.report.differences) {
        PrintDifference(stderr, prefix, "  ", recordType, difference, charset);
        if (!difference.foreseen) ++unforeseen;
    }
    for (const std::string& line : readBack.report.otherLines) {
        std::fprintf(stderr, "%sthe scale also answered: %s\n", prefix.c_str(),
                     ShowText(charset, Quoted(line)).c_str());
    }
    std::size_t total = readBack.plan.records.size();
    std::size_t differing = readBack.report.differences.size();
    if (differing == 0) {
        std::fprintf(stderr, "%sall %zu record(s) came back as written\n", prefix.c_str(), total);
    } else {
        std::fprintf(stderr, "%s%zu difference(s) in %zu record(s), %zu not foreseen by the check\n",
                     prefix.c_str(), differing, total, unforeseen);
    }
    return unforeseen == 0;
}

}  // namespace vudaduv::cli
