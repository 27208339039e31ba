// Records as a scale keeps them: the fields of a line, the key of an upload line and of a number
// as sent, a record that holds nothing, the "same record" rule and the line that empties a
// record. One table each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vudaduv_model.h"

namespace vudaduv::model {
namespace {

struct SplitCase {
    uint32_t recordType;
    std::string line;
    std::vector<std::string> fields;  // "name=value", in order
};

const SplitCase kSplitCases[] = {
    {1, "12A1##Tea##Milk", {"item number=12", "fields=1", "text 1=Tea", "text 2=Milk"}},
    {1,
     "12A1##a##b##c##d",
     {"item number=12", "fields=1", "text 1=a", "text 2=b", "text 3=c", "text 4=d"}},
    {1, "12A1", {"item number=12", "fields=1"}},
    {1, "12A1##", {"item number=12", "fields=1", "text 1="}},
    {1, "12", {"item number=12", "fields="}},                 // no "A": no texts either
    {1, "12A\xb0##x", {"item number=12", "fields=\xb0##x"}},  // "#" as a trail byte
    {3, "5Ahi A", {"message number=5", "message text=hi A"}},
    {5, "5", {"message number=5", "message text="}},
    {7, "a##bAB", {"type 7 data=a##bAB"}},
    {10, "3AxByBz", {"label number=3", "label text 1=x", "label text 2=yBz"}},
    {10, "3Ax", {"label number=3", "label text 1=", "label text 2="}},
    // A "B" before the first "A" leaves text 1 empty and text 2 runs from it, as the codec sends.
    {10, "3BxAy", {"label number=3Bx", "label text 1=", "label text 2=xAy"}},
    {10, "3Bx", {"label number=3Bx", "label text 1=", "label text 2=x"}},
    {12, "AB##", {"key table=AB##"}},
    {2, "12", {}},  // a read request has no fields
};

TEST(FieldLayoutTable, SplitFields) {
    for (const SplitCase& c : kSplitCases) {
        std::vector<std::string> fields;
        for (const Field& field : SplitFields(c.recordType, c.line)) {
            fields.push_back(field.name + "=" + field.value);
        }
        EXPECT_EQ(fields, c.fields) << "type " << c.recordType << " " << Quoted(c.line);
    }
}

struct KeyCase {
    std::string line;
    bool isRecord;
    RecordKey key;
};

const KeyCase kKeyCases[] = {
    {"1P0042A1##Tea", true, {1, 42}},
    {"1P42A1", true, {1, 42}},      // a number by value, not by its width
    {"1P4000A", true, {1, 4000}},   // the highest item
    {"1P4001A", false, {}},         // above it
    {"1P00042A", false, {}},        // more digits than the scale writes
    {"1PA1", false, {}},            // no number
    {"1P12xA", false, {}},          // no number up to the "A"
    {"3P22Ahi", true, {3, 22}},     // "3P" is no prefix of another type's
    {"5P32A", true, {5, 32}},       //
    {"10P15AxBy", true, {10, 15}},  // not taken for "1P"
    {"12Pabc", true, {12, -1}},     // the key table has no number
    {"7P", true, {7, -1}},          // nor type 7 data
    {"2P0012", false, {}},          // a read request stores nothing
    {"0eMALFORMED", false, {}},     // an error reply
    {"", false, {}},
};

TEST(RecordKeyTable, KeyOfUploadLine) {
    for (const KeyCase& c : kKeyCases) {
        RecordKey key;
        EXPECT_EQ(KeyOfUploadLine(c.line, key), c.isRecord) << c.line;
        if (c.isRecord) {
            EXPECT_TRUE(key == c.key) << c.line << ": " << KeyName(key);
        }
    }
}

// The key of a number as the codec sent it, and whether that number names the key.
TEST(RecordKeyTable, KeyOfNumberSent) {
    struct NumberCase {
        uint32_t recordType;
        std::string numberSent;
        RecordKey key;
        bool names;
    };
    const NumberCase cases[] = {
        {1, "0012", {1, 12}, true}, {1, "4000", {1, 4000}, true}, {3, "05", {3, 5}, true},
        {10, "03", {10, 3}, true},  {7, "", {7, -1}, true},       {12, "", {12, -1}, true},
        {1, "00-3", {1, 0}, false},  // the scale refuses it and keeps item 0 as it was
        {3, "-3", {3, -3}, false},  {1, "", {1, 0}, false},
    };
    for (const NumberCase& c : cases) {
        RecordKey key = KeyOfNumberSent(c.recordType, c.numberSent);
        EXPECT_TRUE(key == c.key) << c.recordType << " " << c.numberSent << ": " << key.number;
        EXPECT_EQ(IsKeyOf(key, c.numberSent), c.names) << c.recordType << " " << c.numberSent;
    }
}

TEST(AllDigitsTable, DigitsAloneAndAtLeastOne) {
    const std::pair<std::string, bool> cases[] = {
        {"0", true},     {"0012", true}, {"4000", true}, {"", false},   {"-3", false},
        {"00-3", false}, {"12 ", false}, {" 12", false}, {"1a", false}, {"\xb1\xb2", false},
    };
    for (const auto& c : cases) EXPECT_EQ(AllDigits(c.first), c.second) << Quoted(c.first);
}

struct SameCase {
    std::string a;
    std::string b;
    bool same;
};

const SameCase kSameCases[] = {
    {"1P0042A1##Tea", "1P0042A1##Tea", true},
    {"1P0042A1##Tea", "1P42A1##Tea", true},      // numbers by value
    {"1P0042A1##Tea", "1P0042A1##Tea##", true},  // an item text missing at the end is empty
    {"1P0042A1##Tea", "1P0042A1##Tea####", true},
    {"1P0042A1##Tea", "1P0042A1##Tee", false},
    {"1P0042A1##Tea", "1P0043A1##Tea", false},  // another record
    {"1P0042A1", "1P0042A1 ", false},           // every other byte counts
    {"3P05Ahi", "3P5Ahi", true},
    {"10P03AxBy", "10P03AxBz", false},
    {"10P03AxB", "10P3AxB", true},
    {"7Pabc", "7Pabc", true},
    {"7Pabc", "7Pab", false},
    {"junk", "junk", true},  // lines of no record: byte for byte
    {"junk", "junk ", false},
};

TEST(SameRecordTable, NumbersByValueTextsMissingAtTheEndAsEmpty) {
    for (const SameCase& c : kSameCases) {
        EXPECT_EQ(SameRecord(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(SameRecord(c.b, c.a), c.same) << c.b << " / " << c.a;
    }
}

struct NothingCase {
    std::string line;
    bool nothing;
};

const NothingCase kNothingCases[] = {
    {"1P0042A", true},   {"1P0042A####", true}, {"1P0042A0", false}, {"1P0042A##x", false},
    {"3P05A", true},     {"3P05Ax", false},     {"10P03AB", true},   {"10P03AxB", false},
    {"10P03ABy", false}, {"7P", false},         {"12P", false},      {"junk", false},
};

TEST(HoldsNothingTable, OnlySeparatorsAfterTheNumber) {
    for (const NothingCase& c : kNothingCases) {
        EXPECT_EQ(HoldsNothing(c.line), c.nothing) << c.line;
    }
}

// The line that empties a record, and what the record holds once it is sent: nothing.
TEST(RemovalLineTable, EmptiesTheRecordOfItsKey) {
    const std::vector<std::pair<RecordKey, std::string>> cases = {
        {{1, 42}, "0042A"}, {{1, 0}, "0000A"}, {{3, 5}, "05A"}, {{5, 32}, "32A"},
        {{10, 3}, "03AB"},  {{7, -1}, ""},     {{12, -1}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RemovalLine(c.first), c.second) << KeyName(c.first);
        if (c.second.empty()) continue;
        RecordKey key;
        ASSERT_TRUE(KeyOfDataLine(c.first.type, false, c.second, key)) << c.second;
        EXPECT_TRUE(key == c.first) << c.second;
        EXPECT_TRUE(HoldsNothing(UploadPrefix(c.first.type) + c.second)) << c.second;
    }
}

}  // namespace
}  // namespace vudaduv::model
