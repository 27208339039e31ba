#include "encode/encode_line.h"

#include "encode/builders.h"

namespace vudaduv {

namespace {

std::optional<CommandLines> BuildCommandLines(uint32_t recordType, std::string_view dataLine,
                                              bool en) {
    switch (recordType) {
        case 1:
            return BuildItemRecord(dataLine, en);
        case 2:
            return BuildReadItem(dataLine);
        case 3:
            return BuildTextMessage(3, dataLine, en);
        case 4:
            return BuildReadMessage3(dataLine);
        case 5:
            return BuildTextMessage(5, dataLine, en);
        case 6:
            return BuildReadMessage5(dataLine);
        case 7:
            return BuildFreeData(dataLine);
        case 8:
            return BuildReadFreeData();
        case 9:
            return BuildSetClock();
        case 10:
            return BuildLabelText(dataLine);
        case 11:
            return BuildReadLabel(dataLine);
        case 12:
            return BuildKeyTable(dataLine);
        case 13:
            return BuildReadKeyTable();
        default:
            return std::nullopt;  // not reached: types without a builder stop earlier
    }
}

// Types 12 and 13 replace the whole list; the others replace the data line and put any further
// command line behind the last element.
void PlaceCommandLines(uint32_t recordType, CommandLines& lines, std::vector<std::string>& list) {
    if (recordType == 12 || recordType == 13) {
        list = std::move(lines);
        return;
    }
    if (list.empty()) list.emplace_back();
    list[0] = std::move(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) list.push_back(std::move(lines[i]));
}

}  // namespace

bool RecordTypeHasBuilder(uint32_t recordType) {
    return recordType >= 1 && recordType <= 13;
}

int EncodeLine(uint32_t recordType, std::vector<std::string>& list, bool en) {
    if (!RecordTypeHasBuilder(recordType)) return kEncoded;
    std::string dataLine = list.empty() ? std::string() : list[0];
    std::optional<CommandLines> lines = BuildCommandLines(recordType, dataLine, en);
    if (!lines) return kRejected;
    PlaceCommandLines(recordType, *lines, list);
    return kEncoded;
}

}  // namespace vudaduv
