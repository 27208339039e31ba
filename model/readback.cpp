
#include <algorithm>
#include <map>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

bool Numbered(uint32_t recordType) {
    return *RecordTypeOf(recordType).numberName != '\0';
}

// The fields of an upload line of the record type, without its prefix.
std::vector<Field> UploadFields(uint32_t recordType, const std::string& line) {
    std::size_t prefix = UploadPrefix(recordType).size();
    return SplitFields(recordType, std::string_view(line).substr(std::min(prefix, line.size())));
}

// The key of an upload line of the record type; false for a line of another kind.
bool KeyOfUploadLine(uint32_t recordType, const std::string& line, std::string& key) {
    if (line.compare(0, UploadPrefix(recordType).size(), UploadPrefix(recordType)) != 0) {
        return false;
    }
    key = Numbered(recordType) ? UploadFields(recordType, line)[0].value : std::string();
    return true;
}

// What the check foresaw for the fields; a message foreseen as no line arrives empty.
std::vector<Field> ForeseenFields(uint32_t recordType, const ExpectedRecord& record) {
    if (record.foreseenLine) return UploadFields(recordType, record.foreseen);
    std::vector<Field> fields = SplitFields(recordType, record.sentLine);
    for (std::size_t i = 1; i < fields.size(); ++i) fields[i].value.clear();
    if (!fields.empty()) fields[0].value = record.key;
    return fields;
}

void CompareRecord(uint32_t recordType, const ExpectedRecord& record, const std::string& actual,
                   std::vector<Difference>& differences) {
    std::vector<Field> sent = SplitFields(recordType, record.sentLine);
    std::vector<Field> back = UploadFields(recordType, actual);
    std::vector<Field> foreseen = ForeseenFields(recordType, record);
    for (std::size_t i = 0; i < std::max(sent.size(), back.size()); ++i) {
        Field field = i < sent.size() ? sent[i] : Field{back[i].name, "", back[i].kind};
        std::string backValue = i < back.size() ? back[i].value : std::string();
        if (SameFieldValue(field, backValue)) continue;
        std::string foreseenValue = i < foreseen.size() ? foreseen[i].value : std::string();
        bool wasForeseen = field.kind == Field::kNumber
                               ? SameFieldValue(Field{"", foreseenValue, Field::kNumber}, backValue)
                               : foreseenValue == backValue;
        differences.push_back({record.key, field.name, field.value, backValue, false, wasForeseen});
    }
}

}  // namespace

ReadBackPlan PlanReadBack(uint32_t recordType, const std::vector<std::string>& dataLines, bool en) {
    ReadBackPlan plan;
    if (!StoresRecord(recordType)) return plan;
    plan.readType = ReadTypeOf(recordType);
    std::map<std::string, std::size_t> slotOfKey;
    for (const std::string& line : dataLines) {
        RoundTrip trip = RunRoundTrip(recordType, en, line);
        if (trip.rejected) {
            plan.rejected.push_back(line);
            continue;
        }
        ExpectedRecord record;
        record.key = trip.number;
        record.sentLine = line;
        // A line that comes back under another number (the record's text split it) is no line
        // of this record: the check foresaw that nothing comes back for it.
        const std::string* foreseen = RecordLine(recordType, trip.uploadLines);
        std::string foreseenKey;
        if (foreseen != nullptr && KeyOfUploadLine(recordType, *foreseen, foreseenKey) &&
            foreseenKey == record.key) {
            record.foreseenLine = true;
            record.foreseen = *foreseen;
        }
        auto [slot, fresh] = slotOfKey.emplace(record.key, plan.records.size());
        if (fresh) {
            plan.records.push_back(record);
            if (RecordTypeOf(plan.readType).takesDataLine) plan.readLines.push_back(record.key);
        } else {
            plan.records[slot->second] = record;  // the later download overwrote the earlier
        }
    }
    return plan;
}

ReadBackReport CompareReadBack(uint32_t recordType, const ReadBackPlan& plan,
                               const std::vector<std::string>& uploadLines) {
    ReadBackReport report;
    if (!StoresRecord(recordType)) return report;
    std::map<std::string, const std::string*> lineOfKey;
    for (const std::string& line : uploadLines) {
        std::string key;
        bool belongs = KeyOfUploadLine(recordType, line, key);
        auto wanted = std::find_if(plan.records.begin(), plan.records.end(),
                                   [&](const ExpectedRecord& r) { return r.key == key; });
        if (!belongs || wanted == plan.records.end() || !lineOfKey.emplace(key, &line).second) {
            report.otherLines.push_back(line);
        }
    }
    for (const ExpectedRecord& record : plan.records) {
        auto found = lineOfKey.find(record.key);
        if (found != lineOfKey.end()) {
            CompareRecord(recordType, record, *found->second, report.differences);
            continue;
        }
        if (!IsEmptyMessage(recordType, record.sentLine)) {
            report.differences.push_back(
                {record.key, "record", record.sentLine, "", true, !record.foreseenLine});
        }
    }
    return report;
}

std::string RecordName(uint32_t recordType, const std::string& key) {
    const RecordType& type = RecordTypeOf(recordType);
    std::string name = type.numberName;
    // "item number" names the record "item 0012"; a type without a number goes by its name.
    if (name.empty()) return recordType == 7 ? "type 7 data" : type.name;
    return name.substr(0, name.find(' ')) + " " + key;
}

}  // namespace vudaduv::model
