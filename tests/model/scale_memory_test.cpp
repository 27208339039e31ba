// A scale's memory and its answers, one named case per command line and reply.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "vudaduv_model.h"

namespace {

using vudaduv::model::kMaxCommandLineBytes;
using vudaduv::model::ScaleMemory;
using vudaduv::model::TextMode;

struct ProtocolCase {
    std::string name;
    std::vector<std::string> before;  // command lines answered first, replies not looked at
    std::string command;
    std::string reply;
    TextMode mode = TextMode::kZonePosition;  // the scale's text mode
};

std::string KeyBlock(char fill) {
    return std::string(144, fill);
}

std::string KeyBlockLine(int block, const std::string& bytes) {
    return "!0L0" + std::to_string(block) + "A" + bytes + "B";
}

std::vector<ProtocolCase> DownloadAcks() {
    return {
        {"item", {}, "!0V0005AxB03650366CDE", "0v"},
        {"item_line_with_cr", {}, "!0V0005ABCDE\r", "0v"},
        {"item_0", {}, "!0V0000ABCDE", "0v"},
        {"item_4000", {}, "!0V4000ABCDE", "0v"},
        {"message3", {}, "!0X05A037203730000B", "0x"},
        {"message3_22", {}, "!0X22A065000B", "0x"},
        {"message5", {}, "!0Z17A104105000B", "0z"},
        {"message5_32", {}, "!0Z32A065000B", "0z"},
        {"type7", {}, "!0Oabc", "0o"},
        {"type7_empty", {}, "!0O", "0o"},
        {"clock", {}, "!0P2603070905", "0p"},
        {"label_text1", {}, "!0T03Ax", "0t"},
        {"label_text2", {}, "!0R03Ayz", "0r"},
        {"label_15_empty_text", {}, "!0T15A", "0t"},
        {"key_block_0", {}, KeyBlockLine(0, KeyBlock('k')), "0l"},
        {"key_block_3", {}, KeyBlockLine(3, KeyBlock('B')), "0l"},
    };
}

std::vector<ProtocolCase> ReadsOfStoredData() {
    return {
        {"item", {"!0V0005AxB03650366CDE"}, "!0U0005A", "0u0005AxB03650366CDE"},
        {"item_0", {"!0V0000ABCDE"}, "!0U0000A", "0u0000ABCDE"},
        {"item_4000", {"!0V4000A1F2B0333C0334D0335E"}, "!0U4000A", "0u4000A1F2B0333C0334D0335E"},
        {"item_newest_download", {"!0V0007A1BCDE", "!0V0007A2BCDE"}, "!0U0007A", "0u0007A2BCDE"},
        {"message3_zone_position", {"!0X05A037203730000B"}, "!0W05A", "0w05A03720373B"},
        {"message3_10_zone_position", {"!0X10A16010000B"}, "!0W10A", "0w10A1601B"},
        {"message3_10_code_page",
         {"!0X10A104105000B"},
         "!0W10A",
         "0w10A104105B",
         TextMode::kCodePage},
        {"message3_11_always_code_page", {"!0X11A097098100000B"}, "!0W11A", "0w11A097098100B"},
        {"message3_22", {"!0X22A065000B"}, "!0W22A", "0w22A065B"},
        {"message3_empty_zone_position", {"!0X05A0000B"}, "!0W05A", "0w05AB"},
        {"message3_empty_code_page", {"!0X15A000B"}, "!0W15A", "0w15AB"},
        {"message3_no_terminator_kept_whole", {"!0X05A0333B"}, "!0W05A", "0w05A0333B"},
        // A character whose zone-position code is 0000 (A0 A0) is no terminator.
        {"message3_zero_group_inside_zone_position",
         {"!0X05A000003880000B"},
         "!0W05A",
         "0w05A00000388B"},
        // A scale reads a message in its own text mode: code-page "abd" and "1+2", whose codes
        // end in a zero before their terminator, come back digit for digit.
        {"message3_code_page_ending_in_zero",
         {"!0X05A097098100000B"},
         "!0W05A",
         "0w05A097098100B",
         TextMode::kCodePage},
        {"message3_code_page_that_reads_as_zone_position",
         {"!0X05A049043050000B"},
         "!0W05A",
         "0w05A049043050B",
         TextMode::kCodePage},
        {"message3_code_page_sent_to_a_zone_position_scale",
         {"!0X05A049043050000B"},
         "!0W05A",
         "0w05A04904305B"},
        {"message5_code_page_terminator_on_a_code_page_scale",
         {"!0Z05A0333000B"},
         "!0Y05A",
         "0y05A0333B",
         TextMode::kCodePage},
        {"message3_foreign_code_kept_whole", {"!0X05A999000B"}, "!0W05A", "0w05A999000B"},
        {"message5_16_zone_position", {"!0Z16A03330000B"}, "!0Y16A", "0y16A0333B"},
        {"message5_17_code_page", {"!0Z17A065000B"}, "!0Y17A", "0y17A065B"},
        {"message5_32", {"!0Z32A065066000B"}, "!0Y32A", "0y32A065066B"},
        {"type7", {"!0Oabc"}, "!0N", "0nabcE"},
        {"type7_empty", {"!0O"}, "!0N", "0nE"},
        {"type7_newest_download", {"!0Oold", "!0Onew"}, "!0N", "0nnewE"},
        {"label_text1", {"!0T03Ax"}, "!0S03A", "0s03Ax120"},
        {"label_text2", {"!0R03Ayz"}, "!0Q03A", "0q03Ayz243"},
        {"label_sum_modulo_1000", {"!0T00Azzzzzzzzz"}, "!0S00A", "0s00Azzzzzzzzz098"},
        {"label_empty_text", {"!0T15A"}, "!0S15A", "0s15A000"},
        {"key_block_0", {KeyBlockLine(0, KeyBlock('k'))}, "!0K00A", "0k00A" + KeyBlock('k') + "B"},
        {"key_block_3", {KeyBlockLine(3, KeyBlock('B'))}, "!0K03A", "0k03A" + KeyBlock('B') + "B"},
    };
}

std::vector<ProtocolCase> ReadsOfEmptySlots() {
    return {
        {"item", {}, "!0U0012A", "0fU0012"},
        {"item_0", {}, "!0U0000A", "0fU0000"},
        {"item_4000", {}, "!0U4000A", "0fU4000"},
        {"item_other_number", {"!0V0005ABCDE"}, "!0U0006A", "0fU0006"},
        {"message3", {}, "!0W22A", "0fW22"},
        {"message5", {}, "!0Y32A", "0fY32"},
        {"message5_not_message3", {"!0X05A0000B"}, "!0Y05A", "0fY05"},
        {"type7", {}, "!0N", "0fN"},
        {"label_text1", {}, "!0S15A", "0fS15"},
        {"label_text2", {}, "!0Q00A", "0fQ00"},
        {"label_text2_when_only_text1_stored", {"!0T03Ax"}, "!0Q03A", "0fQ03"},
        {"key_block", {}, "!0K02A", "0fK02"},
    };
}

std::vector<ProtocolCase> ErrorReplies() {
    return {
        {"empty_line", {}, "", "0eNOTCOMMAND"},
        {"text", {}, "hello", "0eNOTCOMMAND"},
        {"reply_sent_back", {}, "0u0005ABCDE", "0eNOTCOMMAND"},
        {"bang_alone", {}, "!", "0eNOTCOMMAND"},
        {"wrong_address", {}, "!1V0005ABCDE", "0eNOTCOMMAND"},
        {"binary", {}, std::string("\x00\xff\x80!0", 5), "0eNOTCOMMAND"},
        {"no_letter", {}, "!0", "0eUNKNOWN"},
        {"unknown_letter", {}, "!0A", "0eUNKNOWN"},
        {"lower_case_letter", {}, "!0v0005ABCDE", "0eUNKNOWN"},
        {"binary_letter", {}, "!0\xff", "0eUNKNOWN"},
        {"item_4001", {}, "!0V4001ABCDE", "0eMALFORMED"},
        {"read_item_4001", {}, "!0U4001A", "0eMALFORMED"},
        {"read_item_short_number", {}, "!0U12A", "0eMALFORMED"},
        {"read_item_not_digits", {}, "!0U00x5A", "0eMALFORMED"},
        {"read_item_negative", {}, "!0U00-3A", "0eMALFORMED"},
        {"read_item_missing_a", {}, "!0U0005", "0eMALFORMED"},
        {"read_item_trailing_bytes", {}, "!0U0005AB", "0eMALFORMED"},
        {"item_missing_b", {}, "!0V0005Ax", "0eMALFORMED"},
        {"item_missing_a", {}, "!0V0005", "0eMALFORMED"},
        {"message3_23", {}, "!0X23A065000B", "0eMALFORMED"},
        {"read_message3_23", {}, "!0W23A", "0eMALFORMED"},
        {"message5_33", {}, "!0Z33A065000B", "0eMALFORMED"},
        {"read_message5_33", {}, "!0Y33A", "0eMALFORMED"},
        {"message_missing_b", {}, "!0X05A0333", "0eMALFORMED"},
        {"message_one_digit", {}, "!0X5A0333B", "0eMALFORMED"},
        {"label_16", {}, "!0T16Ax", "0eMALFORMED"},
        {"read_label_16", {}, "!0S16A", "0eMALFORMED"},
        {"read_label_text2_16", {}, "!0Q16A", "0eMALFORMED"},
        {"label_one_digit", {}, "!0T3Ax", "0eMALFORMED"},
        {"key_block_4", {}, KeyBlockLine(4, KeyBlock('k')), "0eMALFORMED"},
        {"read_key_block_4", {}, "!0K04A", "0eMALFORMED"},
        {"key_block_143_bytes", {}, "!0L00A" + std::string(143, 'k') + "B", "0eMALFORMED"},
        {"key_block_145_bytes", {}, "!0L00A" + std::string(145, 'k') + "B", "0eMALFORMED"},
        {"key_block_missing_b", {}, "!0L00A" + KeyBlock('k') + "X", "0eMALFORMED"},
        {"clock_8_digits", {}, "!0P26030709", "0eMALFORMED"},
        {"clock_11_digits", {}, "!0P26030709051", "0eMALFORMED"},
        {"clock_not_digits", {}, "!0P26030709x5", "0eMALFORMED"},
        {"read_type7_trailing_bytes", {}, "!0N1", "0eMALFORMED"},
        {"line_of_8193_bytes", {}, "!0O" + std::string(8190, 'x'), "0eTOOLONG"},
        {"line_of_8193_bytes_and_cr", {}, "!0O" + std::string(8190, 'x') + "\r", "0eTOOLONG"},
        {"line_of_8192_bytes", {}, "!0O" + std::string(8189, 'x'), "0o"},
        {"line_of_8192_bytes_and_cr", {}, "!0O" + std::string(8189, 'x') + "\r", "0o"},
    };
}

// A failed download keeps nothing: the slot reads as empty afterwards.
std::vector<ProtocolCase> FailedDownloadsKeepNothing() {
    return {
        {"item_missing_b", {"!0V0005Ax"}, "!0U0005A", "0fU0005"},
        {"message_missing_b", {"!0X05A0333"}, "!0W05A", "0fW05"},
        {"key_block_short", {"!0L01A" + std::string(143, 'k') + "B"}, "!0K01A", "0fK01"},
        {"over_long_type7", {"!0O" + std::string(kMaxCommandLineBytes, 'x')}, "!0N", "0fN"},
    };
}

void PrintTo(const ProtocolCase& protocolCase, std::ostream* out) {
    *out << protocolCase.name;
}

class ProtocolTest : public testing::TestWithParam<ProtocolCase> {};

TEST_P(ProtocolTest, AnswersWithItsReply) {
    ScaleMemory memory(GetParam().mode);
    for (const std::string& line : GetParam().before) memory.Answer(line);
    EXPECT_EQ(memory.Answer(GetParam().command), GetParam().reply);
}

std::string CaseName(const testing::TestParamInfo<ProtocolCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(DownloadAck, ProtocolTest, testing::ValuesIn(DownloadAcks()), CaseName);
INSTANTIATE_TEST_SUITE_P(ReadStored, ProtocolTest, testing::ValuesIn(ReadsOfStoredData()),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(ReadEmpty, ProtocolTest, testing::ValuesIn(ReadsOfEmptySlots()), CaseName);
INSTANTIATE_TEST_SUITE_P(Error, ProtocolTest, testing::ValuesIn(ErrorReplies()), CaseName);
INSTANTIATE_TEST_SUITE_P(FailedDownload, ProtocolTest,
                         testing::ValuesIn(FailedDownloadsKeepNothing()), CaseName);

bool HoldsWhiteSpace(const std::string& text) {
    return text.find_first_of(" \t\r\n\v\f") != std::string::npos;
}

// Whatever bytes come, each line gets one reply of the protocol's forms, without white space
// unless the memory holds some.
TEST(ProtocolProperty, RandomLinesGetOneWellFormedReplyEach) {
    ScaleMemory memory;
    std::mt19937 random(20260307);
    const std::string heads[] = {"", "!", "!0", "!0V", "!0U", "!0X", "!0W", "!0L0", "!0K0", "!0P"};
    for (int round = 0; round < 5000; ++round) {
        std::string line = heads[random() % std::size(heads)];
        std::size_t length = random() % 40;
        for (std::size_t i = 0; i < length; ++i) {
            char byte = static_cast<char>(random() % 256);
            line += HoldsWhiteSpace(std::string(1, byte)) ? '0' : byte;
        }
        std::string reply = memory.Answer(line);
        ASSERT_GE(reply.size(), 2u) << line;
        EXPECT_EQ(reply[0], '0') << line;
        EXPECT_FALSE(HoldsWhiteSpace(reply)) << line;
    }
}

// Connections share one memory: downloads from many threads at once all arrive.
TEST(ProtocolProperty, ConcurrentDownloadsAllArrive) {
    ScaleMemory memory;
    constexpr int kThreads = 4;
    constexpr int kItemsEach = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&memory, t] {
            for (int i = 0; i < kItemsEach; ++i) {
                char line[32];
                std::snprintf(line, sizeof line, "!0V%04dA%dBCDE", t * kItemsEach + i, t);
                memory.Answer(line);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int item = 0; item < kThreads * kItemsEach; ++item) {
        char read[16];
        char expected[32];
        std::snprintf(read, sizeof read, "!0U%04dA", item);
        std::snprintf(expected, sizeof expected, "0u%04dA%dBCDE", item, item / kItemsEach);
        EXPECT_EQ(memory.Answer(read), expected);
    }
}

}  // namespace
