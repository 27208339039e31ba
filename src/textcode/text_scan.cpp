#include "vudaduv_codec.h"

#include <cstdint>

namespace vudaduv {

std::size_t FindSeparator(std::string_view text, std::string_view separator) {
    if (separator.empty()) return kNotFound;
    std::size_t position = 0;
    while (position < text.size()) {
        if (text.compare(position, separator.size(), separator) == 0) return position;
        // A lead byte and its trail byte are one character: never look inside it.
        position += IsGbkLeadByte(static_cast<unsigned char>(text[position])) ? 2 : 1;
    }
    return kNotFound;
}

namespace {

// The white space of the C locale, as isspace sees it.
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int32_t ReadLeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range: the result saturates.
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (negative) return magnitude >= kLimit ? INT32_MIN : static_cast<int32_t>(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

}  // namespace vudaduv
