// Code-page text: three decimal digits per character, the character's single-byte code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vudaduv {

// One row of the code-page table: a three-digit code and the two GBK bytes of its character.
struct CodePageRow {
    const char* code;
    const char* bytes;
};

constexpr std::size_t kCodePageTableSize = 52;
extern const CodePageRow kCodePageTable[kCodePageTableSize];

// Bytes below 0x80 as their three-digit value; a double-byte character as its table code, or
// nothing when the table does not hold it.
std::string EncodeCodePageText(std::string_view text);

// Chunks of three characters (the last may be shorter): a table code gives its character,
// anything else the byte of its atoi value modulo 256.
std::string DecodeCodePageText(std::string_view digits);

}  // namespace vudaduv
