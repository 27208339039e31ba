// Download through an export, read back through an export: the upload line equals the data
// line sent. The transport double answers like a scale that keeps what it is sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "send_requests.h"
#include "temp_directory.h"
#include "transport_double.h"

namespace vudaduv {
namespace {

using testing::AppendReplies;
using testing::Export;
using testing::ReadWholeFile;
using testing::Requests;
using testing::Transports;

// The scale's side of the protocol, as far as these tests need it: download commands are
// acknowledged and kept, read requests answered in the scale's reply forms.
class FakeScale {
  public:
    // The terminator that closes the code of a message: the scale knows its text mode.
    explicit FakeScale(std::string messageTerminator) : terminator_(std::move(messageTerminator)) {}

    std::string Answer(std::string line) {
        EXPECT_EQ(line.substr(0, 2), "!0");
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        line.resize(line.size() - 2);
        const char letter = line[2];
        const std::string rest = line.substr(3);
        switch (letter) {
            case 'V':
                items_[rest.substr(0, 4)] = rest;
                return "0v";
            case 'U':
                return Stored(items_, rest.substr(0, 4), "0u", "U");
            case 'X':
            case 'Z':
                messages_[letter + rest.substr(0, 2)] = MessageCode(rest);
                return letter == 'X' ? "0x" : "0z";
            case 'W':
                return "0w" + rest.substr(0, 3) + messages_["X" + rest.substr(0, 2)] + "B";
            case 'Y':
                return "0y" + rest.substr(0, 3) + messages_["Z" + rest.substr(0, 2)] + "B";
            case 'O':
                freeData_ = rest;
                return "0o";
            case 'N':
                return "0n" + freeData_ + "E";
            case 'T':
                labelTexts_["T" + rest.substr(0, 2)] = rest.substr(3);
                return "0t";
            case 'R':
                labelTexts_["R" + rest.substr(0, 2)] = rest.substr(3);
                return "0r";
            case 'S':
                return LabelReply("0s", rest.substr(0, 3), labelTexts_["T" + rest.substr(0, 2)]);
            case 'Q':
                return LabelReply("0q", rest.substr(0, 3), labelTexts_["R" + rest.substr(0, 2)]);
            case 'L':
                EXPECT_EQ(rest.size(), 3u + 144u + 1u);
                keyBlocks_[rest.substr(0, 2)] = rest.substr(3, 144);
                return "0l";
            case 'K':
                return "0k" + rest.substr(0, 3) + keyBlocks_[rest.substr(0, 2)] + "B";
            case 'P':
                return "0p";
        }
        return "0eUNKNOWN";
    }

  private:
    static std::string Stored(const std::map<std::string, std::string>& memory,
                              const std::string& key, const char* code, const char* letter) {
        auto found = memory.find(key);
        return found == memory.end() ? "0f" + std::string(letter) + key : code + found->second;
    }

    // nn "A" code terminator "B": the code alone.
    std::string MessageCode(const std::string& rest) const {
        const std::string end = terminator_ + "B";
        EXPECT_GE(rest.size(), 3 + end.size());
        EXPECT_EQ(rest.substr(rest.size() - end.size()), end) << rest;
        return rest.substr(3, rest.size() - 3 - end.size());
    }

    static std::string LabelReply(const char* code, const std::string& numberAndA,
                                  const std::string& text) {
        unsigned sum = 0;
        for (char c : text) sum += static_cast<unsigned char>(c);
        char closing[8];
        std::snprintf(closing, sizeof closing, "%03u", sum % 1000);
        return code + numberAndA + text + closing;
    }

