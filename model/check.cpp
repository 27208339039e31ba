// The check of a data line: the line's whole round trip, through the codec into command lines,
// into a scale of its own and back through its read request and the upload-file conversion, and
// every field that would not arrive as written, told in the user's terms. The record rules it
// compares by are record.cpp's; a line's findings, and how they are worded, are here.
#include <algorithm>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

constexpr std::size_t kShownBytes = 60;

// The entry of a read request that asks for a number; nullptr for the others.
const RecordType* FindReadOf(uint32_t readType) {
    const RecordType& type = RecordTypeOf(readType);
    return type.role == RecordRole::kReads && *type.numberName != '\0' ? &type : nullptr;
}

// What a scale answers to a command line as it comes over the wire: the scale reads up to the
// LF and ignores one CR before it, so a data line's own CR stays in the record.
std::string AnswerOnTheWire(ScaleMemory& memory, std::string_view command) {
    if (!command.empty() && command.back() == '\n') command.remove_suffix(1);
    return memory.Answer(command);
}

// Upload lines as a reader of a file of lines takes them (SplitLines): an LF that a decoded text
// holds splits its line. The conversion's lines hold no CR LF, so no CR is left before such an
// LF, and the pieces are those of SplitLines over the conversion's text.
std::vector<std::string> SplitAtLineFeeds(const std::vector<std::string>& recordLines) {
    std::vector<std::string> lines;
    for (const std::string& line : recordLines) {
        std::size_t start = 0;
        for (std::size_t end; (end = line.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(line.substr(start, end - start));
        }
        lines.push_back(line.substr(start));
    }
    return lines;
}

// The characters of a text as the text codes see them: a byte of 0x80 or above starts a
// double-byte character.
std::vector<std::string> TextCharacters(std::string_view text) {
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
        characters.emplace_back(text.substr(i, length));
        i += std::min(length, text.size() - i);
    }
    return characters;
}

std::string EncodeText(std::string_view text, bool codePage) {
    return codePage ? EncodeCodePageText(text) : EncodeZonePositionText(text);
}

std::string DecodeText(std::string_view digits, bool codePage) {
    return codePage ? DecodeCodePageText(digits) : DecodeZonePositionText(digits);
}

const char* ModeName(bool codePage) {
    return codePage ? "code-page text" : "zone-position text";
}

// True when the text ends in the first byte of a double-byte character without its second.
bool EndsInHalfCharacter(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (!IsGbkLeadByte(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        if (i + 1 == text.size()) return true;
        i += 2;
    }
    return false;
}

std::string SpaceName(char c) {
    switch (c) {
        case ' ':
            return "a blank";
        case '\t':
            return "a tab";
        case '\r':
            return "a CR";
        default:
            return "white space";
    }
}

// The first reply-token separator in a value, or 0.
char FirstSpace(std::string_view value) {
    for (char c : value) {
        if (IsTokenBlank(c) || c == '\r' || c == '\n') return c;
    }
    return '\0';
}

bool HoldsLineBreak(std::string_view value) {
    return value.find_first_of("\r\n") != std::string_view::npos;
}

// Characters of a text, each by itself through the text code and back: those that are lost and
// those that come back as something else.
struct CharacterFate {
    std::string dropped;
    std::string changed;
    std::string changedInto;
    std::vector<std::string> arriving;  // what each character that is sent comes back as
};

CharacterFate FollowCharacters(std::string_view text, bool codePage) {
    CharacterFate fate;
    for (const std::string& character : TextCharacters(text)) {
        std::string code = EncodeText(character, codePage);
        if (code.empty()) {
            fate.dropped += character;
            continue;
        }
        std::string back = DecodeText(code, codePage);
        if (back != character) {
            fate.changed += character;
            fate.changedInto += back;
        }
        fate.arriving.push_back(back);
    }
    return fate;
}

std::string JoinWhat(const std::vector<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : "; ") + part;
    return joined;
}

