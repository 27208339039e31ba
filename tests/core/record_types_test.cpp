// The record-type table against what the encoder and the upload conversion do: every column
// that other floors read must say what the codec really does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vudaduv_codec.h"

namespace vudaduv {
namespace {

// A data line of each type that the encoder accepts, with a number where the type has one.
std::string SampleLine(uint32_t code) {
    switch (code) {
        case 1:
            return "5Ax##ab";
        case 3:
        case 5:
            return "5Ahi";
        case 7:
            return "abc";
        case 10:
            return "3AxByz";
        case 12:
            return std::string(kKeyTableBytes, 'k');
        default:
            return "5";
    }
}

std::vector<std::string> Encode(uint32_t code, const std::string& line) {
    std::vector<std::string> list{line};
    EXPECT_EQ(EncodeLine(code, list, false), kEncoded) << code;
    return list;
}

TEST(RecordTypes, CodesAreInOrder) {
    for (std::size_t i = 0; i < kRecordTypes.size(); ++i) {
        EXPECT_EQ(kRecordTypes[i].code, i + 1);
        EXPECT_EQ(&RecordTypeOf(kRecordTypes[i].code), &kRecordTypes[i]);
    }
    for (uint32_t other : {0u, 14u, 0xFFFFFFFFu}) {
        EXPECT_EQ(RecordTypeOf(other).code, 0u);
        EXPECT_EQ(RecordTypeOf(other).build, nullptr);
    }
}

TEST(RecordTypes, CommandLettersAreTheEncodersInSendOrder) {
    for (const RecordType& type : kRecordTypes) {
        std::vector<std::string> lines = Encode(type.code, SampleLine(type.code));
        ASSERT_EQ(lines.size(), std::string(type.commands).size()) << type.code;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].substr(0, 3), std::string("!0") + type.commands[i]) << type.code;
            EXPECT_EQ(lines[i].substr(lines[i].size() - 2), "\r\n");
        }
    }
}

TEST(RecordTypes, NumbersHaveTheirWidthAndAreLoweredToTheirMaximum) {
    for (const RecordType& type : kRecordTypes) {
        if (type.numberWidth == 0) continue;
        std::string above = std::to_string(type.numberMaximum + 1);
        std::string line = SampleLine(type.code);
        line.replace(0, 1, above);  // the samples' numbers are one digit long
        std::string highest = std::to_string(type.numberMaximum);
        highest.insert(0, type.numberWidth - highest.size(), '0');
        for (const std::string& command : Encode(type.code, line)) {
            EXPECT_EQ(command.substr(3, type.numberWidth + 1), highest + "A") << type.code;
        }
    }
}

TEST(RecordTypes, TypesWithoutADataLineIgnoreIt) {
    for (const RecordType& type : kRecordTypes) {
        if (type.takesDataLine || type.code == 9) continue;
        EXPECT_EQ(Encode(type.code, ""), Encode(type.code, "xyz")) << type.code;
        EXPECT_EQ(BuildCommandList(type.code, {}, false).size(), std::string(type.commands).size());
    }
    EXPECT_FALSE(RecordTypeOf(9).takesDataLine);
}

TEST(RecordTypes, PartnersReadBackWhatTheyStoreUnderTheirPrefix) {
    for (const RecordType& type : kRecordTypes) {
        if (type.role != RecordRole::kStores) {
            EXPECT_STREQ(type.uploadPrefix, "") << type.code;
            continue;
        }
        const RecordType& read = RecordTypeOf(type.partner);
        EXPECT_EQ(read.role, RecordRole::kReads);
        EXPECT_EQ(read.partner, type.code);
        EXPECT_STREQ(read.numberName, type.numberName);
        EXPECT_EQ(read.numberMaximum, type.numberMaximum);
        EXPECT_EQ(std::string(type.uploadPrefix), std::to_string(type.code) + "P");
        EXPECT_EQ(StoredTypeOfUploadLine(std::string(type.uploadPrefix) + "x"), &type);
    }
    EXPECT_EQ(StoredTypeOfUploadLine("13P1"), nullptr);
    EXPECT_EQ(StoredTypeOfUploadLine("1"), nullptr);
    EXPECT_EQ(StoredTypeOfUploadLine("0u0012A"), nullptr);
}

TEST(RecordTypes, RolesAsASentence) {
    EXPECT_EQ(RecordTypesWithRole(RecordRole::kStores), "1, 3, 5, 7, 10 and 12");
    EXPECT_EQ(RecordTypesWithRole(RecordRole::kReads, "or"), "2, 4, 6, 8, 11 or 13");
    EXPECT_EQ(RecordTypesWithRole(RecordRole::kSetsClock), "9");
}

}  // namespace
}  // namespace vudaduv
