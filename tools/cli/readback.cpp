#include "readback.h"

#include <algorithm>
#include <map>

#include "encode/encode_line.h"
#include "lines.h"
#include "textcode/code_page_text.h"
#include "textcode/text_scan.h"
#include "textcode/zone_position_text.h"

namespace vudaduv::cli {

namespace {

constexpr std::size_t kKeyTableBytes = 568;
constexpr std::size_t kItemTextDigits = 48;
constexpr std::size_t kMessageZoneDigits = 120;
constexpr std::size_t kMessageCodePageDigits = 90;

// What each readable record type stores, how it is read and how its upload lines begin.
struct ReadBackRule {
    uint32_t recordType;
    uint32_t readType;
    const char* prefix;  // of its upload lines
    const char* noun;
    int32_t maximum;  // of its number field
    std::size_t width;
    int32_t codePageAbove;  // message numbers above it always use code-page text
};

constexpr ReadBackRule kRules[] = {
    {1, 2, "1P", "item", 4000, 4, 0},   {3, 4, "3P", "message", 22, 2, 10},
    {5, 6, "5P", "message", 32, 2, 16}, {7, 8, "7P", "free data", 0, 0, 0},
    {10, 11, "10P", "label", 15, 2, 0}, {12, 13, "12P", "key table", 0, 0, 0},
};

const ReadBackRule* FindRule(uint32_t recordType) {
    for (const ReadBackRule& rule : kRules) {
        if (rule.recordType == recordType) return &rule;
    }
    return nullptr;
}

struct Field {
    const char* name;
    std::string value;
};

// A text as it comes back from the scale: encoded, cut to its field, decoded.
std::string AfterEncoding(std::string_view text, bool codePage, std::size_t maxDigits) {
    std::string code = codePage ? EncodeCodePageText(text) : EncodeZonePositionText(text);
    if (code.size() > maxDigits) code.resize(maxDigits);
    return codePage ? DecodeCodePageText(code) : DecodeZonePositionText(code);
}

// The pieces of text between "##" separators, at most count of them; the last takes the rest.
std::vector<std::string> SplitTexts(std::string_view rest, std::size_t count) {
    std::vector<std::string> texts;
    while (texts.size() + 1 < count) {
        std::size_t separator = FindSeparator(rest, "##");
        if (separator == kNotFound) break;
        texts.emplace_back(rest.substr(0, separator));
        rest.remove_prefix(separator + 2);
    }
    texts.emplace_back(rest);
    return texts;
}

bool ExpectItem(const ReadBackRule& rule, std::string_view line, bool en, ExpectedRecord& out) {
    std::size_t a = FindSeparator(line, "A");
    if (a == kNotFound) return false;
    out.key = FormatNumericField(line.substr(0, a), rule.maximum, rule.width);
    std::string rebuilt = out.key + std::string(line.substr(a));
    std::size_t separator = FindSeparator(rebuilt, "##");
    std::vector<std::string> texts;
    if (separator != kNotFound) {
        // Only three texts reach the scale: a fourth stays inside the third piece here, so cut it.
        texts = SplitTexts(std::string_view(rebuilt).substr(separator + 2), 4);
        texts.resize(3);
    }
    out.upload =
        rule.prefix + rebuilt.substr(0, separator == kNotFound ? rebuilt.size() : separator);
    for (const std::string& text : texts)
        out.upload += "##" + AfterEncoding(text, en, kItemTextDigits);
    while (out.upload.size() >= 2 && out.upload.compare(out.upload.size() - 2, 2, "##") == 0) {
        out.upload.resize(out.upload.size() - 2);
    }
    return true;
}

bool ExpectMessage(const ReadBackRule& rule, std::string_view line, bool en, ExpectedRecord& out) {
    std::size_t a = FindSeparator(line, "A");
    if (a == kNotFound) return false;
    int32_t number = NumericFieldValue(line.substr(0, a), rule.maximum);
    out.key = PadNumericField(number, rule.width);
    bool codePage = en || number > rule.codePageAbove;
    std::string text = AfterEncoding(line.substr(a + 1), codePage,
                                     codePage ? kMessageCodePageDigits : kMessageZoneDigits);
    // A message that decodes to nothing comes back as no line at all.
    out.upload = text.empty() || text[0] == '\0' ? "" : rule.prefix + out.key + "A" + text;
    return true;
}

bool ExpectLabel(const ReadBackRule& rule, std::string_view line, ExpectedRecord& out) {
    std::size_t a = FindSeparator(line, "A");
    std::size_t b = FindSeparator(line, "B");
    if (a == kNotFound || b == kNotFound) return false;
    out.key = FormatNumericField(line.substr(0, a), rule.maximum, rule.width);
    std::string_view text1 = b > a ? line.substr(a + 1, b - a - 1) : std::string_view();
    out.upload =
        rule.prefix + out.key + "A" + std::string(text1) + "B" + std::string(line.substr(b + 1));
    return true;
}

// Free data and the key table: one record each, stored as it is sent.
bool ExpectWhole(const ReadBackRule& rule, std::string_view line, ExpectedRecord& out) {
    if (rule.recordType == 12 && line.size() != kKeyTableBytes) return false;
    out.key.clear();
    out.upload = rule.prefix + std::string(line);
    return true;
}

bool ExpectRecord(const ReadBackRule& rule, std::string_view line, bool en, ExpectedRecord& out) {
    switch (rule.recordType) {
        case 1:
            return ExpectItem(rule, line, en, out);
        case 3:
        case 5:
            return ExpectMessage(rule, line, en, out);
        case 10:
            return ExpectLabel(rule, line, out);
        default:
            return ExpectWhole(rule, line, out);
    }
}

// The key of an upload line of the rule's type; false for a line of another kind.
bool KeyOfUploadLine(const ReadBackRule& rule, const std::string& line, std::string& key) {
    std::string_view prefix(rule.prefix);
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    std::string_view rest = std::string_view(line).substr(prefix.size());
    if (rule.recordType == 1) {
        std::size_t a = FindSeparator(rest, "A");
        key = std::string(rest.substr(0, a == kNotFound ? rest.size() : a));
    } else {
        key = std::string(rest.substr(0, rule.width));
    }
    return true;
}

// The named pieces of an upload line, to say which of them differs.
std::vector<Field> SplitUploadLine(const ReadBackRule& rule, const std::string& line) {
    std::string_view rest = std::string_view(line).substr(std::string_view(rule.prefix).size());
    if (rule.recordType == 1) {
        std::size_t separator = FindSeparator(rest, "##");
        std::string_view head = rest.substr(0, separator == kNotFound ? rest.size() : separator);
        std::size_t a = FindSeparator(head, "A");
        if (a == kNotFound) a = head.size();
        std::vector<Field> fields{{"item number", std::string(head.substr(0, a))},
                                  {"fields", std::string(head.substr(a))}};
        std::vector<std::string> texts;
        if (separator != kNotFound) texts = SplitTexts(rest.substr(separator + 2), 3);
        texts.resize(3);
        const char* names[] = {"text 1", "text 2", "text 3"};
        for (std::size_t i = 0; i < 3; ++i) fields.push_back({names[i], texts[i]});
        return fields;
    }
    if (rule.recordType == 10) {
        std::size_t b = FindSeparator(rest, "B");
        if (b == kNotFound) b = rest.size();
        std::string_view text1 = rest.substr(0, b).substr(std::min<std::size_t>(b, 3));
        std::string_view text2 = rest.substr(std::min(b + 1, rest.size()));
        return {{"label number", std::string(rest.substr(0, 2))},
                {"label text 1", std::string(text1)},
                {"label text 2", std::string(text2)}};
    }
    if (rule.width == 0) return {{rule.noun, std::string(rest)}};
    return {{"message number", std::string(rest.substr(0, 2))},
            {"message text", std::string(rest.substr(std::min<std::size_t>(3, rest.size())))}};
}

Difference Differ(const ReadBackRule& rule, const ExpectedRecord& expected,
                  const std::string& actual) {
    std::vector<Field> want = SplitUploadLine(rule, expected.upload);
    std::vector<Field> got = SplitUploadLine(rule, actual);
    for (std::size_t i = 0; i < want.size() && i < got.size(); ++i) {
        if (want[i].value != got[i].value) {
            return {expected.key, want[i].name, want[i].value, got[i].value};
        }
    }
    return {expected.key, "record", expected.upload, actual};
}

}  // namespace

bool CanReadBack(uint32_t recordType) {
    return FindRule(recordType) != nullptr;
}

ReadBackPlan PlanReadBack(uint32_t recordType, const std::vector<std::string>& dataLines, bool en) {
    ReadBackPlan plan;
    const ReadBackRule* rule = FindRule(recordType);
    if (rule == nullptr) return plan;
    plan.readType = rule->readType;
    std::map<std::string, std::size_t> slotOfKey;
    for (const std::string& line : dataLines) {
        ExpectedRecord record;
        record.sentLine = line;
        if (!ExpectRecord(*rule, line, en, record)) {
            plan.rejected.push_back(line);
            continue;
        }
        auto [slot, fresh] = slotOfKey.emplace(record.key, plan.records.size());
        if (fresh) {
            plan.records.push_back(record);
            if (RecordTypeReadsDataLines(rule->readType)) plan.readLines.push_back(record.key);
        } else {
            plan.records[slot->second] = record;  // the later download overwrote the earlier
        }
    }
    return plan;
}

ReadBackReport CompareReadBack(uint32_t recordType, const ReadBackPlan& plan,
                               const std::vector<std::string>& uploadLines) {
    ReadBackReport report;
    const ReadBackRule* rule = FindRule(recordType);
    if (rule == nullptr) return report;
    std::map<std::string, const std::string*> lineOfKey;
    for (const std::string& line : uploadLines) {
        std::string key;
        bool belongs = KeyOfUploadLine(*rule, line, key);
        auto wanted = std::find_if(plan.records.begin(), plan.records.end(),
                                   [&](const ExpectedRecord& r) { return r.key == key; });
        if (!belongs || wanted == plan.records.end() || !lineOfKey.emplace(key, &line).second) {
            report.otherLines.push_back(line);
        }
    }
    for (const ExpectedRecord& record : plan.records) {
        auto found = lineOfKey.find(record.key);
        if (found == lineOfKey.end()) {
            if (!record.upload.empty()) {
                report.differences.push_back({record.key, "record", record.upload, "", true});
            }
        } else if (*found->second != record.upload) {
            report.differences.push_back(Differ(*rule, record, *found->second));
        }
    }
    return report;
}

std::string RecordName(uint32_t recordType, const std::string& key) {
    const ReadBackRule* rule = FindRule(recordType);
    if (rule == nullptr) return key;
    return key.empty() ? rule->noun : std::string(rule->noun) + " " + key;
}

}  // namespace vudaduv::cli
