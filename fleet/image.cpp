// Scale images: records keyed by type and number, read and written one upload line a record,
// compared in the form the scale stores.
#include <algorithm>
#include <optional>
#include <set>

#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

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
std::vector<model::Field> FieldsOf(const RecordKey& key, const std::string& line) {
    std::size_t prefix = std::min(model::UploadPrefix(key.type).size(), line.size());
    return model::SplitFields(key.type, std::string_view(line).substr(prefix));
}

std::string ValueAt(const std::vector<model::Field>& fields, std::size_t i) {
    return i < fields.size() ? fields[i].value : std::string();
}

std::string NameAt(const std::vector<model::Field>& a, const std::vector<model::Field>& b,
                   std::size_t i) {
    return i < a.size() ? a[i].name : b[i].name;
}

// Every field that differs, missing ones read as empty; the number compared by value.
std::vector<FieldChange> ChangedFields(const RecordKey& key, const std::string& a,
                                       const std::string& b) {
    std::vector<model::Field> before = FieldsOf(key, a);
    std::vector<model::Field> after = FieldsOf(key, b);
    std::vector<FieldChange> changes;
    for (std::size_t i = 0; i < std::max(before.size(), after.size()); ++i) {
        std::string old = ValueAt(before, i);
        std::string now = ValueAt(after, i);
        bool same = i < before.size() && before[i].kind == model::Field::kNumber
                        ? model::SameFieldValue(before[i], now)
                        : old == now;
        if (!same) changes.push_back({NameAt(before, after, i), old, now});
    }
    return changes;
}

}  // namespace

bool operator<(const RecordKey& a, const RecordKey& b) {
    return a.type != b.type ? a.type < b.type : a.number < b.number;
}

bool operator==(const RecordKey& a, const RecordKey& b) {
    return a.type == b.type && a.number == b.number;
}

std::string KeyName(const RecordKey& key) {
    return model::RecordName(key.type, NumberText(key));
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

bool HoldsNothing(const std::string& uploadLine) {
    RecordKey key;
    if (!KeyOfUploadLine(uploadLine, key) || !Numbered(key.type)) return false;
    // Only separators may follow the number of an empty record; most records fail this at once.
    std::size_t a = uploadLine.find('A');
    if (uploadLine.find_first_not_of("#B", a + 1) != std::string::npos) return false;
    std::vector<model::Field> fields = FieldsOf(key, uploadLine);
    return std::all_of(fields.begin() + 1, fields.end(),
                       [](const model::Field& field) { return field.value.empty(); });
}

bool SameRecord(const std::string& a, const std::string& b) {
    if (a == b) return true;
    RecordKey keyA;
    RecordKey keyB;
    if (!KeyOfUploadLine(a, keyA) || !KeyOfUploadLine(b, keyB)) return a == b;
    return keyA == keyB && ChangedFields(keyA, a, b).empty();
}

bool ReadImage(const std::string& source, const std::vector<std::string>& lines,
               const std::vector<std::size_t>& numbers, Image& image, std::string& error) {
    image.clear();
    std::set<RecordKey> named;  // empty records too: a key named twice is refused either way
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string place =
            source + ":" + std::to_string(i < numbers.size() ? numbers[i] : i + 1) + ": ";
        RecordKey key;
        if (!KeyOfUploadLine(lines[i], key)) {
            error = place + "not a record of a scale image (it begins with none of " +
                    "1P, 3P, 5P, 7P, 10P, 12P and a number in range)";
            return false;
        }
        if (!named.insert(key).second) {
            error = place + KeyName(key) + " a second time";
            return false;
        }
        std::string held = model::WhatNoFileLineHolds(lines[i]);
        if (!held.empty()) {
            error = place + KeyName(key) + ": holds " + held + ", which an image line cannot hold";
            return false;
        }
        if (!HoldsNothing(lines[i])) image.emplace(key, lines[i]);
    }
    return true;
}

bool ReadImageText(const std::string& source, const std::string& text, Image& image,
                   std::string& error) {
    std::vector<std::string> lines;
    std::vector<std::size_t> numbers;
    std::size_t start = 0;
    for (std::size_t number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) {
            lines.push_back(std::move(line));
            numbers.push_back(number);
        }
        start = end + 1;
    }
    return ReadImage(source, lines, numbers, image, error);
}

