// The command encoder: every record type through EncodeLine, exact bytes with CR LF.
#include "encode/encode_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vudaduv {
namespace {

using Lines = std::vector<std::string>;

struct EncodeCase {
    uint32_t recordType;
    std::string dataLine;
    bool en;
    Lines commandLines;
};

void ExpectEncodes(const EncodeCase& c) {
    Lines list{c.dataLine};
    EXPECT_EQ(EncodeLine(c.recordType, list, c.en), 0)
        << "type " << c.recordType << " line [" << c.dataLine << "] en " << c.en;
    EXPECT_EQ(list, c.commandLines)
        << "type " << c.recordType << " line [" << c.dataLine << "] en " << c.en;
}

void ExpectEncodesWithEitherFlag(uint32_t recordType, const std::string& dataLine,
                                 const Lines& commandLines) {
    ExpectEncodes({recordType, dataLine, false, commandLines});
    ExpectEncodes({recordType, dataLine, true, commandLines});
}

void ExpectRejected(uint32_t recordType, const std::string& dataLine, bool en) {
    Lines list{dataLine, "behind"};
    EXPECT_EQ(EncodeLine(recordType, list, en), -1)
        << "type " << recordType << " [" << dataLine << "]";
    EXPECT_EQ(list, (Lines{dataLine, "behind"}));
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// --- Fixed forms and the numeric field rule -----------------------------------------------

struct FixedCase {
    uint32_t recordType;
    std::string dataLine;
    Lines commandLines;
};

TEST(EncodeLineFixedForms, WorkedExamples) {
    const FixedCase cases[] = {
        {2, "12", {"!0U0012A\r\n"}},
        {2, "4001", {"!0U4000A\r\n"}},
        {2, "", {"!0U0000A\r\n"}},
        {2, "  7kg", {"!0U0007A\r\n"}},
        {2, "-3", {"!0U00-3A\r\n"}},
        {4, "23", {"!0W22A\r\n"}},
        {4, "5", {"!0W05A\r\n"}},
        {6, "40", {"!0Y32A\r\n"}},
        {6, "32", {"!0Y32A\r\n"}},
        {6, "7", {"!0Y07A\r\n"}},
        {7, "", {"!0O\r\n"}},
        {7, "xyz ##A B\xB0\xA1", {"!0Oxyz ##A B\xB0\xA1\r\n"}},
        {8, "xyz", {"!0N\r\n"}},
        {8, "", {"!0N\r\n"}},
        {11, "20", {"!0S15A\r\n", "!0Q15A\r\n"}},
        {11, "3", {"!0S03A\r\n", "!0Q03A\r\n"}},
        {11, "", {"!0S00A\r\n", "!0Q00A\r\n"}},
        {13, "", {"!0K00A\r\n", "!0K01A\r\n", "!0K02A\r\n", "!0K03A\r\n"}},
        {13, "anything 12", {"!0K00A\r\n", "!0K01A\r\n", "!0K02A\r\n", "!0K03A\r\n"}},
    };
    for (const auto& c : cases)
        ExpectEncodesWithEitherFlag(c.recordType, c.dataLine, c.commandLines);
}

struct NumberCase {
    std::string text;
    std::string field;  // as record type 2 writes it (maximum 4000, width 4)
};

TEST(EncodeLineFixedForms, NumericFieldReadsLikeAtoi) {
    const NumberCase cases[] = {
        {"0", "0000"},
        {"4000", "4000"},
        {"4001", "4000"},
        {"007", "0007"},
        {"+5", "0005"},
        {" \t\n\v\f\r9", "0009"},
        {"12abc", "0012"},
        {"abc12", "0000"},
        {"0x1F", "0000"},
        {"1e3", "0001"},
        {"- 5", "0000"},
        {"+-5", "0000"},
        {"--5", "0000"},
        {"5 6", "0005"},
        {"-1", "00-1"},
        {"-0", "0000"},
        {"-12345", "-12345"},
        {"2147483647", "4000"},
        {"2147483648", "4000"},
        {"99999999999", "4000"},
        {"-2147483648", "-2147483648"},
        {"-2147483649", "-2147483648"},
        {"-99999999999", "-2147483648"},
        {"00000000000000000000012", "0012"},
        {"\xB0\xA1"
         "12",
         "0000"},
    };
    for (const auto& c : cases) {
        ExpectEncodesWithEitherFlag(2, c.text, {"!0U" + c.field + "A\r\n"});
    }
}

TEST(EncodeLineFixedForms, NumberFieldsOfTheOtherReadRequests) {
    const FixedCase cases[] = {
        {4, "22", {"!0W22A\r\n"}},
        {4, "99999999999", {"!0W22A\r\n"}},
        {4, "-3", {"!0W-3A\r\n"}},
        {4, "-30", {"!0W-30A\r\n"}},
        {4, "", {"!0W00A\r\n"}},
        {6, "33", {"!0Y32A\r\n"}},
        {6, " +16x", {"!0Y16A\r\n"}},
        {11, "15", {"!0S15A\r\n", "!0Q15A\r\n"}},
        {11, "-7", {"!0S-7A\r\n", "!0Q-7A\r\n"}},
        {11, "99999999999", {"!0S15A\r\n", "!0Q15A\r\n"}},
    };
    for (const auto& c : cases)
        ExpectEncodesWithEitherFlag(c.recordType, c.dataLine, c.commandLines);
}

TEST(EncodeLineFixedForms, ClockLineHasTenDigits) {
    for (bool en : {false, true}) {
        Lines list{"ignored 12"};
        ASSERT_EQ(EncodeLine(9, list, en), 0);
        ASSERT_EQ(list.size(), 1u);
        const std::string& line = list[0];
        ASSERT_EQ(line.size(), 15u) << line;
        EXPECT_EQ(line.substr(0, 3), "!0P");
        EXPECT_EQ(line.substr(13), "\r\n");
        for (std::size_t i = 3; i < 13; ++i) EXPECT_TRUE(line[i] >= '0' && line[i] <= '9') << line;
    }
}

TEST(FormatClockCommand, TwoDigitsPerField) {
    const struct {
        platform::LocalTime time;
        std::string line;
    } cases[] = {
        {{2026, 3, 7, 9, 5}, "!0P2603070905\r\n"},
        {{2005, 3, 7, 9, 5}, "!0P0503070905\r\n"},
        {{1999, 12, 31, 23, 59}, "!0P9912312359\r\n"},
        {{2000, 1, 1, 0, 0}, "!0P0001010000\r\n"},
        {{5, 10, 10, 10, 10}, "!0P0510101010\r\n"},
        {{12345, 6, 15, 12, 30}, "!0P4506151230\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatClockCommand(c.time), c.line);
}

TEST(EncodeLine, TypesWithoutBuilderLeaveTheListAsItCame) {
    const Lines inputs[] = {{"free text"}, {""}, {"5A##x", "second", ""}, {"\xB0\xA1 \r\n"}};
    for (uint32_t recordType : {0u, 14u, 15u, 100u, UINT32_MAX}) {
        for (bool en : {false, true}) {
            for (const Lines& input : inputs) {
                Lines list = input;
                EXPECT_EQ(EncodeLine(recordType, list, en), 0) << recordType;
                EXPECT_EQ(list, input) << recordType;
            }
        }
    }
}

TEST(EncodeLine, SingleLineBuildersReplaceOnlyTheFirstElement) {
    const FixedCase cases[] = {
        {1, "5A", {"!0V0005ABCDE\r\n"}}, {2, "12", {"!0U0012A\r\n"}},
        {3, "5A", {"!0X05A0000B\r\n"}},  {4, "5", {"!0W05A\r\n"}},
        {5, "5A", {"!0Z05A0000B\r\n"}},  {6, "5", {"!0Y05A\r\n"}},
        {7, "x", {"!0Ox\r\n"}},          {8, "", {"!0N\r\n"}},
    };
    for (const auto& c : cases) {
        Lines list{c.dataLine, "second", "third"};
        ASSERT_EQ(EncodeLine(c.recordType, list, false), 0);
        EXPECT_EQ(list, (Lines{c.commandLines[0], "second", "third"})) << c.recordType;
    }
}

TEST(EncodeLine, TwoLineBuildersAppendBehindTheLastElement) {
    Lines label{"3AxByz", "second"};
    ASSERT_EQ(EncodeLine(10, label, false), 0);
    EXPECT_EQ(label, (Lines{"!0T03Ax\r\n", "second", "!0R03Ayz\r\n"}));
    Lines read{"20", "second"};
    ASSERT_EQ(EncodeLine(11, read, false), 0);
    EXPECT_EQ(read, (Lines{"!0S15A\r\n", "second", "!0Q15A\r\n"}));
}

TEST(EncodeLine, KeyTableBuildersEmptyTheListFirst) {
    Lines read{"", "second"};
    ASSERT_EQ(EncodeLine(13, read, false), 0);
    EXPECT_EQ(read, (Lines{"!0K00A\r\n", "!0K01A\r\n", "!0K02A\r\n", "!0K03A\r\n"}));
    Lines table{std::string(568, 'k'), "second"};
    ASSERT_EQ(EncodeLine(12, table, false), 0);
    EXPECT_EQ(table.size(), 4u);
}

// --- Record type 1 -------------------------------------------------------------------------

TEST(EncodeLineItemRecord, WorkedExamples) {
    const EncodeCase cases[] = {
        {1, "5A", false, {"!0V0005ABCDE\r\n"}},
        {1, "5A", true, {"!0V0005ABCDE\r\n"}},
        {1, "5A##", false, {"!0V0005ABCDE\r\n"}},
        {1, "5A######", false, {"!0V0005ABCDE\r\n"}},
        {1, "5A######", true, {"!0V0005ABCDE\r\n"}},
        {1, "5Ax##ab", false, {"!0V0005AxB03650366CDE\r\n"}},
        {1, "5Ax##ab", true, {"!0V0005AxB097098CDE\r\n"}},
        {1, "A1", false, {"!0V0000A1BCDE\r\n"}},
        {1, "xA1", false, {"!0V0000A1BCDE\r\n"}},
        {1, "1##2A9", false, {"!0V0001A9BCDE\r\n"}},
        {1, "9999Afoo##", false, {"!0V4000AfooBCDE\r\n"}},
        {1, "99999999999A", false, {"!0V4000ABCDE\r\n"}},
        {1, "-5A", false, {"!0V00-5ABCDE\r\n"}},
        {1, " 12A", false, {"!0V0012ABCDE\r\n"}},
        // Four or more texts: the first three only.
        {1, "5A##a##b##c##d", false, {"!0V0005AB0365C0366D0367E\r\n"}},
        {1, "5A##a##b##c##d##e", true, {"!0V0005AB097C098D099E\r\n"}},
        // Three "#" in a row split after the first two.
        {1, "5A##x###y", false, {"!0V0005AB0388C03030389DE\r\n"}},
        {1, "5A##x###y", true, {"!0V0005AB120C035121DE\r\n"}},
        // Empty texts keep their place.
        {1, "5A####b", false, {"!0V0005ABC0366DE\r\n"}},
        {1, "5A######c", false, {"!0V0005ABCD0367E\r\n"}},
        // Fields hold any bytes but "##", further "A"s included.
        {1,
         "5AAxA#B C\xB0\xA1##a",
         false,
         {"!0V0005AAxA#B C\xB0\xA1"
          "B0365CDE\r\n"}},
        {1, "5A##\xB0\xA1", false, {"!0V0005AB1601CDE\r\n"}},
        {1, "5A##\xB0\xA1", true, {"!0V0005ABCDE\r\n"}},
        {1, "5A##\xA9\xA6\xA1\xE3", true, {"!0V0005AB179248CDE\r\n"}},
        {1, "5A##\xA9\xA6\xA1\xE3", false, {"!0V0005AB09060167CDE\r\n"}},
    };
    for (const auto& c : cases) ExpectEncodes(c);
}

TEST(EncodeLineItemRecord, RejectsALineWithoutA) {
    for (bool en : {false, true}) {
        ExpectRejected(1, "", en);
        ExpectRejected(1, "5##x", en);
        ExpectRejected(1, "5a##x", en);
        // "A" as the trail byte of a double-byte character is no separator.
        ExpectRejected(1,
                       "5\x81"
                       "A##x",
                       en);
        ExpectRejected(1,
                       "\xFE"
                       "A",
                       en);
    }
}

TEST(EncodeLineItemRecord, SeparatorSearchStepsOverDoubleByteCharacters) {
    const EncodeCase cases[] = {
        // Lead bytes are 0x81 to 0xFE: the "A" after one is its trail byte.
        {1,
         "\x81"
         "AA",
         false,
         {"!0V0000ABCDE\r\n"}},
        {1,
         "\xFE"
         "A7A",
         false,
         {"!0V0000ABCDE\r\n"}},
        // 0x80 and 0xFF lead nothing, so the "A" after them separates.
        {1,
         "\x80"
         "AA",
         false,
         {"!0V0000AABCDE\r\n"}},
        {1,
         "\xFF"
         "A",
         false,
         {"!0V0000ABCDE\r\n"}},
        // A "#" trail byte does not start a "##".
        {1, "5A\x81###x", false, {"!0V0005A\x81#B0388CDE\r\n"}},
        {1, "5A##\xB0##x", false, {"!0V0005AB173103030388CDE\r\n"}},
        {1, "5A##a\xB0##b##c", false, {"!0V0005AB0365173103030366C0367DE\r\n"}},
        // "##" right after a whole double-byte character does separate.
        {1, "5A##\xB0\xA1##x", false, {"!0V0005AB1601C0388DE\r\n"}},
    };
    for (const auto& c : cases) ExpectEncodes(c);
}

TEST(EncodeLineItemRecord, CodesAreCutAtFortyEightDigitsOnGroupBounds) {
    const std::string twelve = Repeat("a", 12);
    const std::string sixteen = Repeat("a", 16);
    const std::string zone12 = Repeat("0365", 12);
    const std::string page16 = Repeat("097", 16);
    const EncodeCase cases[] = {
        {1, "1A##" + twelve, false, {"!0V0001AB" + zone12 + "CDE\r\n"}},
        {1, "1A##" + twelve + "b", false, {"!0V0001AB" + zone12 + "CDE\r\n"}},
        {1, "1A##" + Repeat("\xB0\xA1", 13), false, {"!0V0001AB" + Repeat("1601", 12) + "CDE\r\n"}},
        {1, "1A##" + sixteen, true, {"!0V0001AB" + page16 + "CDE\r\n"}},
        {1, "1A##" + sixteen + "b", true, {"!0V0001AB" + page16 + "CDE\r\n"}},
        {1, "1A##" + Repeat("\xA9\xA6", 17), true, {"!0V0001AB" + Repeat("179", 16) + "CDE\r\n"}},
        // Characters the code-page table lacks take no room.
        {1,
         "1A##" + Repeat("\xB0\xA1"
                         "a",
                         17),
         true,
         {"!0V0001AB" + page16 + "CDE\r\n"}},
        // Each text is cut on its own.
        {1,
         "1A##" + Repeat("b", 20) + "##" + twelve + "##" + Repeat("c", 13),
         false,
         {"!0V0001AB" + Repeat("0366", 12) + "C" + zone12 + "D" + Repeat("0367", 12) + "E\r\n"}},
    };
    for (const auto& c : cases) ExpectEncodes(c);
}

// --- Record types 3 and 5 ------------------------------------------------------------------

TEST(EncodeLineTextMessage, WorkedExamples) {
    const EncodeCase cases[] = {
        {3, "5A", false, {"!0X05A0000B\r\n"}},
        {3, "5A", true, {"!0X05A000B\r\n"}},
        {3, "5Ahi", false, {"!0X05A037203730000B\r\n"}},
        {3, "5Ahi", true, {"!0X05A104105000B\r\n"}},
        {3, "12Ahi", false, {"!0X12A104105000B\r\n"}},
        {3, "40A", false, {"!0X22A000B\r\n"}},
        {3, "A", false, {"!0X00A0000B\r\n"}},
        {3, "xA", false, {"!0X00A0000B\r\n"}},
        {3, "7AxAy", false, {"!0X07A0388033303890000B\r\n"}},
        {3, "7AxAy", true, {"!0X07A120065121000B\r\n"}},
        {5, "5Ahi", false, {"!0Z05A037203730000B\r\n"}},
        {5, "5Ahi", true, {"!0Z05A104105000B\r\n"}},
        {5, "99A", false, {"!0Z32A000B\r\n"}},
        {5, "99999999999Ahi", false, {"!0Z32A104105000B\r\n"}},
        {3, "5A\xB0\xA1", false, {"!0X05A16010000B\r\n"}},
        {3, "5A\xB0\xA1\xA9\xA6", true, {"!0X05A179000B\r\n"}},
        {5,
         "20A\xA1\xE3"
         "C",
         false,
         {"!0Z20A248067000B\r\n"}},
        // No lower bound: a negative number stays, and uses zone-position text.
        {3, "-5Ahi", false, {"!0X-5A037203730000B\r\n"}},
        {3, "-5Ahi", true, {"!0X-5A104105000B\r\n"}},
        {5, "-99Ahi", false, {"!0Z-99A037203730000B\r\n"}},
    };
    for (const auto& c : cases) ExpectEncodes(c);
}

TEST(EncodeLineTextMessage, ThresholdsChooseCodePageTextAboveTenAndSixteen) {
    const EncodeCase cases[] = {
        {3, "10Ahi", false, {"!0X10A037203730000B\r\n"}},
        {3, "11Ahi", false, {"!0X11A104105000B\r\n"}},
        {3, "10Ahi", true, {"!0X10A104105000B\r\n"}},
        {5, "16Ahi", false, {"!0Z16A037203730000B\r\n"}},
        {5, "17Ahi", false, {"!0Z17A104105000B\r\n"}},
        {5, "16Ahi", true, {"!0Z16A104105000B\r\n"}},
        {5, "11Ahi", false, {"!0Z11A037203730000B\r\n"}},
        {3, "16Ahi", false, {"!0X16A104105000B\r\n"}},
    };
    for (const auto& c : cases) ExpectEncodes(c);
}

TEST(EncodeLineTextMessage, CodesAreCutToThirtyGroupsBeforeTheTerminator) {
    const EncodeCase cases[] = {
        {3, "5A" + Repeat("h", 30), false, {"!0X05A" + Repeat("0372", 30) + "0000B\r\n"}},
        {3, "5A" + Repeat("h", 31), false, {"!0X05A" + Repeat("0372", 30) + "0000B\r\n"}},
        {3, "5A" + Repeat("h", 30), true, {"!0X05A" + Repeat("104", 30) + "000B\r\n"}},
        {3, "5A" + Repeat("h", 31), true, {"!0X05A" + Repeat("104", 30) + "000B\r\n"}},
        {5, "20A" + Repeat("\xA9\xA6", 40), false, {"!0Z20A" + Repeat("179", 30) + "000B\r\n"}},
        {5, "2A" + Repeat("\xB0\xA1", 40), false, {"!0Z02A" + Repeat("1601", 30) + "0000B\r\n"}},
    };
    for (const auto& c : cases) ExpectEncodes(c);
}

TEST(EncodeLineTextMessage, RejectsALineWithoutA) {
    for (uint32_t recordType : {3u, 5u}) {
        for (bool en : {false, true}) {
            ExpectRejected(recordType, "", en);
            ExpectRejected(recordType, "5hi", en);
            ExpectRejected(recordType,
                           "5\x81"
                           "Ahi",
                           en);
        }
    }
}

TEST(EncodeLineTextMessage, AnAThatIsATrailByteDoesNotSeparate) {
    // The first "A" is the one after the double-byte character.
    ExpectEncodes({3,
                   "\x81"
                   "A5Ahi",
                   false,
                   {"!0X00A037203730000B\r\n"}});
    ExpectEncodes({3,
                   "\x80"
                   "A5Ahi",
                   false,
                   {"!0X00A0321033303720373"
                    "0000B\r\n"}});
}

// --- Record types 10 and 12 ----------------------------------------------------------------

TEST(EncodeLineLabelText, WorkedExamples) {
    const FixedCase cases[] = {
        {10, "3AxByz", {"!0T03Ax\r\n", "!0R03Ayz\r\n"}},
        {10, "3AB", {"!0T03A\r\n", "!0R03A\r\n"}},
        {10, "20AxBy", {"!0T15Ax\r\n", "!0R15Ay\r\n"}},
        {10, "7AxyBzBw", {"!0T07Axy\r\n", "!0R07AzBw\r\n"}},
        {10, "7AxAyBz", {"!0T07AxAy\r\n", "!0R07Az\r\n"}},
        {10, "B3Ax", {"!0T00A\r\n", "!0R00A3Ax\r\n"}},
        {10, "-4AxBy", {"!0T-4Ax\r\n", "!0R-4Ay\r\n"}},
        // Texts are not converted.
        {10,
         "3A\xB0\xA1"
         "B\xA9\xA6",
         {"!0T03A\xB0\xA1\r\n", "!0R03A\xA9\xA6\r\n"}},
        // A "B" that is a trail byte does not end text 1; 0x80 is no lead byte.
        {10,
         "3A\x81"
         "BxByz",
         {"!0T03A\x81"
          "Bx\r\n",
          "!0R03Ayz\r\n"}},
        {10,
         "\x81"
         "A3AxBy",
         {"!0T00Ax\r\n", "!0R00Ay\r\n"}},
        {10,
         "3A\x80"
         "BxBy",
         {"!0T03A\x80\r\n", "!0R03AxBy\r\n"}},
    };
    for (const auto& c : cases)
        ExpectEncodesWithEitherFlag(c.recordType, c.dataLine, c.commandLines);
}

TEST(EncodeLineLabelText, RejectsALineWithoutAOrB) {
    for (bool en : {false, true}) {
        ExpectRejected(10, "", en);
        ExpectRejected(10, "3Axy", en);
        ExpectRejected(10, "3xBy", en);
        ExpectRejected(10,
                       "3A\x81"
                       "B",
                       en);
        ExpectRejected(10,
                       "3\x81"
                       "AB",
                       en);
    }
}

std::string KeyTable() {
    std::string table;
    for (int i = 0; i < 568; ++i) table.push_back(static_cast<char>("AB#0z\x81\xB0"[i % 7]));
    table[0] = '\0';
    return table;
}

TEST(EncodeLineKeyTable, FourBlocksOf144Bytes) {
    const std::string table = KeyTable();
    const std::string padded = table + "00000000";
    Lines expected;
    for (int i = 0; i < 4; ++i) {
        expected.push_back("!0L0" + std::to_string(i) + "A" + padded.substr(144 * i, 144) +
                           "B\r\n");
    }
    ExpectEncodesWithEitherFlag(12, table, expected);
    for (const std::string& line : expected) EXPECT_EQ(line.size(), 153u);
    EXPECT_EQ(expected[3].substr(142, 8), "00000000");
}

TEST(EncodeLineKeyTable, RejectsAnyOtherLength) {
    for (std::size_t length : {0u, 1u, 567u, 569u, 576u}) {
        for (bool en : {false, true}) ExpectRejected(12, std::string(length, 'k'), en);
    }
}

TEST(EncodeLine, EnFlagChangesNothingForTypesWithoutTexts) {
    const FixedCase cases[] = {
        {2, "77", {}},
        {4, "7", {}},
        {6, "7", {}},
        {7, "5A##ab", {}},
        {8, "", {}},
        {10,
         "1A\xA9\xA6"
         "B\xB0\xA1",
         {}},
        {11, "7", {}},
        {12, std::string(568, 'x'), {}},
        {13, "", {}},
        {0, "5A##ab", {}},
    };
    for (const auto& c : cases) {
        Lines plain{c.dataLine};
        Lines en{c.dataLine};
        ASSERT_EQ(EncodeLine(c.recordType, plain, false), 0);
        ASSERT_EQ(EncodeLine(c.recordType, en, true), 0);
        EXPECT_EQ(plain, en) << c.recordType;
    }
}

TEST(EncodeLine, EmptyListIsSafeForEveryRecordType) {
    for (uint32_t recordType = 0; recordType <= 14; ++recordType) {
        for (bool en : {false, true}) {
            Lines list;
            int result = EncodeLine(recordType, list, en);
            EXPECT_TRUE(result == 0 || result == -1) << recordType;
        }
    }
}

}  // namespace
}  // namespace vudaduv
