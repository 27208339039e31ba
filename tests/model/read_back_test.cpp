// Reading records back: the read requests of records (the one builder, for the fleet and a
// send's --verify), the plan of a send's read-back, and the comparison of read-backs with the
// lines as written: who made each difference. One table each.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {
namespace {

// GBK bytes: 13 characters of GB2312 row 16, one more than an item text keeps.
const std::string kThirteen =
    "\xb0\xa1\xb0\xa2\xb0\xa3\xb0\xa4\xb0\xa5\xb0\xa6\xb0\xa7\xb0\xa8\xb0\xa9\xb0\xaa\xb0\xab"
    "\xb0\xac\xb0\xad";

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
    // The number by value: a scale that writes it short still answers for the record.
    {1, {"12A1##x"}, {"1P12A1##x"}, {}, 0},
    {1, {"12A1##x"}, {"1P0012A1##x", "1P12A1##x"}, {}, 1},
    // A text that came back whole where the check foresaw it cut: as written, not as foreseen.
    {1,
     {"5A##" + kThirteen},
     {"1P0005A##" + kThirteen},
     {"0005 text 1: " + kThirteen + " -> " + kThirteen + " (scale)"},
     0},
    {1,
     {"5A##" + kThirteen},
     {"1P0005A##" + kThirteen.substr(0, 24)},
     {"0005 text 1: " + kThirteen + " -> " + kThirteen.substr(0, 24) + " (foreseen)"},
     0},
    // An item sent empty holds nothing: that nothing comes back is as foreseen.
    {1, {"12A"}, {}, {"0012 record: 12A ->  (foreseen)"}, 0},
    {1, {"12A"}, {"1P0012A####"}, {}, 0},
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
    // The verdict and the rows agree: a record did not come back as foreseen exactly when a
    // difference of it was not foreseen.
    std::set<std::string> unforeseen;
    for (const Difference& d : report.differences) {
        if (!d.foreseen) unforeseen.insert(d.key);
    }
    EXPECT_EQ(report.notAsForeseen, unforeseen.size());
}

struct VerdictCase {
    std::string foreseen;  // "" for nothing
    bool backIsNothing;
    std::string back;
    bool asForeseen;
};

const VerdictCase kVerdictCases[] = {
    {"1P0012A1##x", false, "1P0012A1##x", true},
    {"1P0012A1##x", false, "1P12A1##x##", true},  // the same record by the same-record rule
    {"1P0012A1##x", false, "1P0012A1##y", false},
    {"1P0012A1##x", false, "1P0013A1##x", false},
    {"1P0012A1##x", true, "", false},  // lost
    {"", true, "", true},              // a removal that took
    {"", false, "1P0012A", true},      // an empty record is none
    {"", false, "1P0012A1", false},    // a removal that did not take
    {"1P0012A", true, "", true},       // an item sent empty holds nothing
    {"3P05A", false, "3P05A", true},
    {"7Pab", false, "7Pab", true},
    {"7Pab", false, "7Pab ", false},
};

