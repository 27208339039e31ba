#include "encode/encode_line.h"

namespace vudaduv {

namespace {

// Types that replace the list take it whole; the others replace the data line and put any
// further command line behind the last element.
void PlaceCommandLines(const RecordType& type, CommandLines& lines,
                       std::vector<std::string>& list) {
    if (type.replacesList) {
        list = std::move(lines);
        return;
    }
    if (list.empty()) list.emplace_back();
    list[0] = std::move(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) list.push_back(std::move(lines[i]));
}

}  // namespace

int EncodeLine(uint32_t recordType, std::vector<std::string>& list, bool en) {
    const RecordType& type = RecordTypeOf(recordType);
    if (type.build == nullptr) return kEncoded;
    std::string dataLine = list.empty() ? std::string() : list[0];
    std::optional<CommandLines> lines = type.build(dataLine, en);
    if (!lines) return kRejected;
    PlaceCommandLines(type, *lines, list);
    return kEncoded;
}

}  // namespace vudaduv
