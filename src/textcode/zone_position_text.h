// Zone-position text: four decimal digits per character, the GB2312 zone and position.
#pragma once

#include <string>
#include <string_view>

namespace vudaduv {

// One group of four digits per character: a byte below 0x80 as byte + 268, a double-byte
// character as (lead - 160) * 100 + (trail - 160).
std::string EncodeZonePositionText(std::string_view text);

// Chunks of four characters (the last may be shorter): 300 to 523 give one byte, every other
// value two bytes.
std::string DecodeZonePositionText(std::string_view digits);

}  // namespace vudaduv