std::string ExplainText(const Field& field, bool codePage, const std::string& back) {
    CharacterFate fate = FollowCharacters(field.value, codePage);
    std::vector<std::string> parts;
    if (!fate.dropped.empty()) {
        parts.push_back("characters " + Quoted(fate.dropped) + " cannot be sent in " +
                        ModeName(codePage));
    }
    if (!fate.changed.empty()) {
        parts.push_back("characters " + Quoted(fate.changed) + " come back as " +
                        Quoted(fate.changedInto) + " in " + ModeName(codePage));
    }
    std::string whole;
    for (const std::string& piece : fate.arriving) whole += piece;
    if (back.empty() && !whole.empty()) {
        parts.push_back("comes back empty");
    } else if (back != whole && back.size() < whole.size() &&
               whole.compare(0, back.size(), back) == 0) {
        std::size_t kept = 0;
        for (std::size_t length = 0;
             kept < fate.arriving.size() && length + fate.arriving[kept].size() <= back.size();
             ++kept) {
            length += fate.arriving[kept].size();
        }
        parts.push_back("cut to " + std::to_string(kept) + " characters");
    } else if (back != whole) {
        parts.push_back("comes back as " + Quoted(back, 0));
    }
    return parts.empty() ? "comes back as " + Quoted(back) : JoinWhat(parts);
}

// The first of the letters that mark the end of an item's fields and its texts (B, C, D, E)
// found in its fields, or 0.
char MarkerLetterIn(const Field& field) {
    if (field.name != "fields") return '\0';
    for (const char* marker : {"B", "C", "D", "E"}) {
        if (FindSeparator(field.value, marker) != kNotFound) return *marker;
    }
    return '\0';
}

std::string ExplainBytes(const Field& field, const std::string& back) {
    if (char space = FirstSpace(field.value)) {
        return SpaceName(space) + " in it: comes back split";
    }
    if (EndsInHalfCharacter(field.value)) {
        return "invalid GBK (it ends in half a double-byte character): comes back as " +
               Quoted(back);
    }
    if (char marker = MarkerLetterIn(field)) {
        return std::string("the letter ") + marker + " ends the fields: they come back as " +
               Quoted(back);
    }
    return "comes back as " + Quoted(back);
}

std::string ExplainNumber(const Field& field, const std::string& back) {
    if (field.value.empty()) return "missing: becomes " + back;
    return (AllDigits(field.value) ? field.value : Quoted(field.value)) + " becomes " + back;
}

bool IsReadWithNumber(uint32_t recordType) {
    return FindReadOf(recordType) != nullptr;
}

Finding Rejection(uint32_t recordType, const std::string& line) {
    if (recordType == 12) {
        return {"key table", std::to_string(line.size()) + " bytes, not " +
                                 std::to_string(kKeyTableBytes) + ": the line is left out"};
    }
    const char* missing = FindSeparator(line, "A") == kNotFound ? "A" : "B";
    std::string what = std::string("no \"") + missing + "\"";
    if (line.find(missing) != std::string::npos) {
        what +=
            std::string(" (its \"") + missing + "\" is the second byte of a double-byte character)";
    }
    return {"line", what + ": the line is left out"};
}

void AddOnce(std::vector<Finding>& findings, Finding finding) {
    for (const Finding& known : findings) {
        if (known.field == finding.field && known.what == finding.what) return;
    }
    findings.push_back(std::move(finding));
}

// The fields of the user's line against those of the line that came back.
void CompareFieldByField(uint32_t recordType, bool codePage, const std::vector<Field>& sent,
                         const std::vector<Field>& back, std::vector<Finding>& findings) {
    for (std::size_t i = 0; i < sent.size(); ++i) {
        std::string backValue = i < back.size() ? back[i].value : std::string();
        if (HoldsLineBreak(backValue)) {
            AddOnce(findings, {sent[i].name,
                               "comes back holding a line break (CR or LF): the "
                               "upload line breaks in two"});
        }
        if (SameFieldValue(sent[i], backValue)) continue;
        // An item text that would arrive but has no place in the line that came back.
        bool leftOut = recordType == 1 && sent[i].kind == Field::kText && i >= back.size() &&
                       !FollowCharacters(sent[i].value, codePage).arriving.empty();
        if (leftOut) {
            AddOnce(findings, {sent[i].name, "is left out"});
        } else {
            AddOnce(findings, {sent[i].name, ExplainField(sent[i], codePage, backValue)});
        }
    }
    // A text the line does not have, opened by a marker letter in the fields.
    for (std::size_t i = sent.size(); i < back.size(); ++i) {
        if (back[i].value.empty()) continue;
        std::string what = "is not in the line but comes back as " + Quoted(back[i].value);
        for (const Field& field : sent) {
            if (char marker = MarkerLetterIn(field)) {
                what += std::string(" (the letter ") + marker + " in the fields opens it)";
                break;
            }
        }
        AddOnce(findings, {back[i].name, what});
    }
}

