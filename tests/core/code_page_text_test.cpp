// Code-page text: three digits per character, the 52-row table, sweeps and worked values.
#include "textcode/code_page_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "byte_strings.h"

namespace vudaduv {
namespace {

using testing::Bytes;

std::string ThreeDigits(int value) {
    return testing::PaddedDigits(value, 3);
}

struct Row {
    const char* code;
    const char* bytes;
};

// The 52 rows the scale expects, codes and GBK bytes, in their search order.
const Row kExpectedTable[] = {
    {"179", "\xA9\xA6"},  // │
    {"180", "\xA9\xC8"},  // ┤
    {"185", "\xA8\x67"},  // ╣
    {"186", "\xA8\x55"},  // ║
    {"187", "\xA8\x5B"},  // ╗
    {"188", "\xA8\x61"},  // ╝
    {"191", "\xA9\xB4"},  // ┐
    {"192", "\xA9\xB8"},  // └
    {"193", "\xA9\xD8"},  // ┴
    {"194", "\xA9\xD0"},  // ┬
    {"195", "\xA9\xC0"},  // ├
    {"196", "\xA9\xA4"},  // ─
    {"197", "\xA9\xE0"},  // ┼
    {"200", "\xA8\x5E"},  // ╚
    {"201", "\xA8\x58"},  // ╔
    {"202", "\xA8\x6D"},  // ╩
    {"203", "\xA8\x6A"},  // ╦
    {"204", "\xA8\x64"},  // ╠
    {"205", "\xA8\x54"},  // ═
    {"206", "\xA8\x70"},  // ╬
    {"217", "\xA9\xBC"},  // ┘
    {"218", "\xA9\xB0"},  // ┌
    {"219", "\xA8\x80"},  // █
    {"220", "\xA8\x7B"},  // ▄
    {"221", "\xA8\x84"},  // ▌
    {"249", "\xA1\xA4"},  // ·
    {"174", "\xA1\xB6"},  // 《
    {"175", "\xA1\xB7"},  // 》
    {"241", "\xA1\xC0"},  // ±
    {"244", "\xA1\xD2"},  // ∫
    {"240", "\xA1\xD4"},  // ≡
    {"247", "\xA1\xD6"},  // ≈
    {"243", "\xA1\xDC"},  // ≤
    {"242", "\xA1\xDD"},  // ≥
    {"248", "\xA1\xE3"},  // °
    {"155", "\xA1\xE9"},  // ￠
    {"156", "\xA1\xEA"},  // ￡
    {"157", "\xA3\xA4"},  // ￥
    {"226", "\xA6\xA3"},  // Γ
    {"228", "\xA6\xB2"},  // Σ
    {"232", "\xA6\xB5"},  // Φ
    {"234", "\xA6\xB8"},  // Ω
    {"224", "\xA6\xC1"},  // α
    {"225", "\xA6\xC2"},  // β
    {"235", "\xA6\xC4"},  // δ
    {"233", "\xA6\xC8"},  // θ
    {"230", "\xA6\xCC"},  // μ
    {"227", "\xA6\xD0"},  // π
    {"229", "\xA6\xD2"},  // σ
    {"231", "\xA6\xD3"},  // τ
    {"237", "\xA6\xD5"},  // φ
    {"236", "\xA6\xD8"},  // ω
};

TEST(CodePageTable, RowsAreExactlyTheExpectedOnesInOrder) {
    ASSERT_EQ(sizeof kExpectedTable / sizeof kExpectedTable[0], kCodePageTableSize);
    for (std::size_t i = 0; i < kCodePageTableSize; ++i) {
        EXPECT_STREQ(kCodePageTable[i].code, kExpectedTable[i].code) << "row " << i;
        EXPECT_EQ(std::string(kCodePageTable[i].bytes), std::string(kExpectedTable[i].bytes))
            << "row " << i;
    }
}

TEST(CodePageText, EveryTableCharacterEncodesToItsCodeAndBack) {
    for (const Row& row : kExpectedTable) {
        EXPECT_EQ(EncodeCodePageText(row.bytes), row.code) << row.code;
        EXPECT_EQ(DecodeCodePageText(row.code), row.bytes) << row.code;
    }
}

TEST(CodePageText, AllTableCharactersAsOneText) {
    std::string text;
    std::string digits;
    for (const Row& row : kExpectedTable) {
        text += row.bytes;
        digits += row.code;
    }
    EXPECT_EQ(EncodeCodePageText(text), digits);
    EXPECT_EQ(DecodeCodePageText(digits), text);
}

TEST(CodePageText, EverySingleByteEncodesToThreeDigitsAndBack) {
    std::string all;
    for (int byte = 0x00; byte <= 0x7F; ++byte) {
        EXPECT_EQ(EncodeCodePageText(Bytes({byte})), ThreeDigits(byte)) << byte;
        EXPECT_EQ(DecodeCodePageText(ThreeDigits(byte)), Bytes({byte})) << byte;
        all.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(EncodeCodePageText(all).size(), 3 * all.size());
    EXPECT_EQ(DecodeCodePageText(EncodeCodePageText(all)), all);
}

const char* TableCharacterOf(const std::string& code) {
    for (const Row& row : kExpectedTable) {
        if (code == row.code) return row.bytes;
    }
    return nullptr;
}

TEST(DecodeCodePageText, EveryThreeDigitChunk) {
    for (int value = 0; value <= 999; ++value) {
        std::string chunk = ThreeDigits(value);
        const char* character = TableCharacterOf(chunk);
        std::string expected = character ? std::string(character) : Bytes({value % 256});
        ASSERT_EQ(DecodeCodePageText(chunk), expected) << chunk;
    }
}

TEST(EncodeCodePageText, EveryDoubleByteCharacterGivesItsCodeOrNothing) {
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x00; trail <= 0xFF; ++trail) {
            std::string character = Bytes({lead, trail});
            std::string expected;
            for (const Row& row : kExpectedTable) {
                if (character == row.bytes) expected = row.code;
            }
            ASSERT_EQ(EncodeCodePageText(character), expected) << lead << "/" << trail;
        }
    }
}

struct TextCase {
    std::string text;
    std::string digits;
};

TEST(EncodeCodePageText, WorkedValues) {
    const TextCase cases[] = {
        {"", ""},
        {"A", "065"},
        {"AB", "065066"},
        {"1\xA9\xA6"
         "2",
         "049179050"},
        {"\xA1\xE3"
         "C",
         "248067"},
        {"\t", "009"},
        {"A\xB0\xA1"
         "B",
         "065066"},
        // A lead byte and the ASCII byte after it go together.
        {"\xB0"
         "AB",
         "066"},
        {"\x80"
         "A",
         ""},
        {"A\xA9", "065"},
        {"\xA9", ""},
        // The trail byte of some table characters is ASCII.
        {"\xA8"
         "U",
         "186"},
        {"x\xA8\x70"
         "y",
         "120206121"},
        {"\xA6\xC1\xA6\xC2", "224225"},
        // Pairs are taken from the left, so a table character one byte on is not seen.
        {"\xA1\xA9\xA6", ""},
        {"\xA1\xA1\xA9\xA6", "179"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeCodePageText(c.text), c.digits) << "text of " << c.text.size() << " bytes";
    }
}

TEST(DecodeCodePageText, WorkedValues) {
    const TextCase cases[] = {
        {"", ""},
        {"\xA9\xA6", "179"},
        {"\x80", "128"},
        {"A\x06", "06506"},
        {Bytes({0x00}), "000"},
        {Bytes({0x00}), "abc"},
        {",", "300"},
        {"A", "65"},
        {"\x11", "17"},
        {"A\x01", "0651"},
        {"A", " 65"},
        {"A", "+65"},
        {"\xFF", "-01"},
        {"\x07", "7x9"},
        {"\xA1\xE3"
         "C",
         "248067"},
        {"AB", "065066"},
        {"\xE7", "999"},
        // A short chunk never matches a code: 17 and 9 are read as numbers.
        {"\xA9\xA6\x11", "17917"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeCodePageText(c.digits), c.text) << "digits " << c.digits;
    }
}

}  // namespace
}  // namespace vudaduv
