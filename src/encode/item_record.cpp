#include "encode/builders.h"
#include "encode/encode_line.h"
#include "textcode/code_page_text.h"
#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

constexpr std::size_t kItemTextCount = 3;

// The texts after the first "##", split at every further "##"; always three, extra ones dropped.
std::vector<std::string> SplitItemTexts(std::string_view rest) {
    std::vector<std::string> texts;
    for (;;) {
        std::size_t separator = FindSeparator(rest, "##");
        if (separator == kNotFound) break;
        texts.emplace_back(rest.substr(0, separator));
        rest.remove_prefix(separator + 2);
    }
    texts.emplace_back(rest);
    texts.resize(kItemTextCount);
    return texts;
}

std::string EncodeItemText(std::string_view text, bool en) {
    std::string code = en ? EncodeCodePageText(text) : EncodeZonePositionText(text);
    if (code.size() > kItemCodeDigits) code.resize(kItemCodeDigits);
    return code;
}

}  // namespace

std::optional<CommandLines> BuildItemRecord(std::string_view dataLine, bool en) {
    std::size_t firstA = FindSeparator(dataLine, "A");
    if (firstA == kNotFound) return std::nullopt;

    std::string rebuilt = FormatNumericField(dataLine.substr(0, firstA), kItemMaximum, 4) +
                          std::string(dataLine.substr(firstA));
    std::size_t separator = FindSeparator(rebuilt, "##");
    if (separator == kNotFound) return CommandLines{"!0V" + rebuilt + "BCDE\r\n"};

    std::string_view head = std::string_view(rebuilt).substr(0, separator);
    std::vector<std::string> texts =
        SplitItemTexts(std::string_view(rebuilt).substr(separator + 2));
    return CommandLines{"!0V" + std::string(head) + "B" + EncodeItemText(texts[0], en) + "C" +
                        EncodeItemText(texts[1], en) + "D" + EncodeItemText(texts[2], en) +
                        "E\r\n"};
}

}  // namespace vudaduv
