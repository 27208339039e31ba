// Encode → virtual scale → read back, over every record type: the first input byte chooses the
// record type (its low bits) and the En flag (its high bit), the rest is the data line. What the
// scale acknowledges comes back as the library sent it (a message without its terminator, but
// for the one documented case the scale cannot tell apart), and the upload line of data that
// holds no white space is the data line as the library sent it.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_driver.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kWhiteSpace = " \t\n\r\v\f";

std::string WithoutLineEnd(const std::string& command) {
    return command.substr(0, command.size() - kLineEnd.size());
}

// What the scale's line reader hands on: the line without its LF.
std::string Answer(vudaduv::model::ScaleMemory& memory, const std::string& command) {
    return memory.Answer(std::string_view(command).substr(0, command.size() - 1));
}

bool HoldsWhiteSpace(std::string_view text) {
    return text.find_first_of(kWhiteSpace) != std::string_view::npos;
}

bool IsReadRequest(uint32_t recordType) {
    for (uint32_t read : {2, 4, 6, 8, 11, 13}) {
        if (recordType == read) return true;
    }
    return false;
}

// The reply of a command line: "0" and its letter in lower case.
std::string Acknowledgement(const std::string& command) {
    return std::string("0") + static_cast<char>(command[2] - 'A' + 'a');
}

// "!0X" or "!0Z", two number characters, "A", the code and its terminator, "B": the code as a
// scale set up for the En flag's text mode gives it back, digit for digit.
std::string MessageCodeReadBack(const std::string& command, uint32_t recordType, bool en) {
    std::string code = command.substr(6, command.size() - 7);
    int number = std::atoi(command.substr(3, 2).c_str());
    int codePageAbove = vudaduv::RecordTypeOf(recordType).codePageAbove;
    bool codePage = en || number > codePageAbove;
    std::size_t terminator =
        codePage ? vudaduv::kCodePageTerminator.size() : vudaduv::kZonePositionTerminator.size();
    return code.substr(0, code.size() - terminator);
}

// The replies to the read request of readType for number, the number field of a download.
std::vector<std::string> ReadBack(vudaduv::model::ScaleMemory& memory, uint32_t readType,
                                  const std::string& number, bool en) {
    std::vector<std::string> list{number};
    FuzzCheck(vudaduv::EncodeLine(readType, list, en) == vudaduv::kEncoded, "a read is encoded");
    std::vector<std::string> replies;
    for (const std::string& command : list) replies.push_back(Answer(memory, command));
    return replies;
}

std::string UploadOf(const std::vector<std::string>& replies, bool en) {
    std::string file;
    for (const std::string& reply : replies) file += reply + std::string(kLineEnd);
    return vudaduv::ConvertUploadText(file, en);
}

// Refusals ("0e...") pass through to the upload file as they are; empty slots ("0f...") vanish.
void CheckReadsOfNothing(const std::vector<std::string>& replies, bool en) {
    std::string refusals;
    for (const std::string& reply : replies) {
        bool nothing = reply.compare(0, 2, "0f") == 0;
        FuzzCheck(nothing || reply.compare(0, 2, "0e") == 0,
                  "a read of an empty scale finds nothing or is refused");
        if (!nothing) refusals += reply + std::string(kLineEnd);
    }
    FuzzCheck(UploadOf(replies, en) == refusals, "nothing read gives no upload line");
}

void CheckDownload(vudaduv::model::ScaleMemory& memory, uint32_t recordType,
                   const std::vector<std::string>& commands, const std::string& dataLine, bool en) {
    const std::string& first = commands[0];
    std::string number = first.substr(3, first.find('A') - 3);
    std::vector<std::string> replies;
    switch (recordType) {
        case 1:
            replies = ReadBack(memory, 2, number, en);
            FuzzCheck(replies[0] == "0u" + WithoutLineEnd(first).substr(3),
                      "an item comes back as sent");
            return;
        case 3:
        case 5:
            replies = ReadBack(memory, recordType + 1, number, en);
            FuzzCheck(replies[0] == (recordType == 3 ? "0w" : "0y") + number + "A" +
                                        MessageCodeReadBack(WithoutLineEnd(first), recordType, en) +
                                        "B",
                      "a message comes back without its terminator");
            return;
        case 7:
            replies = ReadBack(memory, 8, "", en);
            FuzzCheck(replies[0] == "0n" + dataLine + "E", "type 7 data comes back as sent");
            if (!HoldsWhiteSpace(dataLine)) {
                FuzzCheck(UploadOf(replies, en) == "7P" + dataLine + "\r\n", "type 7 upload line");
            }
            return;
        case 10: {
            replies = ReadBack(memory, 11, number, en);
            std::string text1 = WithoutLineEnd(first).substr(6);
            std::string text2 = WithoutLineEnd(commands[1]).substr(6);
            FuzzCheck(
                replies[0].compare(0, replies[0].size() - 3, "0s" + number + "A" + text1) == 0 &&
                    replies[1].compare(0, replies[1].size() - 3, "0q" + number + "A" + text2) == 0,
                "label texts come back as sent, each with three closing digits");
            if (!HoldsWhiteSpace(text1 + text2)) {
                FuzzCheck(
                    UploadOf(replies, en) == "10P" + number + "A" + text1 + "B" + text2 + "\r\n",
                    "label upload line");
            }
            return;
        }
        case 12:
            replies = ReadBack(memory, 13, "", en);
            for (std::size_t block = 0; block < commands.size(); ++block) {
                FuzzCheck(replies[block] == "0k" + WithoutLineEnd(commands[block]).substr(3),
                          "key-table blocks come back as sent");
            }
            if (!HoldsWhiteSpace(dataLine)) {
                FuzzCheck(UploadOf(replies, en) == "12P" + dataLine + "\r\n",
                          "key-table upload line");
            }
            return;
        default:
            return;  // the clock is set and never read
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    uint8_t choice = input.Byte();
    uint32_t recordType = 1 + choice % 13;
    bool en = (choice & 0x80) != 0;
    std::string dataLine(input.Rest());

    std::vector<std::string> commands{dataLine};
    if (vudaduv::EncodeLine(recordType, commands, en) != vudaduv::kEncoded) return 0;

    vudaduv::model::ScaleMemory memory(vudaduv::model::TextModeOf(en));
    std::vector<std::string> replies;
    for (const std::string& command : commands) {
        replies.push_back(Answer(memory, command));
    }
    if (IsReadRequest(recordType)) {
        CheckReadsOfNothing(replies, en);
        return 0;
    }
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (replies[i] == Acknowledgement(commands[i])) continue;
        FuzzCheck(replies[i].compare(0, 2, "0e") == 0, "a download is acknowledged or refused");
        return 0;
    }
    CheckDownload(memory, recordType, commands, dataLine, en);
    return 0;
}
