#include "send/command_list.h"

#include "encode/encode_line.h"

namespace vudaduv {

namespace {

void AppendEncoded(uint32_t recordType, std::string dataLine, bool en,
                   std::vector<std::string>& commands) {
    std::vector<std::string> list{std::move(dataLine)};
    if (EncodeLine(recordType, list, en) == kRejected) return;
    for (std::string& line : list) commands.push_back(std::move(line));
}

}  // namespace

std::vector<std::string> ReadStringList(const WQStringList& list) {
    std::vector<std::string> strings;
    if (list.items == nullptr) return strings;
    strings.reserve(list.count);
    for (uint32_t i = 0; i < list.count; ++i) {
        strings.emplace_back(list.items[i] != nullptr ? list.items[i] : "");
    }
    return strings;
}

std::vector<std::string> BuildCommandList(uint32_t recordType,
                                          const std::vector<std::string>& lines, bool en) {
    std::vector<std::string> commands;
    if (!RecordTypeOf(recordType).takesDataLine) {
        AppendEncoded(recordType, std::string(), en, commands);
        return commands;
    }
    for (const std::string& line : lines) AppendEncoded(recordType, line, en, commands);
    return commands;
}

std::vector<std::string> BuildCommandList(uint32_t recordType, const WQStringList& lines, bool en) {
    if (!RecordTypeOf(recordType).takesDataLine) {
        return BuildCommandList(recordType, std::vector<std::string>(), en);
    }
    return BuildCommandList(recordType, ReadStringList(lines), en);
}

}  // namespace vudaduv
