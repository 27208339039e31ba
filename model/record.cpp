// Records as a scale keeps them: where each lives (its key), the image of a scale, and the one
// rule for two upload lines that a scale holds alike.
#include <algorithm>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

bool Numbered(uint32_t type) {
    return RecordTypeOf(type).numberWidth > 0;
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number as the scale's replies write it: the type's width of digits.
std::string NumberText(const RecordKey& key) {
    if (key.number < 0) return "";
    return PadNumericField(key.number, RecordTypeOf(key.type).numberWidth);
}

// The fields of an upload line, without its prefix.
std::vector<Field> FieldsOf(const RecordKey& key, const std::string& line) {
    std::size_t prefix = std::min(UploadPrefix(key.type).size(), line.size());
    return SplitFields(key.type, std::string_view(line).substr(prefix));
}

std::string ValueAt(const std::vector<Field>& fields, std::size_t i) {
    return i < fields.size() ? fields[i].value : std::string();
}

std::string NameAt(const std::vector<Field>& a, const std::vector<Field>& b, std::size_t i) {
    return i < a.size() ? a[i].name : b[i].name;
}

}  // namespace

bool operator<(const RecordKey& a, const RecordKey& b) {
    return a.type != b.type ? a.type < b.type : a.number < b.number;
}

bool operator==(const RecordKey& a, const RecordKey& b) {
    return a.type == b.type && a.number == b.number;
}

std::string KeyName(const RecordKey& key) {
    return RecordName(key.type, NumberText(key));
}

bool KeyOfUploadLine(const std::string& line, RecordKey& key) {
    const RecordType* type = StoredTypeOfUploadLine(line);
    if (type == nullptr) return false;
    key = RecordKey{type->code, -1};
    if (!Numbered(type->code)) return true;
    // The number runs up to the first "A" (no double-byte text comes before it).
    std::size_t prefix = std::string_view(type->uploadPrefix).size();
    std::string number = line.substr(prefix, line.find('A', prefix) - prefix);
    if (!AllDigits(number) || number.size() > type->numberWidth) return false;
    key.number = std::stoi(number);
    return key.number <= type->numberMaximum;
}

bool KeyOfDataLine(uint32_t recordType, bool en, const std::string& line, RecordKey& key) {
    std::optional<std::string> number = StoredRecordKeyOf(recordType, en, line);
    if (!number) return false;
    key = RecordKey{recordType, number->empty() ? -1 : ReadLeadingInteger(*number)};
    return true;
}

bool IsKeyOf(const RecordKey& key, const std::string& numberSent) {
    if (!Numbered(key.type)) return key.number < 0 && numberSent.empty();
    return AllDigits(numberSent) && key.number == ReadLeadingInteger(numberSent);
}

bool HoldsNothing(const std::string& uploadLine) {
    RecordKey key;
    if (!KeyOfUploadLine(uploadLine, key) || !Numbered(key.type)) return false;
    // Only separators may follow the number of an empty record; most records fail this at once.
    std::size_t a = uploadLine.find('A');
    if (uploadLine.find_first_not_of("#B", a + 1) != std::string::npos) return false;
    std::vector<Field> fields = FieldsOf(key, uploadLine);
    return std::all_of(fields.begin() + 1, fields.end(),
                       [](const Field& field) { return field.value.empty(); });
}

std::vector<FieldChange> ChangedFields(const RecordKey& key, const std::string& a,
                                       const std::string& b) {
    std::vector<Field> before = FieldsOf(key, a);
    std::vector<Field> after = FieldsOf(key, b);
    std::vector<FieldChange> changes;
    for (std::size_t i = 0; i < std::max(before.size(), after.size()); ++i) {
        std::string old = ValueAt(before, i);
        std::string now = ValueAt(after, i);
        bool same = i < before.size() && before[i].kind == Field::kNumber
                        ? SameFieldValue(before[i], now)
                        : old == now;
        if (!same) changes.push_back({NameAt(before, after, i), old, now});
    }
    return changes;
}

bool SameRecord(const std::string& a, const std::string& b) {
    if (a == b) return true;
    RecordKey keyA;
    RecordKey keyB;
    if (!KeyOfUploadLine(a, keyA) || !KeyOfUploadLine(b, keyB)) return a == b;
    return keyA == keyB && ChangedFields(keyA, a, b).empty();
}

std::string RemovalLine(const RecordKey& key) {
    if (!Numbered(key.type)) return "";
    // An item or a message with nothing after its number; a label with both texts empty.
    return NumberText(key) + (key.type == 10 ? "AB" : "A");
}

}  // namespace vudaduv::model
