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

// Record types 1 to 13 have builders; the data lines of the others are their own command lines.
bool RecordTypeHasBuilder(uint32_t recordType);

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

// A key table (record type 12) is exactly this many bytes.
constexpr std::size_t kKeyTableBytes = 568;

// True when the text of a message (record type 3 or 5) under this number travels as code-page
// text: with the En flag, or when the number lies above the type's threshold.
bool MessageTextIsCodePage(uint32_t recordType, int32_t number, bool en);

// The clock command "!0P" YYMMDDhhmm "\r\n" for a given local time.
std::string FormatClockCommand(const platform::LocalTime& time);

}  // namespace vudaduv
