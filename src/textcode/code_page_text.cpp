#include "textcode/code_page_text.h"

#include <array>
#include <cstdint>

#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

constexpr int16_t kNoRow = -1;

// Direct lookups over the table, built once. Each keeps the first row for its key, so a lookup
// finds what a search of the rows in order would find.
struct CodePageIndex {
    std::array<int16_t, 65536> rowByCharacter;  // (lead << 8) | trail
    std::array<int16_t, 1000> rowByCode;

    CodePageIndex() {
        rowByCharacter.fill(kNoRow);
        rowByCode.fill(kNoRow);
        for (int16_t row = kCodePageTableSize - 1; row >= 0; --row) {
            const CodePageRow& entry = kCodePageTable[row];
            rowByCharacter[CharacterKey(entry.bytes[0], entry.bytes[1])] = row;
            rowByCode[std::stoi(entry.code)] = row;
        }
    }

    static std::size_t CharacterKey(char lead, char trail) {
        return static_cast<std::size_t>(static_cast<unsigned char>(lead)) << 8 |
               static_cast<unsigned char>(trail);
    }
};

const CodePageIndex& Index() {
    static const CodePageIndex index;
    return index;
}

// The row whose character is exactly these two bytes.
const CodePageRow* FindRowByCharacter(char lead, char trail) {
    int16_t row = Index().rowByCharacter[CodePageIndex::CharacterKey(lead, trail)];
    return row == kNoRow ? nullptr : &kCodePageTable[row];
}

// The row whose code equals the chunk exactly: three digits, never a shorter chunk.
const CodePageRow* FindRowByCode(std::string_view chunk) {
    if (chunk.size() != 3) return nullptr;
    int code = 0;
    for (char c : chunk) {
        if (c < '0' || c > '9') return nullptr;
        code = code * 10 + (c - '0');
    }
    int16_t row = Index().rowByCode[static_cast<std::size_t>(code)];
    return row == kNoRow ? nullptr : &kCodePageTable[row];
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
        if (i + 1 < text.size()) {
            if (const CodePageRow* row = FindRowByCharacter(text[i], text[i + 1])) out += row->code;
        }
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
