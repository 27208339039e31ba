// Reading the caller's records defensively: a NULL list reads as an empty one, a NULL string as
// "" and a missing value as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vudaduv.h"

namespace vudaduv::transport {

// Every string of a caller's list, in order: a NULL items array reads as an empty list, a NULL
// string as "".
std::vector<std::string> ReadStringList(const WQStringList& list);

// The command lines of a caller's list, in order, empty ones left out.
std::vector<std::string> ReadCommandLines(const WQStringList& list);

// values[index], or 0 when the list is shorter.
std::uint32_t ReadValue(const WQValueList& values, std::size_t index);

}  // namespace vudaduv::transport
