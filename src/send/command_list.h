// Expanding a request's data lines into the command list of one send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vudaduv.h"

namespace vudaduv {

// The types whose command lines take nothing from a data line (8, 9 and 13): encoded once, the
// request's lines unread.
bool ReadsNoDataLine(uint32_t recordType);

// The strings of a caller's list; a NULL string reads as "", a NULL items array as no strings.
std::vector<std::string> ReadStringList(const WQStringList& list);

// EncodeLine over every data line in order (once over an empty line for record types 8, 9 and
// 13), the command lines of the accepted ones joined in order.
std::vector<std::string> BuildCommandList(uint32_t recordType, const WQStringList& lines, bool en);

}  // namespace vudaduv