// Why a read-back gave no line for the record, or more lines than one.
void ExplainLostOrSplit(const std::vector<Field>& sent, bool lost, std::vector<Finding>& findings) {
    for (const Field& field : sent) {
        if (char space = FirstSpace(field.value)) {
            AddOnce(findings, {field.name, SpaceName(space) + " in it: comes back split"});
            return;
        }
    }
    for (const Field& field : sent) {
        if (EndsInHalfCharacter(field.value)) {
            AddOnce(findings, {field.name, lost ? "invalid GBK in a field (it ends in half a "
                                                  "double-byte character): the record comes "
                                                  "back lost"
                                                : "invalid GBK in a field: comes back split"});
            return;
        }
    }
    AddOnce(findings, {"line", lost ? "the record comes back lost" : "comes back split"});
}

// A label line holds its two texts between "A", the first "B" and the end: a "B" after that
// first one means the user's text 1 held a "B" and was cut there.
void CheckLabelTextOneEndsAtFirstB(const std::vector<Field>& sent, std::vector<Finding>& findings) {
    if (sent.size() < 3 || FindSeparator(sent[2].value, "B") == kNotFound) return;
    findings.push_back({sent[1].name,
                        "the line holds more than one \"B\" and text 1 ends at the "
                        "first: text 1 is " +
                            Quoted(sent[1].value) + ", text 2 " + Quoted(sent[2].value)});
}

// A message text holding "##", the separator of an item's texts, is likely an item's data line
// sent as a message by mistake: it would overwrite a message.
void CheckMessageIsNoItemLine(uint32_t recordType, const std::vector<Field>& sent,
                              std::vector<Finding>& findings) {
    if ((recordType != 3 && recordType != 5) || sent.size() < 2 ||
        FindSeparator(sent[1].value, "##") == kNotFound) {
        return;
    }
    findings.push_back({sent[1].name,
                        "holds \"##\" as an item's data line does (an item line "
                        "wants --type 1): it is stored as a message"});
}

}  // namespace

std::string ExplainField(const Field& field, bool codePage, const std::string& back) {
    switch (field.kind) {
        case Field::kNumber:
            return ExplainNumber(field, back);
        case Field::kText:
            return ExplainText(field, codePage, back);
        default:
            return ExplainBytes(field, back);
    }
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

std::string WithoutLineEnd(std::string line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.resize(line.size() - 2);
    }
    return line;
}

std::string Quoted(const std::string& value, std::size_t offset) {
    std::string piece = value;
    std::string before;
    std::string after;
    if (value.size() > kShownBytes) {
        std::size_t start = offset > kShownBytes / 2 ? offset - kShownBytes / 2 : 0;
        start = std::min(start, value.size() - kShownBytes);
        piece = value.substr(start, kShownBytes);
        before = start > 0 ? "..." : "";
        after = start + kShownBytes < value.size() ? "..." : "";
    }
    std::string shown;
    for (char c : piece) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            const char* hex = "0123456789ABCDEF";
            shown += std::string("\\x") + hex[byte >> 4] + hex[byte & 15];
        } else {
            shown += c;
        }
    }
    std::string quoted = "\"" + before + shown + after + "\"";
    if (value.size() > kShownBytes) quoted += " (" + std::to_string(value.size()) + " bytes)";
    return quoted;
}

RoundTrip RunRoundTrip(uint32_t recordType, bool en, const std::string& line) {
    RoundTrip trip;
    std::vector<std::string> list{AsTheLibraryTakesIt(line)};
    if (EncodeLine(recordType, list, en) == kRejected) {
        trip.rejected = true;
        return trip;
    }
    for (const std::string& command : list) trip.commands.push_back(WithoutLineEnd(command));
    if (RecordTypeOf(recordType).build == nullptr || trip.commands.empty()) return trip;
    bool numbered = (StoresRecord(recordType) && *RecordTypeOf(recordType).numberName != '\0') ||
                    IsReadWithNumber(recordType);
    if (numbered) trip.number = NumberOfCommand(trip.commands[0]);
    if (!StoresRecord(recordType)) return trip;

    ScaleMemory memory(TextModeOf(en));
    for (const std::string& command : list) {
        std::string reply = AnswerOnTheWire(memory, command);
        if (IsErrorReply(reply)) trip.refusals.push_back(reply);
    }
    std::vector<std::string> reads{trip.number};
    EncodeLine(ReadTypeOf(recordType), reads, en);
    std::vector<std::string> replies;
    for (const std::string& read : reads) replies.push_back(AnswerOnTheWire(memory, read));
    trip.recordLines = UploadLinesOfReplies(replies, en);
    trip.uploadLines = SplitAtLineFeeds(trip.recordLines);
    return trip;
}

