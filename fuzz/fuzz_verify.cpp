// The comparison that `--verify` makes of what a scale gave back with the data lines as written:
// the first input byte chooses the stored record type (its low bits) and the En flag (its high
// bit); the rest is data lines, one a line, then an empty line and the reply file the scale's
// answers make (any bytes). Whatever came back, the comparison throws no exception, every
// difference names a field of a record that was sent ("record" when nothing came back for it)
// and every upload line it does not match to a record is listed as another line. A read-back
// that gives back what the check foresaw holds no difference the check did not foresee, and a
// record whose line the check passes compares with itself without any.
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_driver.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

using vudaduv::model::Difference;
using vudaduv::model::ExpectedRecord;
using vudaduv::model::ReadBackPlan;
using vudaduv::model::ReadBackReport;

namespace {

// The record types that store what a read request reads back, in the codec's order.
std::vector<uint32_t> StoredTypes() {
    std::vector<uint32_t> stored;
    for (const vudaduv::RecordType& type : vudaduv::kRecordTypes) {
        if (type.role == vudaduv::RecordRole::kStores) stored.push_back(type.code);
    }
    return stored;
}
constexpr std::size_t kMostDataLines = 8;

// Lines between LFs, without a CR at their end (how the tool reads its input and its upload
// lines).
std::vector<std::string> LinesOf(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

ReadBackReport Compare(uint32_t recordType, const ReadBackPlan& plan,
                       const std::vector<std::string>& uploadLines) {
    try {
        return vudaduv::model::CompareReadBack(recordType, plan, uploadLines);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        FuzzCheck(false, "the comparison throws no exception");
    }
    return {};
}

const ExpectedRecord* RecordOf(const ReadBackPlan& plan, const std::string& key) {
    for (const ExpectedRecord& record : plan.records) {
        if (record.key == key) return &record;
    }
    return nullptr;
}

bool OneOf(const std::string& line, const std::vector<std::string>& lines) {
    for (const std::string& known : lines) {
        if (known == line) return true;
    }
    return false;
}

void CheckShape(const ReadBackPlan& plan, const ReadBackReport& report,
                const std::vector<std::string>& uploadLines) {
    for (const Difference& difference : report.differences) {
        FuzzCheck(RecordOf(plan, difference.key) != nullptr, "a difference is of a record sent");
        FuzzCheck(!difference.field.empty(), "a difference names a field");
        FuzzCheck(difference.missing == (difference.field == "record"),
                  "a record that did not come back is named as such, and only it");
    }
    FuzzCheck(report.otherLines.size() <= uploadLines.size(), "other lines are upload lines");
    for (const std::string& line : report.otherLines) {
        FuzzCheck(OneOf(line, uploadLines), "other lines are upload lines");
    }
}

// The scale gave back what the check foresaw.
void CheckForeseenReadBack(uint32_t recordType, bool en, const ReadBackPlan& plan) {
    std::vector<std::string> foreseen;
    for (const ExpectedRecord& record : plan.records) {
        if (record.foreseenLine) foreseen.push_back(record.foreseen);
    }
    ReadBackReport report = Compare(recordType, plan, foreseen);
    CheckShape(plan, report, foreseen);
    for (const Difference& difference : report.differences) {
        FuzzCheck(difference.foreseen, "what the check foresaw is foreseen");
        const ExpectedRecord* record = RecordOf(plan, difference.key);
        FuzzCheck(!vudaduv::model::CheckDataLine(recordType, en, record->sentLine).empty(),
                  "a line the check passes compares with itself without a difference");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    uint8_t choice = input.Byte();
    static const std::vector<uint32_t> stored = StoredTypes();
    uint32_t recordType = stored[(choice & 0x7F) % stored.size()];
    bool en = (choice & 0x80) != 0;
    std::string_view rest = input.Rest();
    std::size_t end = rest.find("\n\n");
    std::vector<std::string> dataLines;
    for (std::string& line : LinesOf(rest.substr(0, end))) {
        if (!line.empty() && dataLines.size() < kMostDataLines) dataLines.push_back(line);
    }
    std::string replies(end == std::string_view::npos ? "" : rest.substr(end + 2));

    ReadBackPlan plan = vudaduv::model::PlanReadBack(recordType, dataLines, en);
    std::vector<std::string> uploadLines = LinesOf(vudaduv::ConvertUploadText(replies, en));
    CheckShape(plan, Compare(recordType, plan, uploadLines), uploadLines);
    CheckForeseenReadBack(recordType, en, plan);
    return 0;
}