    std::string terminator_;
    std::map<std::string, std::string> items_;
    std::map<std::string, std::string> messages_;
    std::map<std::string, std::string> labelTexts_;
    std::map<std::string, std::string> keyBlocks_;
    std::string freeData_;
};

// The transport double answers every command line as the scale would, one reply per line.
void AnswerAs(FakeScale& scale) {
    Transports().leaveReplies = [&scale](const std::vector<std::string>& commands) {
        std::vector<std::string> replies;
        for (const std::string& command : commands) replies.push_back(scale.Answer(command));
        AppendReplies(replies);
    };
}

class EndToEndTest : public testing::WithFreshTransports {};

// 568 bytes without white space, with separators and double-byte characters.
std::string KeyTable() {
    std::string table;
    for (int i = 0; i < 568; ++i)
        table.push_back(
            "0123AB##z\xB0\xA1\x81"
            "A"[i % 13]);
    return table;
}

struct RoundTrip {
    const char* name;
    Export download;
    uint32_t recordType;
    std::string dataLine;
    Export read;
    uint32_t readType;
    std::vector<const char*> readLines;
    std::string messageTerminator;  // for record types 3 and 5
};

TEST_F(EndToEndTest, EveryRecordTypeComesBackAsItWasSent) {
    const std::string table = KeyTable();
    const RoundTrip cases[] = {
        {"item", Export::kTcp, 1, "0012Ax##ab##c##d", Export::kTcp, 2, {"12"}, ""},
        {"item, code-page texts",
         Export::kTcpEn,
         1,
         "4000Afields##\xA9\xA6\xA1\xE3##\xA6\xC1\xA6\xC2##x",
         Export::kCommEn,
         2,
         {"4000"},
         ""},
        {"item, GB2312 texts",
         Export::kTcpSt,
         1,
         "0007A1##\xB0\xA1\xD6\xD0##x",
         Export::kComm,
         2,
         {"7"},
         ""},
        {"item, empty middle text",
         Export::kComm,
         1,
         "0001A##a####c",
         Export::kTcpSt,
         2,
         {"1"},
         ""},
        {"item, no texts", Export::kTcpStEn, 1, "0002AxAy", Export::kTcpEn, 2, {"2"}, ""},
        {"message", Export::kTcp, 3, "05Ahi", Export::kTcpSt, 4, {"5"}, "0000"},
        {"message, en", Export::kTcpStEn, 3, "05A\xA9\xA6x", Export::kCommEn, 4, {"5"}, "000"},
        {"message above 10", Export::kComm, 3, "12Ahi", Export::kTcp, 4, {"12"}, "000"},
        {"message 5, en", Export::kCommEn, 5, "32Ahi", Export::kTcpStEn, 6, {"32"}, "000"},
        {"message 5 at 16",
         Export::kTcpSt,
         5,
         "16A\xB0\xA1\xD6\xD0",
         Export::kComm,
         6,
         {"16"},
         "0000"},
        {"message 5 above 16", Export::kTcp, 5, "17Axy", Export::kTcp, 6, {"17"}, "000"},
        {"free data", Export::kTcpEn, 7, "anything##AB\xB0\xA1", Export::kComm, 8, {}, ""},
        {"label", Export::kCommEn, 10, "03AxByz", Export::kTcpSt, 11, {"3"}, ""},
        {"label, double-byte texts",
         Export::kTcpSt,
         10,
         "15A\xB0\xA1"
         "B\xD6\xD0",
         Export::kTcpEn,
         11,
         {"15"},
         ""},
        {"key table", Export::kComm, 12, table, Export::kTcpStEn, 13, {}, ""},
        {"key table, en", Export::kTcpStEn, 12, table, Export::kComm, 13, {"ignored"}, ""},
    };
    for (const RoundTrip& c : cases) {
        FakeScale scale(c.messageTerminator);
        Transports() = {};
        AnswerAs(scale);
        std::filesystem::remove("Rec.txt");
        Requests download(c.recordType, {c.dataLine.c_str()});
        ASSERT_EQ(download.Send(c.download), 0) << c.name;
        EXPECT_EQ(ReadWholeFile("Rec.txt"), "") << c.name << ": acknowledgements are dropped";
        // The application takes the upload lines away before the next send.
        std::filesystem::remove("Rec.txt");
        Requests read(c.readType, c.readLines);
        ASSERT_EQ(read.Send(c.read), 0) << c.name;
        EXPECT_EQ(ReadWholeFile("Rec.txt"),
                  std::to_string(c.recordType) + "P" + c.dataLine + "\r\n")
            << c.name;
        EXPECT_EQ(Transports().calls.size(), 2u) << c.name;
    }
}

TEST_F(EndToEndTest, SeveralRecordsComeBackInTheOrderAsked) {
    FakeScale scale("0000");
    AnswerAs(scale);
    Requests items(1, {"0001Aa##x", "0002Ab##y", "0003Ac##z"});
    ASSERT_EQ(items.Send(Export::kTcp), 0);
    Requests labels(10, {"01AaBb", "02AcBd"});
    ASSERT_EQ(labels.Send(Export::kTcp), 0);
    std::filesystem::remove("Rec.txt");
    Requests readItems(2, {"3", "1", "9"});
    ASSERT_EQ(readItems.Send(Export::kTcp), 0);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "1P0003Ac##z\r\n1P0001Aa##x\r\n");
    std::filesystem::remove("Rec.txt");
    Requests readLabels(11, {"2", "1"});
    ASSERT_EQ(readLabels.Send(Export::kTcp), 0);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "10P02AcBd\r\n10P01AaBb\r\n");
}

}  // namespace
}  // namespace vudaduv
