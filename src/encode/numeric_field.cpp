#include <string>

#include "encode/encode_line.h"
#include "vudaduv_codec.h"

namespace vudaduv {

int32_t NumericFieldValue(std::string_view text, int32_t maximum) {
    int32_t value = ReadLeadingInteger(text);
    return value > maximum ? maximum : value;  // no lower bound: negative values stay
}

std::string PadNumericField(int32_t value, std::size_t width) {
    std::string digits = std::to_string(value);
    // The zeros go in front of everything, a minus sign included: -3 in width 4 is "00-3".
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

std::string FormatNumericField(std::string_view text, int32_t maximum, std::size_t width) {
    return PadNumericField(NumericFieldValue(text, maximum), width);
}

}  // namespace vudaduv
