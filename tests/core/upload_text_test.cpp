// The upload rewrite as a pure function: reply files in, upload text out.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "upload/upload.h"

namespace vudaduv {
namespace {

struct UploadCase {
    const char* name;
    std::string replies;  // what the transport left in the upload file
    bool en;
    std::string upload;  // what the rewrite writes
};

void ExpectUploadCases(const std::vector<UploadCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertUploadText(c.replies, c.en), c.upload) << c.name << " (en " << c.en << ")";
        // Earlier upload lines survive the rewrites of later sends.
        EXPECT_EQ(ConvertUploadText(c.upload, !c.en), c.upload) << c.name << ", rewritten again";
    }
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Label halves and key-table quarters as the scale sends them.
const std::string kLabelOpen = "0s01Aa000 ";   // first half of label 01, text "a"
const std::string kLabelClose = "0q01Ab000 ";  // second half, text "b"
const std::string kLabelLine = "10P01AaBb\r\n";
const std::string kKey0 = "0k00AaaaaB ";
const std::string kKey1 = "0k01AbbbbB ";
const std::string kKey2 = "0k02AccccB ";
const std::string kKey3 = "0k03Adddd00000000B ";
const std::string kKeyLine = "12Paaaabbbbccccdddd\r\n";
const std::string kOtherKey = "0k00AwwwwB 0k01AxxxxB 0k02AyyyyB 0k03Azzzz00000000B ";
const std::string kOtherKeyLine = "12Pwwwwxxxxyyyyzzzz\r\n";

TEST(ConvertUploadText, GroupInEveryStateMeetsEveryGroupCode) {
    ExpectUploadCases({
        {"empty, 0s, end", kLabelOpen, false, ""},
        {"empty, 0q", kLabelClose, false, ""},
        {"empty, 0q, then a label", kLabelClose + kLabelOpen + kLabelClose, false, kLabelLine},
        {"empty, 0k, end", kKey0, false, ""},
        {"label, 0s", "0s01Aa000 0s02Ab000 0q02Ac000", false, "10P02AbBc\r\n"},
        {"label, 0q", kLabelOpen + kLabelClose, false, kLabelLine},
        {"label, 0q, 0q", kLabelOpen + kLabelClose + kLabelClose, false, kLabelLine},
        {"label, 0k clears the label", kLabelOpen + kKey0 + kLabelClose, false, ""},
        {"label, 0k is dropped, the next 0k starts a key group",
         kLabelOpen + "0k00AqqqqB " + kKey0 + kKey1 + kKey2 + kKey3, false, kKeyLine},
        {"key of one part, 0s", kKey0 + kLabelOpen + kLabelClose, false, kLabelLine},
        {"key of two parts, 0s", kKey0 + kKey1 + kLabelOpen + kLabelClose, false, kLabelLine},
        {"key of three parts, 0s", kKey0 + kKey1 + kKey2 + kLabelOpen + kLabelClose, false,
         kLabelLine},
        {"key of one part, 0q", kKey0 + kLabelClose + kOtherKey, false, kOtherKeyLine},
        {"key of two parts, 0q", kKey0 + kKey1 + kLabelClose + kOtherKey, false, kOtherKeyLine},
        {"key of three parts, 0q", kKey0 + kKey1 + kKey2 + kLabelClose + kOtherKey, false,
         kOtherKeyLine},
        {"key of three parts, 0q, one more 0k", kKey0 + kKey1 + kKey2 + kLabelClose + kKey3, false,
         ""},
        {"key of three parts, 0k", kKey0 + kKey1 + kKey2 + kKey3, false, kKeyLine},
        {"three 0k and the end", kKey0 + kKey1 + kKey2, false, ""},
        {"a finished key group leaves the list empty", kKey0 + kKey1 + kKey2 + kKey3 + kLabelClose,
         false, kKeyLine},
        {"parts joined in arrival order", kKey2 + kKey0 + kKey1 + kKey3, false,
         "12Pccccaaaabbbbdddd\r\n"},
        {"groups one after another",
         kLabelOpen + kLabelClose + kKey0 + kKey1 + kKey2 + kKey3 + "0s03Ax000 0q03Ay000", false,
         kLabelLine + kKeyLine + "10P03AxBy\r\n"},
        {"other replies between the halves", kLabelOpen + "0u0005AB0365CDE " + kLabelClose, false,
         "1P0005A##a\r\n" + kLabelLine},
        {"other replies between the quarters",
         kKey0 + "0v " + kKey1 + "0eX " + kKey2 + "0x " + kKey3, false, "0eX\r\n" + kKeyLine},
        {"label text copied without decoding, number of the 0q unused",
         "0s07A0365\xB0\xA1"
         "123 0q99A##B456",
         false,
         "10P07A0365\xB0\xA1"
         "B##B\r\n"},
    });
}

TEST(ConvertUploadText, LabelAndKeyRepliesOfTheScale) {
    std::string table;
    for (int i = 0; i < 568; ++i) table.push_back("0123456789ABCDEFxyz"[i % 19]);
    const std::string padded = table + "00000000";
    std::string replies;
    for (int i = 0; i < 4; ++i) {
        replies += "0k0" + std::to_string(i) + "A" + padded.substr(144 * i, 144) + "B\r\n";
    }
    ExpectUploadCases({
        {"key table", replies, false, "12P" + table + "\r\n"},
        {"label", "0s03Ax123\r\n0q03Ayz456\r\n", false, "10P03AxByz\r\n"},
        {"label with empty texts", "0s03A000\r\n0q03A000\r\n", false, "10P03AB\r\n"},
    });
}

TEST(ConvertUploadText, TwelveCodesAreDropped) {
    for (const char* code :
         {"0p", "0i", "0h", "0o", "0z", "0x", "0t", "0r", "0l", "0f", "0g", "0v"}) {
        const std::string token = code;
        ExpectUploadCases({
            {"alone", token, false, ""},
            {"with data", token + "0012AxB0365CDE", true, ""},
            {"inside a label group", kLabelOpen + token + "U0012 " + kLabelClose, false,
             kLabelLine},
            {"inside a key group", kKey0 + kKey1 + token + " " + kKey2 + kKey3, false, kKeyLine},
        });
    }
}

TEST(ConvertUploadText, OtherTokensPassThroughUnchanged) {
    for (const char* token : {"0a",
                              "0b",
                              "0c",
                              "0d",
                              "0e",
                              "0j",
                              "0m",
                              "0eMALFORMED",
                              "0eNOTCOMMAND",
                              "0U0012AxB0365CDE",
                              "0S01Aa000",
                              "0Q01Ab000",
                              "0K00AaB",
                              "0N",
                              "0W05A0365B",
                              "0Y05A0365B",
                              "0P",
                              "1P0012Ax##ab",
                              "10P03AxByz",
                              "12Pabc",
                              "0",
                              "u",
                              "s",
                              "k",
                              "q",
                              "P",
                              "00",
                              "u0",
                              "00u",
                              "\xB0\xA1",
                              "x\xA0y\x85z"}) {
        ExpectUploadCases({{"pass-through", token, false, std::string(token) + "\r\n"}});
    }
}

TEST(ConvertUploadText, RewritingARewrittenFileChangesNothing) {
    const std::string upload = "1P0012Ax##ab\r\n3P05Ahi\r\n7Pdata\r\n10P03AxByz\r\n" + kKeyLine;
    ExpectUploadCases({
        {"upload lines", upload, false, upload},
        {"upload lines, en", upload, true, upload},
    });
}

TEST(ConvertUploadText, UploadLinesStayWholeToTheirLineEnd) {
    ExpectUploadCases({
        {"a reply line after it still splits", "1Pa b\r\n0nxy zE\r\n", false,
         "1Pa b\r\n7Px\r\nzE\r\n"},
        {"not at the line's start", "x 1Pa b", false, "x\r\n1Pa\r\nb\r\n"},
        {"leading and trailing white space dropped", "  3P05Ahi there \r\n", false,
         "3P05Ahi there\r\n"},
        {"every kind", "1Pa b\n3Pc d\n5Pe f\n7Pg h\n10Pi j\n12Pk l", true,
         "1Pa b\r\n3Pc d\r\n5Pe f\r\n7Pg h\r\n10Pi j\r\n12Pk l\r\n"},
        {"tabs, runs of blanks, vertical tab and form feed inside", "\t1P0012A##x \t\v\fy  z\t\f\n",
         false, "1P0012A##x \t\v\fy  z\r\n"},
        {"CR alone ends the line", "7Pa b\r0ncc dE", false, "7Pa b\r\n7Pc\r\ndE\r\n"},
        {"prefix alone", "1P \r\n", false, "1P\r\n"},
        {"NUL byte inside", std::string("1Pa\0 b\n", 7), false, std::string("1Pa\0 b\r\n", 8)},
        {"other beginnings split", "2Pa b\n1pa b\n11Pa b\n0Pa b\nP1a b", false,
         "2Pa\r\nb\r\n1pa\r\nb\r\n11Pa\r\nb\r\n0Pa\r\nb\r\n"
         "P1a\r\nb\r\n"},
        {"an upload line inside a label group leaves it open",
         kLabelOpen + "\n1Pa b\n" + kLabelClose, false, "1Pa b\r\n" + kLabelLine},
        {"longer than any token store", "1P" + Repeat("a b", 2000), false,
         "1P" + Repeat("a b", 2000) + "\r\n"},
    });
}

TEST(ConvertUploadText, LineEndsAndWhiteSpaceOfEveryKind) {
    const std::string out = "0eA\r\n0eB\r\n";
    ExpectUploadCases({
        {"LF", "0eA\n0eB\n", false, out},
        {"CR LF", "0eA\r\n0eB\r\n", false, out},
        {"CR", "0eA\r0eB\r", false, out},
        {"blank", "0eA 0eB", false, out},
        {"tab", "0eA\t0eB", false, out},
        {"vertical tab", "0eA\v0eB", false, out},
        {"form feed", "0eA\f0eB", false, out},
        {"runs and leading white space", "\r\n\r\n  \t0eA \v\f \n\n0eB\r", false, out},
        {"no line end after the last token", "0eA\r\n0eB", false, out},
        {"last reply without a line end", "0s01Aa000\n0q01Ab000", false, kLabelLine},
        {"empty", "", false, ""},
        {"white space only", " \t\r\n\v\f\r\n", false, ""},
        {"dropped codes only", "0v\r\n0x\r\n0vABC 0fU0012\r\n", false, ""},
    });
}

TEST(ConvertUploadText, ItemReplies) {
    ExpectUploadCases({
        {"read back", "0u0012AxB03650366CDE", false, "1P0012Ax##ab\r\n"},
        {"read back, en", "0u0012AxB097098CDE", true, "1P0012Ax##ab\r\n"},
        {"all spans empty", "0u0005ABCDE", false, "1P0005A\r\n"},
        {"all spans empty, en", "0u0005ABCDE", true, "1P0005A\r\n"},
        {"span 2 empty", "0u0005AB0365CD0366E", false, "1P0005A##a####b\r\n"},
        {"spans 2 and 3 empty", "0u0005AB0365CDE", false, "1P0005A##a\r\n"},
        {"span 1 empty", "0u0005ABC0365DE", false, "1P0005A####a\r\n"},
        {"span 3 alone", "0u0005ABCD0365E", false, "1P0005A######a\r\n"},
        {"all three", "0u4000AfieldsB0365C0366D0367E", false, "1P4000Afields##a##b##c\r\n"},
        {"double-byte texts", "0u0001AB1601C5448D0301E", false,
         "1P0001A##\xB0\xA1##\xD6\xD0##!\r\n"},
        {"table texts, en", "0u0001AB179248CDE", true, "1P0001A##\xA9\xA6\xA1\xE3\r\n"},
        {"after E unused", "0u0005AB0365CDExyz0366", false, "1P0005A##a\r\n"},
        {"head never decoded", "0u0365AB0365CDE", false, "1P0365A##a\r\n"},
        {"zone digits read as code-page text", "0u0005AB0365CDE", true, "1P0005A##$\x05\r\n"},
        {"code-page digits read as zone-position text", "0u0005AB097098CDE", false,
         "1P0005A##\xA9\xE6\xA0\x02\r\n"},
        {"trailing ## of the last text", "0u0005AB036503030303CDE", false, "1P0005A##a\r\n"},
        {"trailing ## of the head when all texts are empty", "0u0005A####BCDE", false,
         "1P0005A\r\n"},
        {"odd # of the head stays", "0u0005A#BCDE", false, "1P0005A#\r\n"},
        {"no B", "0u0005ACDE", false, ""},
        {"code alone", "0u", false, ""},
        {"B alone", "0uB", false, "1P\r\n"},
        {"marker letter as a trail byte",
         "0u\x81"
         "BxB0365CDE",
         false,
         "1P\x81"
         "Bx##a\r\n"},
        {"text with a NUL byte, en", "0u0005AB065000066CDE", true,
         std::string("1P0005A##A\0B\r\n", 14)},
    });
}

TEST(ConvertUploadText, ItemRepliesWithMarkersMissingOrOutOfOrder) {
    ExpectUploadCases({
        // A missing marker stands at -1: C missing makes span 2 run from the start of the token.
        {"no C", "0u0005AB0365D0366E", false,
         "1P0005A####\xA0\xA0\xA0\xA5"
         "a##b\r\n"},
        {"no D", "0u0005AB0365C0366E", false,
         "1P0005A##a####\xA0\xA0\xA0\xA5"
         "a\xA0\xA0\xA0\xA6\r\n"},
        {"no E", "0u0005AB0365C0366D0367", false, "1P0005A##a##b\r\n"},
        {"no C, D, E", "0u0005AB0365", false, "1P0005A\r\n"},
        {"E before D", "0u0005AB0365C0366ED", false, "1P0005A##a##b\xA0\xA0\r\n"},
        {"C before B", "0u0005ACB0365DE", false, "1P0005AC####\xA0\xA0\xA0\xA5\r\n"},
    });
}

TEST(ConvertUploadText, MessageReplies) {
    ExpectUploadCases({
        {"type 3", "0w05A03720373B", false, "3P05Ahi\r\n"},
        {"type 3, en", "0w05A104105B", true, "3P05Ahi\r\n"},
        {"type 3, 10 is zone-position", "0w10A03720373B", false, "3P10Ahi\r\n"},
        {"type 3, 10 given code-page digits", "0w10A104105B", false, "3P10A\xAA\xC9\xA0\xA5\r\n"},
        {"type 3, 11 is code-page", "0w11A104105B", false, "3P11Ahi\r\n"},
        {"type 3, 11 given zone digits", "0w11A03720373B", false,
         "3P11A%\xA8"
         "jI\r\n"},
        {"type 3, 22", "0w22A104105B", false, "3P22Ahi\r\n"},
        {"type 3, en with a small number", "0w05A03720373B", true,
         "3P05A%\xA8"
         "jI\r\n"},
        {"type 5, 16 is zone-position", "0y16A03720373B", false, "5P16Ahi\r\n"},
        {"type 5, 16 given code-page digits", "0y16A104105B", false, "5P16A\xAA\xC9\xA0\xA5\r\n"},
        {"type 5, 17 is code-page", "0y17A104105B", false, "5P17Ahi\r\n"},
        {"type 5, 17 given zone digits", "0y17A03720373B", false,
         "5P17A%\xA8"
         "jI\r\n"},
        {"type 5, en", "0y05A104105B", true, "5P05Ahi\r\n"},
        {"number characters copied", "0w07A0365B", false, "3P07Aa\r\n"},
        {"number characters not numeric", "0wxxA0365B", false, "3PxxAa\r\n"},
        {"number characters not numeric, en", "0wxxA097B", true, "3PxxAa\r\n"},
        {"negative number", "0w-1A0365B", false, "3P-1Aa\r\n"},
        {"one number character", "0w5A0365B", false, "3P5AAa\r\n"},
        {"after B unused", "0w05A0365Bxyz0366", false, "3P05Aa\r\n"},
        {"double-byte text", "0y02A16015448B", false, "5P02A\xB0\xA1\xD6\xD0\r\n"},
        {"empty span", "0w05AB", false, ""},
        {"empty span, en", "0y05AB", true, ""},
        {"000 decodes to byte 0, en", "0w05A000B", true, ""},
        {"first byte 0, en", "0w05A000065B", true, ""},
        {"first byte 0, zone", "0w05A9600B", false, ""},
        {"NUL inside, en", "0w05A065000B", true, std::string("3P05AA\0\r\n", 9)},
        {"NUL inside, zone", "0w05A1696B", false, std::string("3P05A\xB0\0\r\n", 9)},
        {"marker letter as a trail byte",
         "0w05A\x81"
         "B0365B",
         false, "3P05A\xA0\xA0\xA0\xE1\r\n"},
    });
}

TEST(ConvertUploadText, MessageRepliesWithMarkersMissingOrOutOfOrder) {
    ExpectUploadCases({
        {"no A: the span runs from the number", "0w05X0365B", false,
         "3P05A\xA0\xA5"
         "a\r\n"},
        {"no B", "0w05A0365", false, ""},
        {"B before A", "0w05B0365A", false, ""},
        {"B alone", "0wB", false, ""},
        {"code alone", "0w", false, ""},
        {"code and one character", "0y5", false, ""},
        {"number characters A0", "0wA0365B", false, "3PA0Aa\r\n"},
    });
}

TEST(ConvertUploadText, Type7Replies) {
    ExpectUploadCases({
        {"data", "0nhelloE", false, "7Phello\r\n"},
        {"data, en", "0n0365E", true, "7P0365\r\n"},
        {"one character after the code", "0nE", false, "7P\r\n"},
        {"closing character dropped whatever it is", "0nab", false, "7Pa\r\n"},
        {"code alone", "0n", false, "7P\r\n"},
        {"high bytes copied",
         "0n\xB0\xA1##AB\xA9\xA6"
         "E",
         false, "7P\xB0\xA1##AB\xA9\xA6\r\n"},
        {"NUL inside", std::string("0nab\0cdE", 8), false, std::string("7Pab\0cd\r\n", 9)},
    });
}

TEST(ConvertUploadText, ShortTokensClampTheirCuts) {
    ExpectUploadCases({
        {"0s alone", "0s " + kLabelClose, false, "10PBb\r\n"},
        {"0s of 3", "0s1 " + kLabelClose, false, "10PBb\r\n"},
        {"0s of 5", "0s01A " + kLabelClose, false, "10PBb\r\n"},
        {"0s of 6", "0s01Ax " + kLabelClose, false, "10P0Bb\r\n"},
        {"0q alone", kLabelOpen + "0q", false, "10P01AaB\r\n"},
        {"0q of 3", kLabelOpen + "0q1", false, "10P01AaB\r\n"},
        {"0q of 6", kLabelOpen + "0q01Ab", false, "10P01AaB\r\n"},
        {"0q of 8", kLabelOpen + "0q01Ab00", false, "10P01AaB\r\n"},
        {"0q of 9", kLabelOpen + "0q01Ab000", false, kLabelLine},
        {"0k alone, four times: the line is cut away whole", "0k 0k 0k 0k", false, ""},
        {"short 0k of every length", "0k 0k1 0k01A 0k01AB", false, ""},
        {"four parts of 2: 12P is left", "0k00AxxB 0k01AxxB 0k02AxxB 0k03AxxB", false, "12P\r\n"},
        {"four parts of 3", "0k00AxxxB 0k01AxxxB 0k02AxxxB 0k03AxxxB", false, "12Pxxxx\r\n"},
        {"four parts of 1", "0k00AxB 0k01AxB 0k02AxB 0k03AxB", false, ""},
    });
}

TEST(ConvertUploadText, TokensOfAnyLengthAreReadWhole) {
    const std::string longToken = Repeat("x", 5000);
    const std::string longData = Repeat("d", 4997);
    ExpectUploadCases({
        {"pass-through", longToken + "\r\n0eX", false, longToken + "\r\n0eX\r\n"},
        {"type 7", "0n" + longData + "E", false, "7P" + longData + "\r\n"},
        {"item", "0u0001AB" + Repeat("0365", 1250) + "CDE", false,
         "1P0001A##" + Repeat("a", 1250) + "\r\n"},
        {"message", "0w05A" + Repeat("0365", 1250) + "B", false,
         "3P05A" + Repeat("a", 1250) + "\r\n"},
        {"label", "0s01A" + longToken + "000 0q01A" + longToken + "000", false,
         "10P01A" + longToken + "B" + longToken + "\r\n"},
    });
}

TEST(ConvertUploadText, NulBytesStayInsideTheirToken) {
    ExpectUploadCases({
        {"pass-through", std::string("x\0y 0eZ", 7), false, std::string("x\0y\r\n0eZ\r\n", 10)},
        {"NUL alone", std::string("\0", 1), false, std::string("\0\r\n", 3)},
        {"label", std::string("0s01Aa\0b000 0q01Ac\0d000", 23), false,
         std::string("10P01Aa\0bBc\0d\r\n", 15)},
    });
}

struct TokenCase {
    const char* name;
    std::vector<std::string> groupsBefore;
    std::string token;
    std::vector<std::string> groupsAfter;
    std::string appended;
};

TEST(ConvertReplyToken, GroupListAndOutput) {
    const TokenCase cases[] = {
        {"0s opens a label group", {}, "0s01Aa000", {"LABEL", "01AaB"}, ""},
        {"0s replaces a key group", {"KEY", "p"}, "0s01Aa000", {"LABEL", "01AaB"}, ""},
        {"0q closes it", {"LABEL", "01AaB"}, "0q01Ab000", {}, "10P01AaBb\r\n"},
        {"0k opens a key group", {}, "0k00AaaaaB", {"KEY", "aaaa"}, ""},
        {"0k adds a part", {"KEY", "aaaa"}, "0k01AbbbbB", {"KEY", "aaaa", "bbbb"}, ""},
        {"0k ends it", {"KEY", "a", "b", "c"}, "0k03Ad12345678B", {}, "12Pabcd\r\n"},
        {"0k clears a label group", {"LABEL", "01AaB"}, "0k00AaaaaB", {}, ""},
        {"0q clears a key group", {"KEY", "a", "b"}, "0q01Ab000", {}, ""},
        {"a dropped code leaves the group", {"KEY", "a"}, "0v", {"KEY", "a"}, ""},
        {"a decoded reply leaves the group",
         {"LABEL", "01AaB"},
         "0nxE",
         {"LABEL", "01AaB"},
         "7Px\r\n"},
        {"a passed token leaves the group", {"KEY", "a"}, "0eX", {"KEY", "a"}, "0eX\r\n"},
    };
    for (const auto& c : cases) {
        for (bool en : {false, true}) {
            std::string output = "before\r\n";
            std::vector<std::string> groups = c.groupsBefore;
            ConvertReplyToken(c.token, output, groups, en);
            EXPECT_EQ(output, "before\r\n" + c.appended) << c.name;
            EXPECT_EQ(groups, c.groupsAfter) << c.name;
        }
    }
}

TEST(ConvertReplyToken, EmptyTokenAddsNothing) {
    std::string output = "before\r\n";
    std::vector<std::string> groups{"KEY", "a"};
    ConvertReplyToken("", output, groups, false);
    EXPECT_EQ(output, "before\r\n");
    EXPECT_EQ(groups, (std::vector<std::string>{"KEY", "a"}));
}

// The decoders called on their own, with tokens the dispatcher would never hand them: the cuts
// stay inside the token.
TEST(ReplyDecoders, TokensTooShortForTheirCuts) {
    const struct {
        std::string token;
        std::string item;
        std::string message;
        std::string type7;
    } cases[] = {
        {"", "", "", "7P"},
        {"0", "", "", "7P"},
        {"0u", "", "", "7P"},
        {"B", "1P", "", "7P"},
        {"AB", "1P", "", "7P"},
        {"xyzAB", "1PzA", "", "7PzA"},
        {"0wA0365B", "1PA0365", "3PA0Aa", "7PA0365"},
    };
    for (const auto& c : cases) {
        std::string item = c.token;
        DecodeItemReply(item, false);
        EXPECT_EQ(item, c.item) << c.token;
        std::string message = c.token;
        DecodeMessageReply(message, false);
        EXPECT_EQ(message, c.message) << c.token;
        std::string type7 = c.token;
        DecodeType7Reply(type7);
        EXPECT_EQ(type7, c.type7) << c.token;
    }
}

struct ReplyLinesCase {
    const char* name;
    std::vector<std::string> replies;  // one per command line, without line ends
    bool en;
    std::vector<std::string> lines;
};

// The replies of one read, as the model, the fleet and the tool take them: a decoded CR or LF
// stays inside its record's line, acknowledgements give no line.
TEST(UploadLinesOfReplies, OneLineARecordWhateverItsTextHolds) {
    const ReplyLinesCase cases[] = {
        {"no replies", {}, false, {}},
        {"acknowledgements only", {"0v", "0x"}, false, {}},
        {"one item", {"0u0012AxB03650366CDE"}, false, {"1P0012Ax##ab"}},
        {"two records, one reply each", {"0nabE", "0u0005ABCDE"}, false, {"7Pab", "1P0005A"}},
        {"a text decoded to an LF", {"0u0012AB097010098CDE"}, true, {"1P0012A##a\nb"}},
        {"a text decoded to a CR", {"0u0012AB097013CDE"}, true, {"1P0012A##a\r"}},
        {"a label in two replies", {"0s01Aa000", "0q01Ab000"}, false, {"10P01AaBb"}},
        {"an error reply passes through", {"0eMALFORMED"}, false, {"0eMALFORMED"}},
        {"blanks split a reply", {"0nab cdE"}, false, {"7Pa", "cdE"}},
    };
    for (const ReplyLinesCase& c : cases) {
        EXPECT_EQ(UploadLinesOfReplies(c.replies, c.en), c.lines) << c.name;
    }
}

// Whatever the replies, the lines joined by CR LF are the conversion's text: no line holds a
// CR LF, and the conversion ends every line with one.
TEST(UploadLinesOfReplies, JoinedTheyAreTheConversion) {
    std::mt19937 random(7);
    const std::string alphabet = "0uqsknwxvAB CDE\r\n\t#1234569\xB0\xA1";
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::string> replies(random() % 4);
        std::string file;
        for (std::string& reply : replies) {
            reply = random() % 2 == 0 ? "0u0012A" : "0";
            for (std::size_t n = random() % 24; n > 0; --n)
                reply += alphabet[random() % alphabet.size()];
            file += reply + "\r\n";
        }
        bool en = random() % 2 == 0;
        std::string joined;
        for (const std::string& line : UploadLinesOfReplies(replies, en)) {
            EXPECT_EQ(line.find("\r\n"), std::string::npos);
            joined += line + "\r\n";
        }
        EXPECT_EQ(joined, ConvertUploadText(file, en)) << "round " << round;
    }
}

}  // namespace
}  // namespace vudaduv