std::string WriteImage(const Image& image) {
    std::string text;
    for (const auto& record : image) text += record.second + "\n";
    return text;
}

WantedList WantedOfDataLines(uint32_t recordType, bool en, const std::vector<std::string>& lines) {
    WantedList list;
    if (!model::StoresRecord(recordType)) return list;
    for (const std::string& line : lines) {
        model::RoundTrip trip = model::RunRoundTrip(recordType, en, line);
        if (trip.rejected || trip.commands.empty()) continue;
        const std::string* back = model::RecordLine(recordType, trip.uploadLines);
        RecordKey key{recordType, -1};
        if (Numbered(recordType)) key.number = ReadLeadingInteger(trip.number);
        // What is sent is what the check foresaw: the line up to its NUL.
        std::string sent = model::AsTheLibraryTakesIt(line);
        std::string unkeepable = model::WhyNoImageLineHolds(recordType, trip);
        if (!unkeepable.empty()) {
            list[key] = Wanted{sent, back == nullptr ? "" : *back, unkeepable};
            continue;
        }
        RecordKey backKey;
        // Nothing (or another record) comes back: the line asks for the record to hold nothing.
        if (back == nullptr || !KeyOfUploadLine(*back, backKey) || !(backKey == key) ||
            HoldsNothing(*back)) {
            list.erase(key);
            continue;
        }
        list[key] = Wanted{sent, *back, ""};
    }
    return list;
}

bool KeyOfDataLine(uint32_t recordType, bool en, const std::string& line, RecordKey& key) {
    std::optional<std::string> number = model::StoredRecordKeyOf(recordType, en, line);
    if (!number) return false;
    key = RecordKey{recordType, number->empty() ? -1 : ReadLeadingInteger(*number)};
    return true;
}

void LeaveRecordAlone(WantedList& list, const RecordKey& key, const std::string& why) {
    list.emplace(key, Wanted{"", "", why});
}

WantedList WantedOfImage(const Image& image, bool en) {
    WantedList list;
    for (const auto& record : image) {
        std::string prefix = model::UploadPrefix(record.first.type);
        WantedList one =
            WantedOfDataLines(record.first.type, en, {record.second.substr(prefix.size())});
        list.insert(one.begin(), one.end());
    }
    return list;
}

Image ImageOf(const WantedList& list) {
    Image image;
    for (const auto& record : list) {
        if (record.second.unkeepable.empty()) image.emplace(record.first, record.second.line);
    }
    return image;
}

std::string RemovalLine(const RecordKey& key) {
    if (!Numbered(key.type)) return "";
    // An item or a message with nothing after its number; a label with both texts empty.
    return NumberText(key) + (key.type == 10 ? "AB" : "A");
}

std::vector<DiffRow> DiffImages(const Image& a, const Image& b) {
    std::vector<DiffRow> rows;
    auto left = a.begin();
    auto right = b.begin();
    while (left != a.end() || right != b.end()) {
        if (right == b.end() || (left != a.end() && left->first < right->first)) {
            rows.push_back({DiffRow::kRemoved, left->first, left->second, "", {}});
            ++left;
        } else if (left == a.end() || right->first < left->first) {
            rows.push_back({DiffRow::kAdded, right->first, "", right->second, {}});
            ++right;
        } else {
            std::vector<FieldChange> fields =
                ChangedFields(left->first, left->second, right->second);
            if (!fields.empty()) {
                rows.push_back({DiffRow::kChanged, left->first, left->second, right->second,
                                std::move(fields)});
            }
            ++left;
            ++right;
        }
    }
    return rows;
}

std::vector<std::string> DiffRowLines(const DiffRow& row) {
    switch (row.kind) {
        case DiffRow::kAdded:
            return {"+ " + row.after};
        case DiffRow::kRemoved:
            return {"- " + row.before};
        default:
            break;
    }
    std::vector<std::string> lines;
    for (const FieldChange& change : row.fields) {
        lines.push_back("~ " + KeyName(row.key) + ": " + change.field + ": " +
                        model::Quoted(change.before) + " -> " + model::Quoted(change.after));
    }
    return lines;
}

}  // namespace vudaduv::fleet
