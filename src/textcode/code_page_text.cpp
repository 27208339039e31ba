#include "textcode/code_page_text.h"

#include "textcode/text_scan.h"

namespace vudaduv {

namespace {

const CodePageRow* FindRowByCharacter(std::string_view character) {
    for (const CodePageRow& row : kCodePageTable) {
        if (character == row.bytes) return &row;
    }
    return nullptr;
}

const CodePageRow* FindRowByCode(std::string_view chunk) {
    for (const CodePageRow& row : kCodePageTable) {
        if (chunk == row.code) return &row;
    }
    return nullptr;
}

void AppendThreeDigits(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + value / 100));
    out.push_back(static_cast<char>('0' + value / 10 % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

std::string EncodeCodePageText(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            AppendThreeDigits(out, byte);
            continue;
        }
        // A lead byte takes the next byte with it; a pair outside the table leaves no trace.
        const CodePageRow* row = FindRowByCharacter(text.substr(i, 2));
        if (row != nullptr) out += row->code;
        ++i;
    }
    return out;
}

std::string DecodeCodePageText(std::string_view digits) {
    std::string out;
    out.reserve(digits.size() / 2 + 2);
    for (std::size_t start = 0; start < digits.size(); start += 3) {
        std::string_view chunk = digits.substr(start, 3);
        if (const CodePageRow* row = FindRowByCode(chunk)) {
            out += row->bytes;
        } else {
            out.push_back(static_cast<char>(static_cast<unsigned char>(ReadLeadingInteger(chunk))));
        }
    }
    return out;
}

}  // namespace vudaduv
