// Reading helpers shared by the encoders and the reply decoders: the separator search over GBK
// text and the C library's reading of a leading integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vudaduv {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// True for a byte that starts a GBK double-byte character (0x81 to 0xFE).
inline bool IsGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

// Position of the first occurrence of separator in text, searching from the start and stepping
// over double-byte characters so that a trail byte is never taken for a separator. kNotFound
// when there is none (or when separator is empty).
std::size_t FindSeparator(std::string_view text, std::string_view separator);

// The value of the leading integer of text as the C function atoi reads it: C white space, one
// optional sign, then decimal digits up to the first other character; 0 without digits. Values
// beyond the 32-bit range saturate to INT32_MAX or INT32_MIN.
int32_t ReadLeadingInteger(std::string_view text);

}  // namespace vudaduv
