// The command encoder: one data line of a record type into the scale's command lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace vudaduv {

constexpr int kEncoded = 0;
constexpr int kRejected = -1;

// Turns list[0], a data line of recordType, into its command lines, in send order, in place.
// Returns kEncoded, or kRejected with the list untouched. Record types without a builder (0 and
// above 13) leave the list as it came: the data line is its own command line.
int EncodeLine(uint32_t recordType, std::vector<std::string>& list, bool en);

// The numeric field rule: the atoi value of text, lowered to maximum (no lower bound).
int32_t NumericFieldValue(std::string_view text, int32_t maximum);
// The value in decimal, "0" inserted in front while shorter than width.
std::string PadNumericField(int32_t value, std::size_t width);
// Both steps at once.
std::string FormatNumericField(std::string_view text, int32_t maximum, std::size_t width);

// The clock command "!0P" YYMMDDhhmm "\r\n" for a given local time.
std::string FormatClockCommand(const platform::LocalTime& time);

}  // namespace vudaduv
