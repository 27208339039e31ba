#include <cstdint>
#include <cstring>

#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

// The end of the run of bytes below 0x80 that starts at from, each a character of its own:
// eight bytes at a time while no byte of them has its high bit set.
std::size_t EndOfAsciiRun(std::string_view text, std::size_t from) {
    constexpr uint64_t kHighBits = 0x8080808080808080u;
    while (text.size() - from >= sizeof(uint64_t)) {
        uint64_t word = 0;
        std::memcpy(&word, text.data() + from, sizeof word);
        if ((word & kHighBits) != 0) break;
        from += sizeof word;
    }
    while (from < text.size() && static_cast<unsigned char>(text[from]) < 0x80) ++from;
    return from;
}

}  // namespace

std::size_t FindSeparator(std::string_view text, std::string_view separator) {
    if (separator.empty()) return kNotFound;
    std::size_t position = 0;
    while (position < text.size()) {
        // Every position inside an ASCII run starts a character: a plain search finds the first
        // separator that starts there, also one that reaches past the run.
        std::size_t runEnd = EndOfAsciiRun(text, position);
        if (runEnd > position) {
            std::size_t found =
                text.substr(0, runEnd + separator.size() - 1).find(separator, position);
            if (found != std::string_view::npos) return found;
            position = runEnd;
            continue;
        }
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
