// Scale images on disk and what a list asks for: read and written one upload line a record,
// compared by the model's rule.
#include <algorithm>
#include <optional>
#include <set>

#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

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

WantedList WantedOfDataLines(uint32_t recordType, bool en, const std::vector<std::string>& lines,
                             std::vector<std::vector<model::Finding>>* findings) {
    WantedList list;
    if (findings != nullptr) findings->clear();
    if (!model::StoresRecord(recordType) && findings == nullptr) return list;
    for (const std::string& line : lines) {
        model::RoundTrip trip = model::RunRoundTrip(recordType, en, line);
        if (findings != nullptr) {
            findings->push_back(model::CheckRoundTrip(recordType, en, line, trip));
        }
        if (!model::StoresRecord(recordType) || trip.rejected || trip.commands.empty()) continue;
        const std::string* back = model::RecordLine(recordType, trip.uploadLines);
        RecordKey key = model::KeyOfNumberSent(recordType, trip.number);
        // A number that is sent as no number ("00-3") names no record: the scale refuses the
        // line and keeps the record the number's digits would name.
        if (!model::IsKeyOf(key, trip.number)) continue;
        // What is sent is what the check foresaw: the line up to its NUL.
        std::string sent = model::AsTheLibraryTakesIt(line);
        std::string unkeepable = model::WhyNoImageLineHolds(recordType, trip);
        if (unkeepable.empty()) unkeepable = model::WhyComesBackSplit(recordType, sent, trip);
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

void LeaveRecordAlone(WantedList& list, const RecordKey& key, const std::string& why) {
    list.emplace(key, Wanted{"", "", why});
}

CheckedList CheckListOfDataLines(uint32_t recordType, bool en,
                                 const std::vector<std::string>& lines,
                                 const std::vector<model::Finding>& unsendable,
                                 const std::vector<std::size_t>& numbers) {
    auto cannotBeSent = [&unsendable](std::size_t i) {
        return i < unsendable.size() && !unsendable[i].what.empty();
    };
    std::vector<std::string> sendable;
    std::vector<std::size_t> indexOf;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (cannotBeSent(i)) continue;
        sendable.push_back(lines[i]);
        indexOf.push_back(i);
    }
    CheckedList checked;
    std::vector<std::vector<model::Finding>> converted;
    checked.list = WantedOfDataLines(recordType, en, sendable, &converted);
    std::vector<std::vector<model::Finding>> lineFindings(lines.size());
    for (std::size_t j = 0; j < converted.size(); ++j) lineFindings[indexOf[j]] = converted[j];
    checked.findings =
        model::FindingsOfList(recordType, en, lines, lineFindings, unsendable, numbers);
    // The scale keeps a record's last line: when that one cannot be sent, neither is the record.
    std::map<RecordKey, std::size_t> lastLineOf;
    std::vector<std::optional<RecordKey>> keys(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        RecordKey key;
        if (!KeyOfDataLine(recordType, en, lines[i], key)) continue;
        keys[i] = key;
        lastLineOf[key] = i;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!cannotBeSent(i) || !keys[i] || lastLineOf[*keys[i]] != i) continue;
        checked.list.erase(*keys[i]);
        LeaveRecordAlone(checked.list, *keys[i], unsendable[i].what);
    }
    return checked;
}

CheckedList CheckListOfImage(const Image& image, bool en) {
    CheckedList checked;
    std::set<uint32_t> types;
    for (const auto& record : image) types.insert(record.first.type);
    for (uint32_t type : types) {
        std::vector<std::string> lines;
        std::vector<std::size_t> indexOf;
        std::size_t index = 0;
        for (const auto& record : image) {
            if (record.first.type == type) {
                lines.push_back(record.second.substr(model::UploadPrefix(type).size()));
                indexOf.push_back(index);
            }
            ++index;
        }
        CheckedList one = CheckListOfDataLines(type, en, lines, {}, indexOf);
        checked.list.insert(one.list.begin(), one.list.end());
        for (model::ListFinding& finding : one.findings) {
            finding.line = indexOf[finding.line];
            checked.findings.push_back(std::move(finding));
        }
    }
    // Types come in the image's order, so the findings are in it too.
    return checked;
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
                model::ChangedFields(left->first, left->second, right->second);
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
