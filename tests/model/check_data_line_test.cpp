// The check of data lines against the virtual scale: what each line becomes, one table of lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vudaduv_model.h"

namespace vudaduv::model {
namespace {

struct CheckCase {
    uint32_t recordType;
    bool en;
    std::string line;
    std::vector<std::string> report;  // "field: what", in order
};

// GBK bytes: 13 characters of GB2312 row 16, and the two characters "huan ying".
const std::string kThirteen =
    "\xb0\xa1\xb0\xa2\xb0\xa3\xb0\xa4\xb0\xa5\xb0\xa6\xb0\xa7\xb0\xa8\xb0\xa9\xb0\xaa\xb0\xab"
    "\xb0\xac\xb0\xad";
const std::string kWelcome = "\xbb\xb6\xd3\xad";

const CheckCase kCheckCases[] = {
    {1, false, "12A0100##Apple##" + kWelcome + "##x", {}},
    {1, false, "0012A1##x##", {}},
    {1,
     true,
     "14A1##Apple pie##4\xa1\xe3"
     "C",
     {}},
    {1, false, "5000A1", {"item number: 5000 becomes 4000"}},
    {1, false, "xA1", {"item number: \"x\" becomes 0000"}},
    {1, false, "A1", {"item number: missing: becomes 0000"}},
    {1, false, "5A##" + kThirteen, {"text 1: cut to 12 characters"}},
    {1, true, "5A##x##abcdefghijklmnopq", {"text 2: cut to 16 characters"}},
    {1,
     true,
     "5A##" + kWelcome,
     {"text 1: characters \"" + kWelcome + "\" cannot be sent in code-page text"}},
    {1, false, "5A##a##b##c##d", {"text 4: is left out"}},
    {1,
     false,
     "5A1B2##x",
     {"fields: the letter B ends the fields: they come back as \"1\"",
      "text 1: comes back as \"\xa0\xa2\xa0\xf8\""}},
    {1,
     false,
     "5AxC",
     {"text 2: is not in the line but comes back as \"\xa0\xa0\" (the letter C "
      "in the fields opens it)"}},
    {1, false, "5A1 2##x", {"fields: a blank in it: comes back split"}},
    {1,
     false,
     "5A\xe9",
     {"fields: invalid GBK in a field (it ends in half a double-byte "
      "character): the record comes back lost"}},
    {1,
     false,
     "-3A1",
     {"item number: \"-3\" becomes 00-3",
      "line: the scale refuses it: "
      "0eMALFORMED"}},
    {1,
     true,
     "5A##a\rb",
     {"text 1: comes back holding a line break (CR or LF): the upload "
      "line breaks in two"}},
    {1, false, "no separator", {"line: no \"A\": the line is left out"}},
    {1,
     false,
     "5\xe9"
     "A1",
     {"line: no \"A\" (its \"A\" is the second byte of a double-byte "
      "character): the line is left out"}},
    {1, false, std::string("5A\0x", 4), {"line: a NUL byte: the line ends there for the library"}},
    {3, false, "5Ahi", {}},
    // A scale set up for code-page text returns a code that ends in a zero as it was sent.
    {3, true, "5AMilk x2", {}},
    {5, true, "5A1+2", {}},
    {3, false, "5A", {}},
    {3,
     false,
     "11A" + kWelcome,
     {"message text: characters \"" + kWelcome + "\" cannot be sent in code-page text"}},
    {3, false, "40Ahi", {"message number: 40 becomes 22"}},
    {5, false, "3A" + kThirteen + kThirteen + kThirteen, {"message text: cut to 30 characters"}},
    {7, false, "PLU-7", {}},
    {7, false, "ab\tcd", {"type 7 data: a tab in it: comes back split"}},
    {10, false, "3AxByz", {}},
    {10, false, "20AxBy", {"label number: 20 becomes 15"}},
    {10, false, "3Aone twoBx", {"label text 1: a blank in it: comes back split"}},
    {10, false, "3Ax", {"line: no \"B\": the line is left out"}},
    {10,
     false,
     "3ABESTBOpen",
     {"label text 1: the line holds more than one \"B\" and text 1 ends "
      "at the first: text 1 is \"\", text 2 \"ESTBOpen\""}},
    {3,
     false,
     "12A0100000599##Apple",
     {"message text: holds \"##\" as an item's data line does "
      "(an item line wants --type 1): it is stored as a message"}},
    {5,
     false,
     "2Aa##b",
     {"message text: holds \"##\" as an item's data line does (an item line "
      "wants --type 1): it is stored as a message"}},
    {12, false, std::string(568, '7'), {}},
    {12, false, "ab", {"key table: 2 bytes, not 568: the line is left out"}},
    {2, false, "0012", {}},
    {2, false, "5000", {"item number: 5000 becomes 4000"}},
    {11, false, "3kg", {"label number: \"3kg\" becomes 03"}},
    {9, false, "", {}},
    {14, false, "anything at all", {}},
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << "type " << c.recordType << (c.en ? " En " : " ") << Quoted(c.line);
}

class CheckTable : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckTable, ReportsEveryDifference) {
    const CheckCase& c = GetParam();
    std::vector<std::string> report;
    for (const Finding& finding : CheckDataLine(c.recordType, c.en, c.line)) {
        report.push_back(finding.field + ": " + finding.what);
    }
    EXPECT_EQ(report, c.report) << "type " << c.recordType << " line " << Quoted(c.line);
}

INSTANTIATE_TEST_SUITE_P(Lines, CheckTable, ::testing::ValuesIn(kCheckCases));

}  // namespace
}  // namespace vudaduv::model
