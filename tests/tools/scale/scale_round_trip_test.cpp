// What the library downloads to the virtual scale comes back, through the library's own upload
// rewrite, as the data line that was sent.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "encode/encode_line.h"
#include "upload/upload.h"
#include "virtual_scale.h"

namespace {

using vudaduv::scale::ScaleMemory;

// The command lines of one data line, as a send would put them on the wire.
std::vector<std::string> CommandLines(uint32_t recordType, const std::string& dataLine, bool en) {
    std::vector<std::string> list{dataLine};
    if (vudaduv::EncodeLine(recordType, list, en) != vudaduv::kEncoded) return {};
    return list;
}

// Answers the command lines as the transport would and gathers the replies, one per line.
void AnswerInto(ScaleMemory& memory, const std::vector<std::string>& commandLines,
                std::string& replies) {
    for (std::string line : commandLines) {
        if (!line.empty() && line.back() == '\n') line.pop_back();  // the CR is left to the scale
        replies += memory.Answer(line) + "\r\n";
    }
}

struct RoundTrip {
    uint32_t downloadType;
    std::string dataLine;
    uint32_t readType;
    std::string readLine;
};

// Downloads, reads back, and rewrites all replies (acks included) as "Rec.txt" would be.
std::string UploadAfter(ScaleMemory& memory, const RoundTrip& trip, bool en) {
    std::string replies;
    AnswerInto(memory, CommandLines(trip.downloadType, trip.dataLine, en), replies);
    AnswerInto(memory, CommandLines(trip.readType, trip.readLine, en), replies);
    return vudaduv::ConvertUploadText(replies, en);
}

struct RoundTripCase {
    std::string name;
    RoundTrip trip;
    std::string upload;     // the expected upload line without its CR LF
    bool zonePositionOnly;  // Chinese text: it survives only without the En flag
};

std::string KeyTable() {
    std::string table;
    for (int i = 0; i < 568; ++i) table += static_cast<char>('!' + i % 94);
    return table;
}

// GB2312 bytes: 啊 (zone 16, position 1), 中 and 文.
const std::string kAh = "\xB0\xA1";
const std::string kMiddle = "\xD6\xD0";
const std::string kText = "\xCE\xC4";

std::vector<RoundTripCase> RoundTripCases() {
    return {
        {"item_plain", {1, "5A", 2, "5"}, "1P0005A", false},
        {"item_text1", {1, "5Ax##ab", 2, "5"}, "1P0005Ax##ab", false},
        {"item_three_texts",
         {1, "4000A12F##abc##x!z##q~", 2, "4000"},
         "1P4000A12F##abc##x!z##q~",
         false},
        {"item_empty_middle_text", {1, "7A1##a####c", 2, "7"}, "1P0007A1##a####c", false},
        {"item_0", {1, "0A9", 2, "0"}, "1P0000A9", false},
        {"item_chinese",
         {1, "12A3##" + kAh + kMiddle + "##" + kText, 2, "12"},
         "1P0012A3##" + kAh + kMiddle + "##" + kText,
         true},
        {"message3", {3, "5Ahi", 4, "5"}, "3P05Ahi", false},
        {"message3_0", {3, "0Ax", 4, "0"}, "3P00Ax", false},
        {"message3_10", {3, "10Ahi", 4, "10"}, "3P10Ahi", false},
        {"message3_11", {3, "11Ahi", 4, "11"}, "3P11Ahi", false},
        {"message3_22", {3, "22AAbc", 4, "22"}, "3P22AAbc", false},
        {"message3_chinese", {3, "3A" + kMiddle + kText, 4, "3"}, "3P03A" + kMiddle + kText, true},
        {"message5_16", {5, "16Ahi", 6, "16"}, "5P16Ahi", false},
        {"message5_17", {5, "17Ahi", 6, "17"}, "5P17Ahi", false},
        {"message5_32", {5, "32A!x", 6, "32"}, "5P32A!x", false},
        {"message5_chinese", {5, "16A" + kAh, 6, "16"}, "5P16A" + kAh, true},
        {"type7", {7, "abc", 8, ""}, "7Pabc", false},
        {"type7_empty", {7, "", 8, ""}, "7P", false},
        {"label", {10, "3AxByz", 11, "3"}, "10P03AxByz", false},
        {"label_15_empty_texts", {10, "15AB", 11, "15"}, "10P15AB", false},
        {"label_chinese",
         {10, "1A" + kAh + "B" + kText, 11, "1"},
         "10P01A" + kAh + "B" + kText,
         false},
        {"key_table", {12, KeyTable(), 13, ""}, "12P" + KeyTable(), false},
    };
}

struct FlaggedCase {
    RoundTripCase roundTrip;
    bool en;
};

// Every case with both flags, except Chinese text with the En flag: code-page text drops it.
std::vector<FlaggedCase> FlaggedCases() {
    std::vector<FlaggedCase> cases;
    for (const RoundTripCase& roundTrip : RoundTripCases()) {
        cases.push_back({roundTrip, false});
        if (!roundTrip.zonePositionOnly) cases.push_back({roundTrip, true});
    }
    return cases;
}

void PrintTo(const FlaggedCase& flagged, std::ostream* out) {
    *out << flagged.roundTrip.name << (flagged.en ? " with the En flag" : "");
}

class RoundTripTest : public testing::TestWithParam<FlaggedCase> {};

TEST_P(RoundTripTest, ReadsBackWhatWasSent) {
    ScaleMemory memory(vudaduv::model::TextModeOf(GetParam().en));
    EXPECT_EQ(UploadAfter(memory, GetParam().roundTrip.trip, GetParam().en),
              GetParam().roundTrip.upload + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Case, RoundTripTest, testing::ValuesIn(FlaggedCases()),
                         [](const testing::TestParamInfo<FlaggedCase>& info) {
                             return info.param.roundTrip.name +
                                    (info.param.en ? "_en" : "_zone_position");
                         });

// Random texts whose characters survive their encoding.
class TextMaker {
  public:
    explicit TextMaker(uint32_t seed) : random_(seed) {}

    // Printable ASCII without white space and without "#", which separates item texts; with
    // zone-position text also GB2312 characters, with code-page text those of its table.
    std::string Character(bool codePage) {
        static const char* const kTableCharacters[] = {"\xA9\xA6", "\xA1\xE3", "\xA6\xC1",
                                                       "\xA8\x70", "\xA1\xB6", "\xA3\xA4"};
        switch (random_() % 4) {
            case 0:
                if (codePage) return kTableCharacters[random_() % std::size(kTableCharacters)];
                return GbCharacter();
            default: {
                char c = static_cast<char>('!' + random_() % 94);
                return std::string(1, c == '#' ? '$' : c);
            }
        }
    }

    std::string Text(std::size_t maxCharacters, bool codePage, bool allowEmpty) {
        std::size_t count = random_() % (maxCharacters + 1);
        if (count == 0 && !allowEmpty) count = 1;
        std::string text;
        for (std::size_t i = 0; i < count; ++i) text += Character(codePage);
        return text;
    }

    uint32_t Below(uint32_t limit) { return static_cast<uint32_t>(random_() % limit); }

  private:
    std::string GbCharacter() {
        unsigned zone = 16 + static_cast<unsigned>(random_() % 72);  // the Chinese zones 16..87
        unsigned position = 1 + static_cast<unsigned>(random_() % 94);
        return {static_cast<char>(0xA0 + zone), static_cast<char>(0xA0 + position)};
    }

    std::mt19937 random_;
};

std::string Padded(uint32_t number, int width) {
    std::string digits = std::to_string(number);
    return std::string(digits.size() < static_cast<std::size_t>(width) ? width - digits.size() : 0,
                       '0') +
           digits;
}

// Fields copied unchanged: no marker letter of the reply, no "#".
std::string Fields(TextMaker& maker) {
    static const std::string kFieldCharacters = "0123456789AFGHKLMXYZ.-";
    std::string fields = "A";
    std::size_t count = maker.Below(8);
    for (std::size_t i = 0; i < count; ++i) fields += kFieldCharacters[maker.Below(22)];
    return fields;
}

class RoundTripProperty : public testing::TestWithParam<bool> {};

constexpr int kRounds = 300;

TEST_P(RoundTripProperty, ItemRecords) {
    bool en = GetParam();
    TextMaker maker(101);
    ScaleMemory memory;
    for (int round = 0; round < kRounds; ++round) {
        uint32_t item = maker.Below(4001);
        // Trailing empty texts are left out of the upload line, so the last one is not empty.
        std::string line = Fields(maker);
        std::size_t texts = maker.Below(4);
        for (std::size_t t = 0; t < texts; ++t) {
            line += "##" + maker.Text(en ? 16 : 12, en, t + 1 < texts);
        }
        std::string upload =
            UploadAfter(memory, {1, std::to_string(item) + line, 2, std::to_string(item)}, en);
        ASSERT_EQ(upload, "1P" + Padded(item, 4) + line + "\r\n");
    }
}

// A scale told the text mode of the exports that talk to it returns every message digit for
// digit, whatever its last character.
void CheckMessages(uint32_t downloadType, uint32_t maximum, uint32_t codePageAbove, bool en) {
    TextMaker maker(downloadType);
    ScaleMemory memory(vudaduv::model::TextModeOf(en));
    for (int round = 0; round < kRounds; ++round) {
        uint32_t number = maker.Below(maximum + 1);
        bool codePage = en || number > codePageAbove;
        std::string text = maker.Text(30, codePage, false);
        std::string upload = UploadAfter(memory,
                                         {downloadType, std::to_string(number) + "A" + text,
                                          downloadType + 1, std::to_string(number)},
                                         en);
        ASSERT_EQ(upload,
                  std::to_string(downloadType) + "P" + Padded(number, 2) + "A" + text + "\r\n");
    }
}

TEST_P(RoundTripProperty, TextMessagesOfType3) {
    CheckMessages(3, 22, 10, GetParam());
}

TEST_P(RoundTripProperty, TextMessagesOfType5) {
    CheckMessages(5, 32, 16, GetParam());
}

TEST_P(RoundTripProperty, Type7Data) {
    bool en = GetParam();
    TextMaker maker(7);
    ScaleMemory memory;
    for (int round = 0; round < kRounds; ++round) {
        std::string data = maker.Text(40, en, true);
        ASSERT_EQ(UploadAfter(memory, {7, data, 8, ""}, en), "7P" + data + "\r\n");
    }
}

TEST_P(RoundTripProperty, LabelTexts) {
    bool en = GetParam();
    TextMaker maker(10);
    ScaleMemory memory;
    for (int round = 0; round < kRounds; ++round) {
        uint32_t label = maker.Below(16);
        std::string text1 = maker.Text(20, false, true);
        for (char& c : text1) c = c == 'B' ? 'b' : c;  // the first "B" ends text 1
        std::string text2 = maker.Text(20, false, true);
        std::string line = "A" + text1 + "B" + text2;
        std::string upload =
            UploadAfter(memory, {10, std::to_string(label) + line, 11, std::to_string(label)}, en);
        ASSERT_EQ(upload, "10P" + Padded(label, 2) + line + "\r\n");
    }
}

TEST_P(RoundTripProperty, KeyTables) {
    bool en = GetParam();
    TextMaker maker(12);
    ScaleMemory memory;
    for (int round = 0; round < kRounds / 10; ++round) {
        std::string table;
        while (table.size() < 568) table += static_cast<char>('!' + maker.Below(94));
        ASSERT_EQ(UploadAfter(memory, {12, table, 13, ""}, en), "12P" + table + "\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Flag, RoundTripProperty, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "en" : "zone_position");
                         });

}  // namespace
