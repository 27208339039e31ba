// The list the fleet's tests sync: items 1 to count, each with a text of its own ("1A1##Item1").
#pragma once

#include <string>
#include <vector>

namespace vudaduv::fleet {

inline std::vector<std::string> NumberedItems(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back(std::to_string(i) + "A1##Item" + std::to_string(i));
    return lines;
}

}  // namespace vudaduv::fleet
