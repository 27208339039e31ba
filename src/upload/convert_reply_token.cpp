#include <array>
#include <string_view>

#include "upload/token_cuts.h"
#include "upload/upload.h"

namespace vudaduv {

namespace {

// Acknowledgements of downloads and other replies that carry nothing for the application.
constexpr std::array<std::string_view, 12> kDroppedCodes = {"0p", "0i", "0h", "0o", "0z", "0x",
                                                            "0t", "0r", "0l", "0f", "0g", "0v"};

constexpr const char* kLabelGroup = "LABEL";
constexpr const char* kKeyGroup = "KEY";
constexpr std::size_t kFullKeyGroup = 4;  // "KEY" and three parts: the next part completes it

// Every dropped code is "0" and a letter: a table by that letter answers at once.
constexpr std::array<bool, 256> DroppedByLetter() {
    std::array<bool, 256> dropped{};
    for (std::string_view code : kDroppedCodes) dropped[static_cast<unsigned char>(code[1])] = true;
    return dropped;
}
constexpr std::array<bool, 256> kDroppedByLetter = DroppedByLetter();

constexpr bool EveryCodeIsZeroAndALetter() {
    for (std::string_view code : kDroppedCodes) {
        if (code.size() != 2 || code[0] != '0') return false;
    }
    return true;
}
static_assert(EveryCodeIsZeroAndALetter());

bool IsDroppedCode(std::string_view code) {
    return code.size() == 2 && code[0] == '0' &&
           kDroppedByLetter[static_cast<unsigned char>(code[1])];
}

// "0s": the first half of a label line, kept until its "0q" arrives.
void OpenLabelGroup(std::string_view token, std::vector<std::string>& groups) {
    groups.clear();
    groups.emplace_back(kLabelGroup);
    std::string half(Cut(token, 2, 3));
    half += 'B';
    groups.push_back(std::move(half));
}

// "0q": the second half; a "10P" line when a label group is open.
bool CloseLabelGroup(std::string_view token, std::vector<std::string>& groups, std::string& line) {
    if (groups.empty()) return false;
    if (groups[0] != kLabelGroup) {
        groups.clear();
        return false;
    }
    line = "10P";
    line += groups[1];
    line += Cut(token, 5, 3);
    groups.clear();
    return true;
}

// "0k": one quarter of a key table; the fourth makes a "12P" line without the eight padding
// characters that the download added.
bool AddKeyPart(std::string_view token, std::vector<std::string>& groups, std::string& line) {
    if (groups.empty()) groups.emplace_back(kKeyGroup);
    if (groups[0] != kKeyGroup) {
        groups.clear();
        return false;
    }
    std::string_view part = Cut(token, 5, 1);
    if (groups.size() < kFullKeyGroup) {
        groups.emplace_back(part);
        return false;
    }
    line = "12P";
    line += groups[1];
    line += groups[2];
    line += groups[3];
    line += part;
    RemoveBack(line, 8);
    groups.clear();
    return true;
}

}  // namespace

void ConvertReplyToken(std::string_view token, std::string& output,
                       std::vector<std::string>& groups, bool en) {
    const std::string_view code = token.substr(0, 2);
    if (IsDroppedCode(code)) return;

    std::string line;  // the token changed into an upload line, when its code changes it
    if (code == "0u" || code == "0w" || code == "0y" || code == "0n") {
        line = token;
        if (code == "0u") {
            DecodeItemReply(line, en);
        } else if (code == "0n") {
            DecodeType7Reply(line);
        } else {
            DecodeMessageReply(line, en);
        }
        token = line;
    } else if (code == "0s") {
        OpenLabelGroup(token, groups);
        return;
    } else if (code == "0q" || code == "0k") {
        bool done =
            code == "0q" ? CloseLabelGroup(token, groups, line) : AddKeyPart(token, groups, line);
        if (!done) return;
        token = line;
    }
    if (token.empty()) return;
    output += token;
    output += "\r\n";
}

}  // namespace vudaduv
