// Cuts of reply tokens that never reach outside the token: removing more characters than a
// token holds leaves it empty.
#pragma once

#include <string>
#include <string_view>

#include "vudaduv_codec.h"

namespace vudaduv {

inline void RemoveFront(std::string& token, std::size_t count) {
    token.erase(0, count < token.size() ? count : token.size());
}

inline void RemoveBack(std::string& token, std::size_t count) {
    token.resize(count < token.size() ? token.size() - count : 0);
}

// The token without its first `front` and then its last `back` characters.
inline std::string_view Cut(std::string_view token, std::size_t front, std::size_t back) {
    token.remove_prefix(front < token.size() ? front : token.size());
    token.remove_suffix(back < token.size() ? back : token.size());
    return token;
}

// Position of the first marker letter, or -1 when the token holds none.
inline long MarkerPosition(std::string_view token, std::string_view marker) {
    std::size_t position = FindSeparator(token, marker);
    return position == kNotFound ? -1 : static_cast<long>(position);
}

// The characters strictly between two marker positions: empty when the span has no length,
// stopped at the end of the token.
inline std::string_view SpanBetween(std::string_view token, long open, long close) {
    long begin = open + 1;
    if (close <= begin || static_cast<std::size_t>(begin) >= token.size()) return {};
    return token.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(close - begin));
}

}  // namespace vudaduv
