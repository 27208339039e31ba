
// Reading records back: the read requests of records, built here once for the fleet's reads and
// a send's --verify alike, the plan of a send's read-back (what each record should come back
// as, as the check foresaw it), the comparison of what came back, and the one "came back as
// foreseen" verdict that a send's read-back and a sync's both give.
#include <algorithm>
#include <map>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

// The fields of an upload line of the record type, without its prefix.
std::vector<Field> UploadFields(uint32_t recordType, const std::string& line) {
    std::size_t prefix = UploadPrefix(recordType).size();
    return SplitFields(recordType, std::string_view(line).substr(std::min(prefix, line.size())));
}

// Whether an upload line is one of the record whose number was sent as numberSent.
bool IsLineOf(uint32_t recordType, const std::string& numberSent, const std::string& line) {
    RecordKey key;
    return KeyOfUploadLine(line, key) && key.type == recordType && IsKeyOf(key, numberSent);
}

// What the check foresaw for the fields; a message foreseen as no line arrives empty.
std::vector<Field> ForeseenFields(uint32_t recordType, const ExpectedRecord& record) {
    if (record.foreseenLine) return UploadFields(recordType, record.foreseen);
    std::vector<Field> fields = SplitFields(recordType, record.sentLine);
    for (std::size_t i = 1; i < fields.size(); ++i) fields[i].value.clear();
    if (!fields.empty()) fields[0].value = record.key;
    return fields;
}

// Every field that came back otherwise than written, or otherwise than foreseen: a field that
// came back as written where the check foresaw a change is no difference to the user, but the
// record did not come back as foreseen, and the report says why.
void CompareRecord(uint32_t recordType, const ExpectedRecord& record, const std::string& actual,
                   std::vector<Difference>& differences) {
    std::vector<Field> sent = SplitFields(recordType, record.sentLine);
    std::vector<Field> back = UploadFields(recordType, actual);
    std::vector<Field> foreseen = ForeseenFields(recordType, record);
    std::size_t fields = std::max({sent.size(), back.size(), foreseen.size()});
    for (std::size_t i = 0; i < fields; ++i) {
        const std::vector<Field>& named = i < back.size() ? back : foreseen;
        Field field = i < sent.size() ? sent[i] : Field{named[i].name, "", named[i].kind};
        std::string backValue = i < back.size() ? back[i].value : std::string();
        std::string foreseenValue = i < foreseen.size() ? foreseen[i].value : std::string();
        bool wasForeseen = field.kind == Field::kNumber
                               ? SameFieldValue(Field{"", foreseenValue, Field::kNumber}, backValue)
                               : foreseenValue == backValue;
        bool asWritten = SameFieldValue(field, backValue);
        if (asWritten && wasForeseen) continue;
        differences.push_back(
            {record.key, field.name, field.value, backValue, false, wasForeseen, asWritten});
    }
}

}  // namespace

std::vector<std::string> ReadDataLines(const RecordKey& key) {
    const RecordType& type = RecordTypeOf(key.type);
    if (type.numberWidth == 0 || key.number < 0) return {};
    return {PadNumericField(key.number, type.numberWidth)};
}

ReadRequests BuildReadRequests(const std::vector<RecordKey>& keys, bool en) {
    ReadRequests requests;
    auto commands = std::make_shared<std::vector<std::string>>();
    for (const RecordKey& key : keys) {
        if (!StoresRecord(key.type)) continue;
        std::vector<std::string> reads =
            BuildCommandList(ReadTypeOf(key.type), ReadDataLines(key), en);
        if (reads.empty()) continue;
        requests.keys.push_back(key);
        requests.commandsOfKey.push_back(reads.size());
        commands->insert(commands->end(), reads.begin(), reads.end());
    }
    requests.commands = std::move(commands);
    return requests;
}

ReadBackPlan PlanReadBack(uint32_t recordType, const std::vector<std::string>& dataLines, bool en) {
    ReadBackPlan plan;
    if (!StoresRecord(recordType)) return plan;
    plan.readType = ReadTypeOf(recordType);
    std::vector<RecordKey> keys;
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
        if (foreseen != nullptr && IsLineOf(recordType, record.key, *foreseen)) {
            record.foreseenLine = true;
            record.foreseen = *foreseen;
        }
        auto [slot, fresh] = slotOfKey.emplace(record.key, plan.records.size());
        if (fresh) {
            plan.records.push_back(record);
            keys.push_back(KeyOfNumberSent(recordType, record.key));
            for (std::string& line : ReadDataLines(keys.back())) {
                plan.readLines.push_back(std::move(line));
            }
        } else {
            plan.records[slot->second] = record;  // the later download overwrote the earlier
        }
    }
    plan.reads = BuildReadRequests(keys, en);
    return plan;
}

ReadBackReport CompareReadBack(uint32_t recordType, const ReadBackPlan& plan,
                               const std::vector<std::string>& uploadLines) {
    ReadBackReport report;
    if (!StoresRecord(recordType)) return report;
    // The line of each record asked for, by its place in the plan; a second line of a record is
    // no line of it.
    std::map<std::size_t, const std::string*> lineOfRecord;
    for (const std::string& line : uploadLines) {
        auto wanted = std::find_if(
            plan.records.begin(), plan.records.end(),
            [&](const ExpectedRecord& r) { return IsLineOf(recordType, r.key, line); });
        std::size_t place = static_cast<std::size_t>(wanted - plan.records.begin());
        if (wanted == plan.records.end() || !lineOfRecord.emplace(place, &line).second) {
            report.otherLines.push_back(line);
        }
    }
    for (std::size_t place = 0; place < plan.records.size(); ++place) {
        const ExpectedRecord& record = plan.records[place];
        auto found = lineOfRecord.find(place);
        const std::string* back = found == lineOfRecord.end() ? nullptr : found->second;
        bool asForeseen =
            CameBackAsForeseen(record.foreseenLine ? record.foreseen : std::string(), back);
        report.notAsForeseen += asForeseen ? 0 : 1;
        if (back != nullptr) {
            CompareRecord(recordType, record, *back, report.differences);
        } else if (!IsEmptyMessage(recordType, record.sentLine)) {
            report.differences.push_back(
                {record.key, "record", record.sentLine, "", true, asForeseen});
        }
    }
    return report;
}

bool CameBackAsForeseen(const std::string& foreseen, const std::string* back) {
    bool nothingBack = back == nullptr || HoldsNothing(*back);
    if (foreseen.empty() || HoldsNothing(foreseen)) return nothingBack;
    return !nothingBack && SameRecord(*back, foreseen);
}

}  // namespace vudaduv::model
