// Small builders of byte strings for tests of the text codes.
#pragma once

#include <initializer_list>
#include <string>

namespace vudaduv::testing {

// The bytes given as numbers, e.g. Bytes({0xB0, 0xA1}).
inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

// A non-negative value in decimal with zeros in front to width digits.
inline std::string PaddedDigits(int value, std::size_t width) {
    std::string digits = std::to_string(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

}  // namespace vudaduv::testing
