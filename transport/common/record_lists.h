// Reading the caller's records defensively: a missing value reads as 0. The string lists are read
// by ReadStringList and ReadCommandLines (vudaduv_transport.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "vudaduv.h"

namespace vudaduv::transport {

// values[index], or 0 when the list is shorter.
std::uint32_t ReadValue(const WQValueList& values, std::size_t index);

}  // namespace vudaduv::transport
