// Records as a scale keeps them, the one record model: which types store records, the field
// layout of each stored type, where each record lives (its key, from a data line, a number as
// sent or an upload line), the image of a scale and what a line of it can hold, and the one rule
// for two upload lines that a scale holds alike. The check, the read-back and the fleet ask here.
#include <algorithm>
#include <map>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

bool Numbered(uint32_t type) {
    return RecordTypeOf(type).numberWidth > 0;
}

// The entry of a stored record type; nullptr for the others.
const RecordType* FindStored(uint32_t recordType) {
    const RecordType& type = RecordTypeOf(recordType);
    return type.role == RecordRole::kStores ? &type : nullptr;
}

bool StartsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    return digits;
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

// One field of a stored type's line, in the order of the line.
struct FieldSpec {
    const char* name;  // "" for the number: the codec's name of it ("item number", ...)
    Field::Kind kind;
    const char* endsAt;  // the separator after it; "" when it runs to the line's end
    bool firstInLine;    // that separator is the first of the whole line (a label's "B")
    bool repeats;        // "text 1", "text 2", ...: one more after every further separator
};

struct FieldLayout {
    uint32_t recordType;
    std::vector<FieldSpec> fields;
};

// The field layout of each stored type, as the codec's builders read a data line and its
// conversion writes an upload line; splitting, comparing and the removal lines read it.
const std::vector<FieldLayout>& FieldLayouts() {
    static const std::vector<FieldLayout> layouts = {
        {1,
         {{"", Field::kNumber, "A", false, false},
          {"fields", Field::kBytes, "##", false, false},
          {"text", Field::kText, "##", false, true}}},
        {3,
         {{"", Field::kNumber, "A", false, false},
          {"message text", Field::kText, "", false, false}}},
        {5,
         {{"", Field::kNumber, "A", false, false},
          {"message text", Field::kText, "", false, false}}},
        {7, {{"type 7 data", Field::kBytes, "", false, false}}},
        // A "B" before the first "A" leaves text 1 empty, as the codec sends it.
        {10,
         {{"", Field::kNumber, "A", false, false},
          {"label text 1", Field::kBytes, "B", true, false},
          {"label text 2", Field::kBytes, "", false, false}}},
        {12, {{"key table", Field::kBytes, "", false, false}}},
    };
    return layouts;
}

const FieldLayout* LayoutOf(uint32_t recordType) {
    for (const FieldLayout& layout : FieldLayouts()) {
        if (layout.recordType == recordType) return &layout;
    }
    return nullptr;
}

// The separators that open the fields after the number and that a record holding nothing
// still writes: those before every field that does not repeat ("A", "AB" for a label).
std::string FixedSeparators(const FieldLayout& layout) {
    std::string separators;
    for (std::size_t i = 0; i + 1 < layout.fields.size(); ++i) {
        if (!layout.fields[i + 1].repeats) separators += layout.fields[i].endsAt;
    }
    return separators;
}

}  // namespace

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool StoresRecord(uint32_t recordType) {
    return FindStored(recordType) != nullptr;
}

uint32_t ReadTypeOf(uint32_t recordType) {
    const RecordType* type = FindStored(recordType);
    return type == nullptr ? 0 : type->partner;
}

std::string UploadPrefix(uint32_t recordType) {
    return RecordTypeOf(recordType).uploadPrefix;
}

std::vector<Field> SplitFields(uint32_t recordType, std::string_view line) {
    const FieldLayout* layout = LayoutOf(recordType);
    if (layout == nullptr) return {};
    std::vector<Field> fields;
    std::size_t start = 0;
    bool opened = true;  // the separator that opens the field was found
    for (const FieldSpec& spec : layout->fields) {
        std::string_view separator = spec.endsAt;
        std::string name = *spec.name == '\0' ? RecordTypeOf(recordType).numberName : spec.name;
        if (spec.repeats) {
            for (std::size_t n = 1; opened; ++n) {
                std::string_view rest = line.substr(start);
                std::size_t end = FindSeparator(rest, separator);
                fields.push_back(
                    {name + " " + std::to_string(n), std::string(rest.substr(0, end)), spec.kind});
                opened = end != kNotFound;
                if (opened) start += end + separator.size();
            }
            break;
        }
        std::string value;
        if (separator.empty()) {
            if (opened) value = line.substr(start);
        } else if (spec.firstInLine) {
            std::size_t end = FindSeparator(line, separator);
            if (opened && end != kNotFound && end >= start) value = line.substr(start, end - start);
            opened = end != kNotFound;
            if (opened) start = end + separator.size();
        } else if (opened) {
            std::string_view rest = line.substr(start);
            std::size_t end = FindSeparator(rest, separator);
            value = rest.substr(0, end);
            opened = end != kNotFound;
            if (opened) start += end + separator.size();
        }
        fields.push_back({std::move(name), std::move(value), spec.kind});
    }
    return fields;
}

