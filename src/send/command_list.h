// Expanding a request's data lines into the command list of one send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vudaduv.h"
#include "vudaduv_codec.h"

namespace vudaduv {

// The strings of a caller's list; a NULL string reads as "", a NULL items array as no strings.
std::vector<std::string> ReadStringList(const WQStringList& list);

// BuildCommandList over a caller's list.
std::vector<std::string> BuildCommandList(uint32_t recordType, const WQStringList& lines, bool en);

}  // namespace vudaduv
