#include "verify.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "lines.h"
#include "vudaduv_model.h"

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
    if (difference.asWritten) {
        std::fprintf(out,
                     "%s%s: %s came back as written, not as the check foresaw\n%ssent:      %s\n",
                     prefix.c_str(), record.c_str(), difference.field.c_str(), indent.c_str(),
                     ShowText(charset, Quoted(difference.sent)).c_str());
        return;
    }
    std::size_t at = static_cast<std::size_t>(
        std::mismatch(
            difference.sent.begin(),
            difference.sent.begin() + static_cast<std::ptrdiff_t>(
                                          std::min(difference.sent.size(), difference.back.size())),
            difference.back.begin())
            .first -
        difference.sent.begin());
    std::fprintf(out, "%s%s: %s came back different (%s)\n%ssent:      %s\n%scame back: %s\n",
                 prefix.c_str(), record.c_str(), difference.field.c_str(), Origin(difference),
                 indent.c_str(), ShowText(charset, Quoted(difference.sent, at)).c_str(),
                 indent.c_str(), ShowText(charset, Quoted(difference.back, at)).c_str());
}

ReadBackResult ReadBack(const ScaleLink& link, const std::vector<std::string>& targets,
                        uint32_t recordType, const std::vector<std::string>& dataLines) {
    ReadBackResult readBack;
    readBack.plan = PlanReadBack(recordType, dataLines, link.en);
    std::size_t scales = link.serial ? 1 : targets.size();
    if (readBack.plan.records.empty() || scales == 0) return readBack;
    const std::vector<std::string>& reads = *readBack.plan.reads.commands;
    std::vector<ScaleResult> results = SendCommands(link, targets, reads);
    for (ScaleResult& result : results) {
        ScaleReadBack scale;
        scale.name = result.name;
        scale.failure = FailureCause(result, reads.size());
        scale.uploadLines = std::move(result.uploadLines);
        scale.report = CompareReadBack(recordType, readBack.plan, scale.uploadLines);
        readBack.scales.push_back(std::move(scale));
    }
    return readBack;
}

bool PrintVerification(const ReadBackResult& readBack, bool named, uint32_t recordType,
                       const std::string& charset) {
    bool allSame = true;
    for (const ScaleReadBack& scale : readBack.scales) {
        std::string prefix = named ? "verify " + scale.name + ": " : "verify: ";
        for (const std::string& line : readBack.plan.rejected) {
            std::fprintf(stderr, "%snot sent (the library leaves this data line out): %s\n",
                         prefix.c_str(), ShowText(charset, Quoted(line)).c_str());
        }
        if (!scale.failure.empty()) {
            std::fprintf(stderr, "%sreading back failed: %s\n", prefix.c_str(),
                         scale.failure.c_str());
            allSame = false;
            continue;
        }
        std::size_t unforeseen = 0;
        for (const Difference& difference : scale.report.differences) {
            PrintDifference(stderr, prefix, "  ", recordType, difference, charset);
            if (!difference.foreseen) ++unforeseen;
        }
        for (const std::string& line : scale.report.otherLines) {
            std::fprintf(stderr, "%sthe scale also answered: %s\n", prefix.c_str(),
                         ShowText(charset, Quoted(line)).c_str());
        }
        std::size_t total = readBack.plan.records.size();
        std::size_t differing = scale.report.differences.size();
        if (differing == 0) {
            std::fprintf(stderr, "%sall %zu record(s) came back as written\n", prefix.c_str(),
                         total);
        } else {
            std::fprintf(stderr,
                         "%s%zu difference(s) in %zu record(s), %zu not foreseen by the check\n",
                         prefix.c_str(), differing, total, unforeseen);
        }
        allSame = allSame && scale.report.notAsForeseen == 0;
    }
    return allSame;
}

}  // namespace vudaduv::cli
