// The shared reading helpers: the separator search over GBK text, the atoi reading, the numeric
// field rule and the reading of a caller's string list.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "encode/encode_line.h"
#include "send/command_list.h"
#include "vudaduv_codec.h"

namespace vudaduv {
namespace {

TEST(FindSeparator, FirstOccurrenceSteppingOverDoubleByteCharacters) {
    const struct {
        std::string text;
        std::string separator;
        std::size_t position;
    } cases[] = {
        {"", "A", kNotFound},
        {"A", "A", 0},
        {"xA", "A", 1},
        {"xAyA", "A", 1},
        {"a", "", kNotFound},
        {"\x81"
         "AA",
         "A", 2},
        {"\xFE"
         "A",
         "A", kNotFound},
        {"\x80"
         "A",
         "A", 1},
        {"\xFF"
         "A",
         "A", 1},
        {"\x81", "A", kNotFound},
        {"\xB0\xA1"
         "A",
         "A", 2},
        {"##", "##", 0},
        {"#", "##", kNotFound},
        {"a\x81##", "##", kNotFound},
        {"a\x81###", "##", 3},
        // Runs of ASCII longer than a machine word, and separators that reach past them.
        {"xxxxxxxxxxxxxxxxA", "A", 16},
        {"xxxxxxxxx\x81"
         "AA",
         "A", 11},
        {"xxxxxxx\xB0\xA1xxxxxxxxA", "A", 17},
        {"aaaaaaaa#\x81##", "##", kNotFound},
        {"aaaaaaaa##\x81", "##", 8},
        {"\x81#\x81###", "##", 4},
        {"a#b##", "##", 3},
        {"###", "##", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindSeparator(c.text, c.separator), c.position)
            << "[" << c.text << "] [" << c.separator << "]";
    }
}

TEST(ReadLeadingInteger, ReadsLikeAtoiAndSaturates) {
    const struct {
        std::string text;
        int32_t value;
    } cases[] = {
        {"", 0},
        {"12", 12},
        {" \t\n\v\f\r12", 12},
        {"+7", 7},
        {"-7", -7},
        {"- 7", 0},
        {"+-7", 0},
        {"12 34", 12},
        {"0x10", 0},
        {"007", 7},
        {"\xA0"
         "5",
         0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN},
        {"000000000000000000000000042", 42},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadLeadingInteger(c.text), c.value) << c.text;
}

TEST(NumericField, ClampedAbovePaddedInFrontNeverCut) {
    const struct {
        std::string text;
        int32_t maximum;
        std::size_t width;
        std::string field;
    } cases[] = {
        {"7", 15, 2, "07"},
        {"16", 15, 2, "15"},
        {"-3", 4000, 4, "00-3"},
        {"abc", 22, 2, "00"},
        {"12345", 99999, 2, "12345"},
        {"5", 9, 0, "5"},
        {"-99999999999", 15, 2, "-2147483648"},
        {"99999999999", 32, 2, "32"},
        {"2147483647", INT32_MAX, 12, "002147483647"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatNumericField(c.text, c.maximum, c.width), c.field) << c.text;
        EXPECT_EQ(PadNumericField(NumericFieldValue(c.text, c.maximum), c.width), c.field)
            << c.text;
    }
}

TEST(ReadStringList, NullStringsAndNullItems) {
    const char* withNull[] = {"a", nullptr, ""};
    const char* unused[] = {"x"};
    EXPECT_EQ(ReadStringList({withNull, 3}), (std::vector<std::string>{"a", "", ""}));
    EXPECT_EQ(ReadStringList({withNull, 1}), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(ReadStringList({nullptr, 0}).empty());
    EXPECT_TRUE(ReadStringList({unused, 0}).empty());
    EXPECT_TRUE(ReadStringList({nullptr, 5}).empty());
}

TEST(BuildCommandList, AcceptedLinesJoinedInOrder) {
    const char* items[] = {"1Aa", nullptr, "noa", "3Ab"};
    const WQStringList lines{items, 4};
    EXPECT_EQ(BuildCommandList(1, lines, false),
              (std::vector<std::string>{"!0V0001AaBCDE\r\n", "!0V0003AbBCDE\r\n"}));
    EXPECT_EQ(BuildCommandList(7, lines, true),
              (std::vector<std::string>{"!0O1Aa\r\n", "!0O\r\n", "!0Onoa\r\n", "!0O3Ab\r\n"}));
    EXPECT_EQ(BuildCommandList(8, lines, false), (std::vector<std::string>{"!0N\r\n"}));
    EXPECT_EQ(BuildCommandList(8, WQStringList{nullptr, 0}, false),
              (std::vector<std::string>{"!0N\r\n"}));
    EXPECT_TRUE(BuildCommandList(2, WQStringList{nullptr, 0}, false).empty());
    EXPECT_TRUE(BuildCommandList(12, lines, false).empty());
}

TEST(BuildCommandList, ManyLinesKeepTheirOrder) {
    std::vector<std::string> texts;
    std::vector<const char*> items;
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; ++i) texts.push_back(std::to_string(i % 4001));
    for (const std::string& text : texts) items.push_back(text.c_str());
    for (int i = 0; i < 3000; ++i) {
        std::string number = std::to_string(i % 4001);
        expected.push_back("!0U" + std::string(4 - number.size(), '0') + number + "A\r\n");
    }
    EXPECT_EQ(
        BuildCommandList(2, WQStringList{items.data(), static_cast<uint32_t>(items.size())}, false),
        expected);
}

}  // namespace
}  // namespace vudaduv
