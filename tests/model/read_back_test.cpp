// The comparison of read-backs with the lines as written: who made each difference, one table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vudaduv_model.h"

namespace vudaduv::model {
namespace {

struct ReadBackCase {
    uint32_t recordType;
    std::vector<std::string> sent;
    std::vector<std::string> uploadLines;  // what the scale's read-back gave
    std::vector<std::string> differences;  // "key field: sent -> back (foreseen|scale)"
    std::size_t otherLines;
};

const ReadBackCase kReadBackCases[] = {
    {1, {"12A1##x"}, {"1P0012A1##x"}, {}, 0},
    {1, {"12A1##x"}, {"1P0012A2##x"}, {"0012 fields: 1 -> 2 (scale)"}, 0},
    {1, {"12A1##x"}, {}, {"0012 record: 12A1##x ->  (scale)"}, 0},
    {1, {"5A##a##b##c##d"}, {"1P0005A##a##b##c"}, {"0005 text 4: d ->  (foreseen)"}, 0},
    {1, {"12A1"}, {"1P", "1P0012A1"}, {}, 1},
    // The library ends a line at a NUL byte, as the check said.
    {1,
     {std::string("12A1\0x", 6)},
     {"1P0012A1"},
     {std::string("0012 fields: 1\0x", 16) + " -> 1 (foreseen)"},
     0},
    // A message sent empty that comes back with a text: named, no exception.
    {3, {"5A"}, {"3P05Ahi"}, {"05 message text:  -> hi (scale)"}, 0},
    {3, {"5A"}, {}, {}, 0},
    {3, {"5A"}, {"3P"}, {}, 1},
    {7, {"abc"}, {"7Pabc", "junk"}, {}, 1},
    {10, {"3AxBy"}, {"10P03AxBz"}, {"03 label text 2: y -> z (scale)"}, 0},
    // A tab splits the label's reply so that its line comes back under another number.
    {10, {"0Ax\tyBz"}, {"y250", "10P0Bz"}, {"00 record: 0Ax\tyBz ->  (foreseen)"}, 2},
    {2, {"12"}, {"1P", "2P"}, {}, 0},  // a read request stores nothing to compare
};

void PrintTo(const ReadBackCase& c, std::ostream* os) {
    *os << "type " << c.recordType << " " << c.sent.size() << " line(s)";
}

class ReadBackTable : public ::testing::TestWithParam<ReadBackCase> {};

TEST_P(ReadBackTable, NamesWhoMadeEachDifference) {
    const ReadBackCase& c = GetParam();
    ReadBackReport report =
        CompareReadBack(c.recordType, PlanReadBack(c.recordType, c.sent, false), c.uploadLines);
    std::vector<std::string> differences;
    for (const Difference& d : report.differences) {
        differences.push_back(d.key + " " + d.field + ": " + d.sent + " -> " + d.back + " (" +
                              (d.foreseen ? "foreseen" : "scale") + ")");
    }
    EXPECT_EQ(differences, c.differences);
    EXPECT_EQ(report.otherLines.size(), c.otherLines);
}

INSTANTIATE_TEST_SUITE_P(Lines, ReadBackTable, ::testing::ValuesIn(kReadBackCases));

}  // namespace
}  // namespace vudaduv::model
