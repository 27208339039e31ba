// The record-type table: what each type's data line is, which commands it makes, what it stores
// or reads, and how its number and upload lines look. Every other part of the project asks it.
#include "encode/builders.h"

namespace vudaduv {

namespace {

// The builders in the table's one shape; the En flag matters to the types with texts only.
std::optional<CommandLines> Item(std::string_view line, bool en) {
    return BuildItemRecord(line, en);
}
std::optional<CommandLines> ReadItem(std::string_view line, bool) {
    return BuildReadItem(line);
}
std::optional<CommandLines> Message3(std::string_view line, bool en) {
    return BuildTextMessage(3, line, en);
}
std::optional<CommandLines> ReadMessage3(std::string_view line, bool) {
    return BuildReadMessage3(line);
}
std::optional<CommandLines> Message5(std::string_view line, bool en) {
    return BuildTextMessage(5, line, en);
}
std::optional<CommandLines> ReadMessage5(std::string_view line, bool) {
    return BuildReadMessage5(line);
}
std::optional<CommandLines> FreeData(std::string_view line, bool) {
    return BuildFreeData(line);
}
std::optional<CommandLines> ReadFreeData(std::string_view, bool) {
    return BuildReadFreeData();
}
std::optional<CommandLines> SetClock(std::string_view, bool) {
    return BuildSetClock();
}
std::optional<CommandLines> LabelText(std::string_view line, bool) {
    return BuildLabelText(line);
}
std::optional<CommandLines> ReadLabel(std::string_view line, bool) {
    return BuildReadLabel(line);
}
std::optional<CommandLines> KeyTable(std::string_view line, bool) {
    return BuildKeyTable(line);
}
std::optional<CommandLines> ReadKeyTable(std::string_view, bool) {
    return BuildReadKeyTable();
}

constexpr RecordRole kStores = RecordRole::kStores;
constexpr RecordRole kReads = RecordRole::kReads;

// clang-format off
constexpr RecordType kAnyOther{0, "command line", "a command line, sent as it is", "",
                               RecordRole::kCommandLine, 0, "", "", 0, 0, 0, true, false, nullptr};
// clang-format on

}  // namespace

// code, name, data line, commands, role, partner, upload prefix, number name, width, maximum,
// code-page threshold, takes a data line, replaces the list, builder
const std::array<RecordType, kRecordTypeCount> kRecordTypes = {{
    {1, "item record", "<item>A<fields>##<text1>##<text2>##<text3>", "V", kStores, 2, "1P",
     "item number", 4, kItemMaximum, 0, true, false, Item},
    {2, "read item", "<item>", "U", kReads, 1, "", "item number", 4, kItemMaximum, 0, true, false,
     ReadItem},
    {3, "text message", "<number>A<text>", "X", kStores, 4, "3P", "message number", 2,
     kMessage3Maximum, kMessage3CodePageAbove, true, false, Message3},
    {4, "read message", "<number>", "W", kReads, 3, "", "message number", 2, kMessage3Maximum,
     kMessage3CodePageAbove, true, false, ReadMessage3},
    {5, "text message", "<number>A<text>", "Z", kStores, 6, "5P", "message number", 2,
     kMessage5Maximum, kMessage5CodePageAbove, true, false, Message5},
    {6, "read message", "<number>", "Y", kReads, 5, "", "message number", 2, kMessage5Maximum,
     kMessage5CodePageAbove, true, false, ReadMessage5},
    {7, "free data", "any text", "O", kStores, 8, "7P", "", 0, 0, 0, true, false, FreeData},
    {8, "read free data", "(no data line)", "N", kReads, 7, "", "", 0, 0, 0, false, false,
     ReadFreeData},
    {9, "set the clock", "(no data line; this computer's time)", "P", RecordRole::kSetsClock, 0, "",
     "", 0, 0, 0, false, false, SetClock},
    {10, "label texts", "<label>A<text1>B<text2>", "TR", kStores, 11, "10P", "label number", 2,
     kLabelMaximum, 0, true, false, LabelText},
    {11, "read label", "<label>", "SQ", kReads, 10, "", "label number", 2, kLabelMaximum, 0, true,
     false, ReadLabel},
    {12, "key table", "exactly 568 bytes", "LLLL", kStores, 13, "12P", "", 0, 0, 0, true, true,
     KeyTable},
    {13, "read key table", "(no data line)", "KKKK", kReads, 12, "", "", 0, 0, 0, false, true,
     ReadKeyTable},
}};

const RecordType& RecordTypeOf(uint32_t code) {
    if (code >= 1 && code <= kRecordTypeCount) return kRecordTypes[code - 1];
    return kAnyOther;
}

const RecordType* StoredTypeOfUploadLine(std::string_view text) {
    for (const RecordType& type : kRecordTypes) {
        std::string_view prefix = type.uploadPrefix;
        if (!prefix.empty() && text.substr(0, prefix.size()) == prefix) return &type;
    }
    return nullptr;
}

std::string RecordTypesWithRole(RecordRole role, std::string_view lastJoin) {
    std::vector<std::string> codes;
    for (const RecordType& type : kRecordTypes) {
        if (type.role == role) codes.push_back(std::to_string(type.code));
    }
    std::string sentence;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (i > 0) sentence += i + 1 == codes.size() ? " " + std::string(lastJoin) + " " : ", ";
        sentence += codes[i];
    }
    return sentence;
}

}  // namespace vudaduv
