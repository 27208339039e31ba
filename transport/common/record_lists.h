// Reading the caller's records defensively: a NULL items array reads as an empty list, a NULL
// string as "", a missing value as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vudaduv.h"

namespace vudaduv::transport {

// Every string of the list, in order.
std::vector<std::string> ReadStringList(const WQStringList& list);

// The command lines to send, in order. An empty line is left out: it would put nothing on the
// wire and so could never be answered.
std::vector<std::string> ReadCommandLines(const WQStringList& list);

// values[index], or 0 when the list is shorter.
std::uint32_t ReadValue(const WQValueList& values, std::size_t index);

}  // namespace vudaduv::transport
