#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

// The code of the full-width question mark: what a character without a zone and position gets
// when the arithmetic cannot give it four digits.
constexpr int kUnshowableCode = 331;

void AppendFourDigits(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + value / 1000));
    out.push_back(static_cast<char>('0' + value / 100 % 10));
    out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// Zone and position of a double-byte character. For bytes outside GB2312's rows the same
// arithmetic carries on (a trail byte below 0x80 counts 256 more, a missing one counts as 0);
// a result that four digits cannot hold becomes the question mark.
int DoubleByteCode(unsigned char lead, int trail) {
    int value = (lead - 160) * 100 + (trail - 160);
    if (trail < 0x80) value += 256;
    return value >= 0 && value <= 9999 ? value : kUnshowableCode;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A chunk's value as atoi reads it; four plain digits, nearly every chunk, are read directly.
int ChunkValue(std::string_view chunk) {
    if (chunk.size() == 4 && IsDigit(chunk[0]) && IsDigit(chunk[1]) && IsDigit(chunk[2]) &&
        IsDigit(chunk[3])) {
        return (chunk[0] - '0') * 1000 + (chunk[1] - '0') * 100 + (chunk[2] - '0') * 10 +
               (chunk[3] - '0');
    }
    return ReadLeadingInteger(chunk);
}

}  // namespace

std::string EncodeZonePositionText(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            AppendFourDigits(out, byte + 268);
            continue;
        }
        int trail = i + 1 < text.size() ? static_cast<unsigned char>(text[++i]) : 0;
        AppendFourDigits(out, DoubleByteCode(byte, trail));
    }
    return out;
}

std::string DecodeZonePositionText(std::string_view digits) {
    std::string out;
    out.reserve(digits.size() / 2 + 2);
    for (std::size_t start = 0; start < digits.size(); start += 4) {
        int value = ChunkValue(digits.substr(start, 4));
        if (value >= 300 && value <= 523) {
            out.push_back(static_cast<char>(value - 268));
        } else {
            // C division and remainder: both truncate toward zero.
            out.push_back(static_cast<char>(static_cast<unsigned char>(value / 100 + 160)));
            out.push_back(static_cast<char>(static_cast<unsigned char>(value % 100 + 160)));
        }
    }
    return out;
}

}  // namespace vudaduv
