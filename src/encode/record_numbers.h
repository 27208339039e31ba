// The highest number of an item and of a label text, shared by the encoder, its read requests and
// the virtual scale; a higher number in a data line is lowered to it.
#pragma once

#include <cstdint>

namespace vudaduv {

constexpr int32_t kItemMaximum = 4000;
constexpr int32_t kLabelMaximum = 15;

}  // namespace vudaduv
