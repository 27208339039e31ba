#include <algorithm>
#include <array>
#include <optional>
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

bool IsDroppedCode(std::string_view code) {
    return std::find(kDroppedCodes.begin(), kDroppedCodes.end(), code) != kDroppedCodes.end();
}

// "0s": the first half of a label line, kept until its "0q" arrives.
void OpenLabelGroup(std::string token, std::vector<std::string>& groups) {
    RemoveFront(token, 2);
    RemoveBack(token, 3);
    groups.clear();
    groups.push_back(kLabelGroup);
    groups.push_back(token + "B");
}

// "0q": the second half; a "10P" line when a label group is open.
std::optional<std::string> CloseLabelGroup(std::string token, std::vector<std::string>& groups) {
    if (groups.empty()) return std::nullopt;
    if (groups[0] != kLabelGroup) {
        groups.clear();
        return std::nullopt;
    }
    RemoveFront(token, 5);
    RemoveBack(token, 3);
    std::string line = "10P" + groups[1] + token;
    groups.clear();
    return line;
}

// "0k": one quarter of a key table; the fourth makes a "12P" line without the eight padding
// characters that the download added.
std::optional<std::string> AddKeyPart(std::string token, std::vector<std::string>& groups) {
    if (groups.empty()) groups.push_back(kKeyGroup);
    if (groups[0] != kKeyGroup) {
        groups.clear();
        return std::nullopt;
    }
    RemoveFront(token, 5);
    RemoveBack(token, 1);
    if (groups.size() < kFullKeyGroup) {
        groups.push_back(std::move(token));
        return std::nullopt;
    }
    std::string line = "12P" + groups[1] + groups[2] + groups[3] + token;
    RemoveBack(line, 8);
    groups.clear();
    return line;
}

}  // namespace

void ConvertReplyToken(std::string token, std::string& output, std::vector<std::string>& groups,
                       bool en) {
    const std::string code = token.substr(0, 2);
    if (IsDroppedCode(code)) return;

    if (code == "0u") {
        DecodeItemReply(token, en);
    } else if (code == "0w" || code == "0y") {
        DecodeMessageReply(token, en);
    } else if (code == "0n") {
        DecodeType7Reply(token);
    } else if (code == "0s") {
        OpenLabelGroup(std::move(token), groups);
        return;
    } else if (code == "0q" || code == "0k") {
        std::optional<std::string> line = code == "0q" ? CloseLabelGroup(std::move(token), groups)
                                                       : AddKeyPart(std::move(token), groups);
        if (!line) return;
        token = std::move(*line);
    }
    if (token.empty()) return;
    output += token;
    output += "\r\n";
}

}  // namespace vudaduv