bool SameFieldValue(const Field& field, const std::string& other) {
    if (field.kind != Field::kNumber) return field.value == other;
    return AllDigits(field.value) && AllDigits(other) &&
           WithoutLeadingZeros(field.value) == WithoutLeadingZeros(other);
}

bool TextsAreCodePage(uint32_t recordType, bool en, const std::string& numberSent) {
    if (recordType == 3 || recordType == 5) {
        return MessageTextIsCodePage(recordType, ReadLeadingInteger(numberSent), en);
    }
    return en;
}

bool IsEmptyMessage(uint32_t recordType, std::string_view line) {
    std::vector<Field> fields = SplitFields(recordType, line);
    return (recordType == 3 || recordType == 5) && fields.size() == 2 && fields[1].value.empty();
}

const std::string* RecordLine(uint32_t recordType, const std::vector<std::string>& uploadLines) {
    std::string prefix = UploadPrefix(recordType);
    for (const std::string& line : uploadLines) {
        if (StartsWith(line, prefix)) return &line;
    }
    return nullptr;
}

std::string AsTheLibraryTakesIt(const std::string& line) {
    return line.substr(0, line.find('\0'));
}

std::string NumberOfCommand(const std::string& command) {
    std::size_t a = command.find('A', 3);
    return a == std::string::npos ? std::string() : command.substr(3, a - 3);
}

std::optional<std::string> NumberedRecordOf(uint32_t recordType, bool en, const std::string& line) {
    const RecordType* type = FindStored(recordType);
    std::vector<std::string> list{AsTheLibraryTakesIt(line)};
    if (type == nullptr || *type->numberName == '\0' ||
        EncodeLine(recordType, list, en) == kRejected) {
        return std::nullopt;
    }
    return NumberOfCommand(list[0]);
}

std::optional<std::string> StoredRecordKeyOf(uint32_t recordType, bool en,
                                             const std::string& line) {
    const RecordType* type = FindStored(recordType);
    if (type == nullptr) return std::nullopt;
    if (*type->numberName != '\0') return NumberedRecordOf(recordType, en, line);
    std::vector<std::string> list{AsTheLibraryTakesIt(line)};
    if (EncodeLine(recordType, list, en) == kRejected) return std::nullopt;
    return std::string();
}

std::vector<std::size_t> LinesStoredOverLater(uint32_t recordType, bool en,
                                              const std::vector<std::string>& lines) {
    std::vector<std::optional<std::string>> keys;
    std::map<std::string, std::size_t> lastLineOf;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        keys.push_back(StoredRecordKeyOf(recordType, en, lines[i]));
        if (keys.back()) lastLineOf[*keys.back()] = i;
    }
    std::vector<std::size_t> over(lines.size(), kNotOverwritten);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (keys[i] && lastLineOf[*keys[i]] != i) over[i] = lastLineOf[*keys[i]];
    }
    return over;
}

std::string WhatNoFileLineHolds(std::string_view line) {
    std::size_t at = line.find_first_of(std::string_view("\n\r\0", 3));
    if (at == std::string_view::npos) return "";
    switch (line[at]) {
        case '\n':
            return "a line break";
        case '\r':
            return "a CR";
        default:
            return "a NUL";
    }
}

std::string WhyNoImageLineHolds(uint32_t recordType, const RoundTrip& trip) {
    std::string prefix = UploadPrefix(recordType);
    if (prefix.empty()) return "";
    for (const std::string& line : trip.recordLines) {
        std::string what = WhatNoFileLineHolds(line);
        if (StartsWith(line, prefix) && !what.empty()) {
            return "holds " + what + ", which an image line cannot hold";
        }
    }
    return "";
}

bool operator<(const RecordKey& a, const RecordKey& b) {
    return a.type != b.type ? a.type < b.type : a.number < b.number;
}

bool operator==(const RecordKey& a, const RecordKey& b) {
    return a.type == b.type && a.number == b.number;
}

std::string RecordName(uint32_t recordType, const std::string& key) {
    const RecordType& type = RecordTypeOf(recordType);
    std::string name = type.numberName;
    // "item number" names the record "item 0012"; a type without a number goes by its name.
    if (name.empty()) return recordType == 7 ? "type 7 data" : type.name;
    return name.substr(0, name.find(' ')) + " " + key;
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

RecordKey KeyOfNumberSent(uint32_t recordType, const std::string& numberSent) {
    return RecordKey{recordType, Numbered(recordType) ? ReadLeadingInteger(numberSent) : -1};
}

bool KeyOfDataLine(uint32_t recordType, bool en, const std::string& line, RecordKey& key) {
    std::optional<std::string> number = StoredRecordKeyOf(recordType, en, line);
    if (!number) return false;
    key = KeyOfNumberSent(recordType, *number);
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
    std::string separators;
    for (const FieldSpec& spec : LayoutOf(key.type)->fields) separators += spec.endsAt;
    std::size_t a = uploadLine.find('A');
    if (uploadLine.find_first_not_of(separators, a + 1) != std::string::npos) return false;
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
    return NumberText(key) + FixedSeparators(*LayoutOf(key.type));
}

}  // namespace vudaduv::model
