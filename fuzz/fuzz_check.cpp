// The tool's check of a data line: the first input byte chooses the record type (its low four
// bits) and the En flag (its high bit), the rest is the data line. The check never throws, every
// finding names a field and what happens to it, and a line it passes comes back from the virtual
// scale as written: sent through the codec, stored, read back with its read request and
// rewritten, it gives exactly one upload line, the record type and "P" in front of the line
// (its number padded to the width the scale keeps; empty item texts at the end left out), or no
// line at all for a message with an empty text. That round trip is built here from the codec and
// the scale alone, not from the check's own pieces.
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_driver.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The read request of each stored record type and the width of the number the scale keeps
// (0 for the records without a number).
struct Stored {
    uint32_t recordType;
    uint32_t readType;
    std::size_t numberWidth;
};

constexpr Stored kStored[] = {{1, 2, 4}, {3, 4, 2}, {5, 6, 2}, {7, 8, 0}, {10, 11, 2}, {12, 13, 0}};

const Stored* FindStored(uint32_t recordType) {
    for (const Stored& stored : kStored) {
        if (stored.recordType == recordType) return &stored;
    }
    return nullptr;
}

bool IsNumberRead(uint32_t recordType) {
    return recordType == 2 || recordType == 4 || recordType == 6 || recordType == 11;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits as the scale keeps them: no zeros in front, then padded to width.
std::string Padded(std::string_view digits, std::size_t width) {
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    std::string padded(digits);
    if (padded.size() < width) padded.insert(0, width - padded.size(), '0');
    return padded;
}

std::string WithoutLineEnd(const std::string& command) {
    return command.substr(0, command.size() - kLineEnd.size());
}

// A command line as the scale reads it off the wire: up to its LF.
std::string WithoutLf(const std::string& command) {
    return command.substr(0, command.size() - 1);
}

std::vector<std::string> Commands(uint32_t recordType, const std::string& line, bool en) {
    std::vector<std::string> list{line};
    FuzzCheck(vudaduv::EncodeLine(recordType, list, en) == vudaduv::kEncoded,
              "a line the check passes is sent");
    return list;
}

// The upload text that a line of a stored record type leaves, read back from a scale of its own.
std::string UploadTextOf(const Stored& stored, const std::string& line, bool en) {
    vudaduv::model::ScaleMemory memory(vudaduv::model::TextModeOf(en));
    std::vector<std::string> commands = Commands(stored.recordType, line, en);
    for (const std::string& command : commands) {
        std::string reply = memory.Answer(WithoutLf(command));
        FuzzCheck(reply == std::string("0") + static_cast<char>(command[2] - 'A' + 'a'),
                  "a line the check passes is stored by the scale");
    }
    std::string number = commands[0].substr(3, stored.numberWidth);
    std::string replies;
    for (const std::string& read : Commands(stored.readType, number, en)) {
        replies += memory.Answer(WithoutLf(read)) + std::string(kLineEnd);
    }
    return vudaduv::ConvertUploadText(replies, en);
}

// The upload line a line of a stored record type should come back as; "" for no line.
std::string ExpectedUploadLine(const Stored& stored, const std::string& line) {
    std::string prefix = std::to_string(stored.recordType) + "P";
    if (stored.numberWidth == 0) return prefix + line;
    std::size_t a = line.find('A');
    FuzzCheck(a != std::string::npos && AllDigits(line.substr(0, a)),
              "a line the check passes has its number in digits before its A");
    std::string rest = line.substr(a + 1);
    if ((stored.recordType == 3 || stored.recordType == 5) && rest.empty()) return "";
    if (stored.recordType == 1) {
        while (rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "##") == 0) {
            rest.resize(rest.size() - 2);
        }
    }
    return prefix + Padded(line.substr(0, a), stored.numberWidth) + "A" + rest;
}

void CheckPassedLine(uint32_t recordType, const std::string& line, bool en) {
    if (IsNumberRead(recordType)) {
        std::string command = WithoutLineEnd(Commands(recordType, line, en)[0]);
        std::string number = command.substr(3, command.size() - 4);
        FuzzCheck(AllDigits(line) && Padded(line, number.size()) == number,
                  "a read request the check passes asks for the number as written");
        return;
    }
    const Stored* stored = FindStored(recordType);
    if (stored == nullptr) return;
    std::string expected = ExpectedUploadLine(*stored, line);
    std::string uploadText = UploadTextOf(*stored, line, en);
    FuzzCheck(uploadText == (expected.empty() ? "" : expected + std::string(kLineEnd)),
              "a line the check passes comes back from the scale as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    uint8_t choice = input.Byte();
    uint32_t recordType = choice & 0x0F;
    bool en = (choice & 0x80) != 0;
    std::string line(input.Rest());

    std::vector<vudaduv::model::Finding> findings;
    try {
        findings = vudaduv::model::CheckDataLine(recordType, en, line);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        FuzzCheck(false, "the check throws no exception");
    }
    for (const vudaduv::model::Finding& finding : findings) {
        FuzzCheck(!finding.field.empty() && !finding.what.empty(),
                  "a finding names a field and what happens to it");
    }
    if (findings.empty()) CheckPassedLine(recordType, line, en);
    return 0;
}
