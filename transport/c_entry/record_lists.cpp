#include "c_entry/record_lists.h"

namespace vudaduv::transport {

std::vector<std::string> ReadStringList(const WQStringList& list) {
    std::vector<std::string> strings;
    if (list.items == nullptr) return strings;
    strings.reserve(list.count);
    for (std::uint32_t i = 0; i < list.count; ++i) {
        const char* item = list.items[i];
        strings.emplace_back(item == nullptr ? "" : item);
    }
    return strings;
}

std::vector<std::string> ReadCommandLines(const WQStringList& list) {
    std::vector<std::string> lines = ReadStringList(list);
    std::vector<std::string> commands;
    commands.reserve(lines.size());
    for (std::string& line : lines) {
        if (!line.empty()) commands.push_back(std::move(line));
    }
    return commands;
}

std::uint32_t ReadValue(const WQValueList& values, std::size_t index) {
    if (values.items == nullptr || index >= values.count) return 0;
    return values.items[index];
}

}  // namespace vudaduv::transport
