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

bool ReadsNoDataLine(uint32_t recordType) {
    return recordType == 8 || recordType == 9 || recordType == 13;
}

std::vector<std::string> ReadStringList(const WQStringList& list) {
    std::vector<std::string> strings;
    if (list.items == nullptr) return strings;
    strings.reserve(list.count);
    for (uint32_t i = 0; i < list.count; ++i) {
        strings.emplace_back(list.items[i] != nullptr ? list.items[i] : "");
    }
    return strings;
}

std::vector<std::string> BuildCommandList(uint32_t recordType, const WQStringList& lines, bool en) {
    std::vector<std::string> commands;
    if (ReadsNoDataLine(recordType)) {
        AppendEncoded(recordType, std::string(), en, commands);
        return commands;
    }
    if (lines.items == nullptr) return commands;
    for (uint32_t i = 0; i < lines.count; ++i) {
        AppendEncoded(recordType, lines.items[i] != nullptr ? lines.items[i] : "", en, commands);
    }
    return commands;
}

}  // namespace vudaduv
