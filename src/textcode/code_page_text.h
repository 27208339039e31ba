// The code-page table behind code-page text (the conversions are in vudaduv_codec.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "vudaduv_codec.h"

namespace vudaduv {

// One row of the code-page table: a three-digit code and the two GBK bytes of its character.
struct CodePageRow {
    const char* code;
    const char* bytes;
};

constexpr std::size_t kCodePageTableSize = 52;
extern const CodePageRow kCodePageTable[kCodePageTableSize];

}  // namespace vudaduv