TEST(CameBackAsForeseenTable, TheOneVerdictOfAReadBack) {
    for (const VerdictCase& c : kVerdictCases) {
        EXPECT_EQ(CameBackAsForeseen(c.foreseen, c.backIsNothing ? nullptr : &c.back), c.asForeseen)
            << Quoted(c.foreseen) << " / " << (c.backIsNothing ? "nothing" : Quoted(c.back));
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, ReadBackTable, ::testing::ValuesIn(kReadBackCases));

// The four reads of the key table's blocks.
const std::vector<std::string> kKeyTableReads = {"!0K00A\r\n", "!0K01A\r\n", "!0K02A\r\n",
                                                 "!0K03A\r\n"};

struct RequestsCase {
    std::vector<RecordKey> keys;
    bool en;
    std::vector<std::string> commands;  // every command line, in order
    std::vector<std::size_t> commandsOfKey;
    std::size_t keysRead;  // the keys that have a read request
};

const RequestsCase kRequestsCases[] = {
    {{}, false, {}, {}, 0},
    {{{1, 12}}, false, {"!0U0012A\r\n"}, {1}, 1},
    {{{1, 0}, {1, 4000}}, false, {"!0U0000A\r\n", "!0U4000A\r\n"}, {1, 1}, 2},
    {{{3, 5}, {5, 32}}, true, {"!0W05A\r\n", "!0Y32A\r\n"}, {1, 1}, 2},
    // A label is read in two halves; type 7 data and the key table take no number.
    {{{10, 3}}, false, {"!0S03A\r\n", "!0Q03A\r\n"}, {2}, 1},
    {{{7, -1}}, false, {"!0N\r\n"}, {1}, 1},
    {{{12, -1}}, false, kKeyTableReads, {4}, 1},
    // The order of the keys is the order of the reads; a key twice is read twice.
    {{{1, 13}, {1, 12}, {1, 13}},
     false,
     {"!0U0013A\r\n", "!0U0012A\r\n", "!0U0013A\r\n"},
     {1, 1, 1},
     3},
    // A number below 0 names no record, and a read request stores nothing: neither is read.
    {{{3, -3}, {2, 12}, {1, 12}}, false, {"!0U0012A\r\n"}, {1}, 1},
    // A number above the type's highest is read as the codec sends it: the highest.
    {{{1, 5000}}, false, {"!0U4000A\r\n"}, {1}, 1},
};

TEST(ReadRequestsTable, EveryKeyReadAsTheCodecBuildsItsReadType) {
    for (const RequestsCase& c : kRequestsCases) {
        ReadRequests requests = BuildReadRequests(c.keys, c.en);
        std::string keys;
        for (const RecordKey& key : c.keys) keys += KeyName(key) + "; ";
        ASSERT_NE(requests.commands, nullptr) << keys;
        EXPECT_EQ(*requests.commands, c.commands) << keys;
        EXPECT_EQ(requests.commandsOfKey, c.commandsOfKey) << keys;
        EXPECT_EQ(requests.keys.size(), c.keysRead) << keys;
    }
}

struct PlannedReadsCase {
    uint32_t recordType;
    bool en;
    std::vector<std::string> sent;
    std::vector<std::string> readLines;  // the read's data lines, for the exports
    std::vector<std::string> commands;   // the command lines that read the records back
};

// The numbers a send's --verify reads with: the records' numbers as the codec sent them.
const PlannedReadsCase kPlannedReadsCases[] = {
    {1, false, {"12A1##x", "5A##y"}, {"0012", "0005"}, {"!0U0012A\r\n", "!0U0005A\r\n"}},
    // A record stored twice is read once, in the place of its first line.
    {1, false, {"12A1", "13A1", "12A2"}, {"0012", "0013"}, {"!0U0012A\r\n", "!0U0013A\r\n"}},
    {1, false, {"5000A1##x"}, {"4000"}, {"!0U4000A\r\n"}},  // as clamped
    {1, false, {"-3A1##x"}, {"0000"}, {"!0U0000A\r\n"}},    // "00-3" reads as 0
    {3, false, {"-3Ahi", "4Ayo"}, {"04"}, {"!0W04A\r\n"}},  // "-3" names no record
    {3, true, {"1Ahi"}, {"01"}, {"!0W01A\r\n"}},
    {5, false, {"20AHi"}, {"20"}, {"!0Y20A\r\n"}},
    {10, false, {"3AxBy", "no label"}, {"03"}, {"!0S03A\r\n", "!0Q03A\r\n"}},
    {7, false, {"abc", "def"}, {}, {"!0N\r\n"}},
    {12, false, {std::string(kKeyTableBytes, '1')}, {}, kKeyTableReads},
    {2, false, {"12"}, {}, {}},  // a read request stores nothing to read back
};

TEST(PlannedReadsTable, EveryRecordReadByItsNumberAsSent) {
    for (const PlannedReadsCase& c : kPlannedReadsCases) {
        ReadBackPlan plan = PlanReadBack(c.recordType, c.sent, c.en);
        EXPECT_EQ(plan.readLines, c.readLines) << "type " << c.recordType << " " << c.sent[0];
        EXPECT_EQ(*plan.reads.commands, c.commands) << "type " << c.recordType << " " << c.sent[0];
    }
}

}  // namespace
}  // namespace vudaduv::model
