// The builders of the record types, one per kind of data line. Each takes the data line and
// returns the command lines, or nothing (an empty optional) when it rejects the line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vudaduv_codec.h"

namespace vudaduv {

// Read requests and the other lines that carry only numbers or the data line itself.
CommandLines BuildReadItem(std::string_view dataLine);      // 2
CommandLines BuildReadMessage3(std::string_view dataLine);  // 4
CommandLines BuildReadMessage5(std::string_view dataLine);  // 6
CommandLines BuildFreeData(std::string_view dataLine);      // 7
CommandLines BuildReadFreeData();                           // 8
CommandLines BuildSetClock();                               // 9
CommandLines BuildReadLabel(std::string_view dataLine);     // 11
CommandLines BuildReadKeyTable();                           // 13

// The record types that carry texts.
std::optional<CommandLines> BuildItemRecord(std::string_view dataLine, bool en);  // 1
std::optional<CommandLines> BuildTextMessage(int recordType, std::string_view dataLine,
                                             bool en);                  // 3, 5
std::optional<CommandLines> BuildLabelText(std::string_view dataLine);  // 10
std::optional<CommandLines> BuildKeyTable(std::string_view dataLine);   // 12

}  // namespace vudaduv