std::string WhyComesBackSplit(uint32_t recordType, const std::string& line, const RoundTrip& trip) {
    if (!StoresRecord(recordType) || trip.rejected || !trip.refusals.empty()) return "";
    const std::string* back = RecordLine(recordType, trip.uploadLines);
    std::vector<Field> sent = SplitFields(recordType, line);
    std::vector<Field> got;
    if (back != nullptr) {
        got = SplitFields(recordType,
                          std::string_view(*back).substr(UploadPrefix(recordType).size()));
    }
    for (std::size_t i = 0; i < sent.size(); ++i) {
        char space = FirstSpace(sent[i].value);
        if (sent[i].kind != Field::kBytes || space == '\0') continue;
        if (i < got.size() && got[i].value == sent[i].value) continue;
        return sent[i].name + ": " + SpaceName(space) + " in it: comes back split";
    }
    return "";
}

std::vector<Finding> CheckDataLine(uint32_t recordType, bool en, const std::string& line) {
    return CheckRoundTrip(recordType, en, line, RunRoundTrip(recordType, en, line));
}

std::vector<Finding> CheckRoundTrip(uint32_t recordType, bool en, const std::string& line,
                                    const RoundTrip& trip) {
    if (RecordTypeOf(recordType).build == nullptr) return {};
    if (line.find('\0') != std::string::npos) {
        return {{"line", "a NUL byte: the line ends there for the library"}};
    }
    if (trip.rejected) return {Rejection(recordType, line)};
    std::vector<Finding> findings;
    if (const RecordType* read = FindReadOf(recordType)) {
        Field number{read->numberName, line, Field::kNumber};
        if (!SameFieldValue(number, trip.number)) {
            findings.push_back({number.name, ExplainNumber(number, trip.number)});
        }
        return findings;
    }
    if (!StoresRecord(recordType)) return findings;

    std::vector<Field> sent = SplitFields(recordType, line);
    if (sent[0].kind == Field::kNumber && !SameFieldValue(sent[0], trip.number)) {
        findings.push_back({sent[0].name, ExplainNumber(sent[0], trip.number)});
    }
    if (recordType == 10) CheckLabelTextOneEndsAtFirstB(sent, findings);
    CheckMessageIsNoItemLine(recordType, sent, findings);
    for (const std::string& refusal : trip.refusals) {
        AddOnce(findings, {"line", "the scale refuses it: " + refusal});
    }
    if (!trip.refusals.empty()) return findings;
    bool codePage = TextsAreCodePage(recordType, en, trip.number);
    const std::string* back = RecordLine(recordType, trip.uploadLines);
    std::size_t prefixSize = UploadPrefix(recordType).size();
    if (back != nullptr) {
        CompareFieldByField(recordType, codePage, sent,
                            SplitFields(recordType, std::string_view(*back).substr(prefixSize)),
                            findings);
    } else if (recordType == 3 || recordType == 5) {
        // A message whose text arrives empty reads back as no line at all.
        CompareFieldByField(recordType, codePage, sent,
                            {{sent[0].name, trip.number, Field::kNumber}, {"", "", Field::kText}},
                            findings);
    } else {
        ExplainLostOrSplit(sent, true, findings);
    }
    if (trip.uploadLines.size() > (back != nullptr ? 1u : 0u)) {
        ExplainLostOrSplit(sent, back == nullptr, findings);
    }
    // The fleet neither sends nor keeps such a record, so the check names it, when nothing
    // above has named the line break already.
    std::string unkeepable = WhyNoImageLineHolds(recordType, trip);
    if (findings.empty() && !unkeepable.empty()) {
        findings.push_back({"record", "comes back and " + unkeepable});
    }
    if (findings.empty() && back == nullptr && !IsEmptyMessage(recordType, line)) {
        findings.push_back({"line", "the record comes back lost"});
    }
    return findings;
}

}  // namespace vudaduv::model
