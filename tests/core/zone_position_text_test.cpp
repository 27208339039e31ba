// Zone-position text: four digits per character, sweeps over whole domains and worked values.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "byte_strings.h"
#include "vudaduv_codec.h"

namespace vudaduv {
namespace {

using testing::Bytes;

std::string FourDigits(int value) {
    return testing::PaddedDigits(value, 4);
}

bool AllDigits(const std::string& text) {
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

struct TextCase {
    std::string text;
    std::string digits;
};

TEST(EncodeZonePositionText, WorkedValues) {
    const TextCase cases[] = {
        {"", ""},
        {"A", "0333"},
        {"~", "0394"},
        {" ", "0300"},
        {"\t", "0277"},
        {"\xB0\xA1", "1601"},
        {"A\xB0\xA1", "03331601"},
        {"\xA3\xA1", "0301"},
        {"!", "0301"},
        {"AB", "03330334"},
        {Bytes({0x00}), "0268"},
        {"\x7F", "0395"},
        // A byte from 0x80 up takes the next byte with it, whatever it is.
        {"\xB0"
         "A",
         "1761"},
        {"\xB0"
         "AB",
         "17610334"},
        // Pairs are taken from the left: the second B0 is a trail byte here.
        {"\xB0\xB0\xA1", "16160196"},
        {"\xA8\x55", "0981"},
        {"\xFE\x7F", "9623"},
        {"\xFF\xFF", "9595"},
        {"\xA1\x80", "0068"},
        {"\xA1\xA0", "0100"},
        {"\xA0\xA0", "0000"},
        {"\xA0\xA1", "0001"},
        // A lead byte that ends the text takes 0 as its trail byte.
        {"\xB0", "1696"},
        {"A\xB0", "03331696"},
        {"\xFF", "9596"},
        // Where the arithmetic goes below zero: the full-width question mark.
        {"\x80", "0331"},
        {"\x81\x40", "0331"},
        {"\x9F\xFF", "0331"},
        {"\x9F\x03", "0331"},
        {"\xA0\x80", "0331"},
        {"\xA0\x9F", "0331"},
        {Bytes({0x80, 0x00, 0x41}), "03310333"},
        // ... and where it does not, even for a lead byte below 0xA0.
        {"\x9F\x04", "0000"},
        {"\x9F\x7F", "0123"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeZonePositionText(c.text), c.digits)
            << "text of " << c.text.size() << " bytes";
    }
}

TEST(DecodeZonePositionText, WorkedValues) {
    const TextCase cases[] = {
        {"", ""},
        {"AB", "03330334"},
        {" ", "0300"},
        {"!", "0301"},
        {"\x85", "0401"},
        {"\xFF", "0523"},
        {"\xA5\xB8", "0524"},
        {"\xA2\x03", "0299"},
        {"\xA2\xED", "0277"},
        {"A\xA0\xC1", "0333033"},
        {"\xA0\xA0", "abcd"},
        {"A", "333"},
        {"\xA0\xC1", "33"},
        {Bytes({0x03, 0x03}), "9999"},
        {Bytes({0xB0, 0x00}), "1696"},
        {Bytes({0x9F, 0x89}), "-123"},
        {"\xB0\xA1", "1601"},
        {"A", " 333"},
        {"A", "+333"},
        {Bytes({0x9D, 0x7F}), "-333"},
        {"\xA0\xA3", "3x"},
        {"\xA0\xA0"
         "A",
         "0000333"},
        {"\xA0\xA0", "--12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeZonePositionText(c.digits), c.text) << "digits " << c.digits;
    }
}

// The value the encoder gives a double-byte character: (lead - 160) * 100 + (trail - 160), 256
// more for a trail byte below 0x80, and the question mark where that is below zero.
int DoubleByteValue(int lead, int trail) {
    int value = (lead - 160) * 100 + (trail - 160) + (trail < 0x80 ? 256 : 0);
    return value < 0 ? 331 : value;
}

TEST(EncodeZonePositionText, EveryLeadAndTrailByteGivesOneGroupOfFourDigits) {
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x00; trail <= 0xFF; ++trail) {
            std::string code = EncodeZonePositionText(Bytes({lead, trail}));
            ASSERT_EQ(code, FourDigits(DoubleByteValue(lead, trail)))
                << "lead " << lead << " trail " << trail;
            ASSERT_TRUE(AllDigits(code));
        }
        EXPECT_EQ(EncodeZonePositionText(Bytes({lead})), FourDigits(DoubleByteValue(lead, 0)))
            << "lone lead " << lead;
    }
}

TEST(ZonePositionText, EverySingleByteEncodesAsBytePlus268) {
    for (int byte = 0x00; byte <= 0x7F; ++byte) {
        EXPECT_EQ(EncodeZonePositionText(Bytes({byte})), FourDigits(byte + 268)) << byte;
    }
}

TEST(ZonePositionText, PrintableBytesComeBackAndControlBytesDoNot) {
    for (int byte = 0x20; byte <= 0x7F; ++byte) {
        EXPECT_EQ(DecodeZonePositionText(EncodeZonePositionText(Bytes({byte}))), Bytes({byte}))
            << byte;
    }
    for (int byte = 0x00; byte <= 0x1F; ++byte) {
        std::string back = DecodeZonePositionText(EncodeZonePositionText(Bytes({byte})));
        ASSERT_EQ(back.size(), 2u) << byte;
        EXPECT_EQ(static_cast<unsigned char>(back[0]), 0xA2) << byte;
        EXPECT_EQ(static_cast<unsigned char>(back[1]), ((byte + 268) % 100 + 160) & 0xFF) << byte;
    }
}

TEST(ZonePositionText, AllPrintableBytesAsOneText) {
    std::string text;
    for (int byte = 0x20; byte <= 0x7F; ++byte) text.push_back(static_cast<char>(byte));
    std::string digits = EncodeZonePositionText(text);
    EXPECT_EQ(digits.size(), 4 * text.size());
    EXPECT_EQ(DecodeZonePositionText(digits), text);
}

// Zone 03 comes back as ASCII, zone 04 and the first 23 positions of zone 05 as single bytes;
// every other GB2312 zone and position comes back as itself.
std::string ExpectedBack(int zone, int position) {
    int value = zone * 100 + position;
    if (value >= 300 && value <= 523) return Bytes({value - 268});
    return Bytes({0xA0 + zone, 0xA0 + position});
}

TEST(ZonePositionText, EveryZoneAndPositionPair) {
    for (int zone = 1; zone <= 94; ++zone) {
        for (int position = 1; position <= 94; ++position) {
            std::string character = Bytes({0xA0 + zone, 0xA0 + position});
            std::string code = EncodeZonePositionText(character);
            ASSERT_EQ(code, FourDigits(zone * 100 + position)) << zone << "/" << position;
            ASSERT_EQ(DecodeZonePositionText(code), ExpectedBack(zone, position))
                << zone << "/" << position;
        }
    }
}

TEST(ZonePositionText, ListedExceptionsDecodeToSingleBytes) {
    const struct {
        int zone, position, byte;
    } cases[] = {
        {3, 1, 0x21},  {3, 33, 0x41}, {3, 94, 0x7E}, {4, 1, 0x85},
        {4, 94, 0xE2}, {5, 1, 0xE9},  {5, 23, 0xFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeZonePositionText(FourDigits(c.zone * 100 + c.position)), Bytes({c.byte}));
    }
    EXPECT_EQ(DecodeZonePositionText("0524"), Bytes({0xA5, 0xB8}));
}

TEST(ZonePositionText, MixedTextIsFourDigitsPerCharacter) {
    // Three single bytes, two GB2312 characters, a stray lead byte with an ASCII trail.
    const std::string text =
        "a\xB0\xA1"
        "b\xD6\xD0"
        "\x81"
        "c";
    EXPECT_EQ(EncodeZonePositionText(text).size(), 4u * 5u);
    EXPECT_EQ(EncodeZonePositionText(text),
              "0365"
              "1601"
              "0366"
              "5448"
              "0331");
}

}  // namespace
}  // namespace vudaduv
