#include "encode/builders.h"
#include "encode/encode_line.h"
#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

constexpr std::size_t kKeyBlockBytes = 144;

}  // namespace

std::optional<CommandLines> BuildLabelText(std::string_view dataLine) {
    std::size_t firstA = FindSeparator(dataLine, "A");
    std::size_t firstB = FindSeparator(dataLine, "B");
    if (firstA == kNotFound || firstB == kNotFound) return std::nullopt;

    std::string number = FormatNumericField(dataLine.substr(0, firstA), kLabelMaximum, 2);
    // A "B" before the first "A" leaves text 1 empty.
    std::string_view text1 =
        firstB > firstA ? dataLine.substr(firstA + 1, firstB - firstA - 1) : std::string_view();
    std::string_view text2 = dataLine.substr(firstB + 1);
    return CommandLines{"!0T" + number + "A" + std::string(text1) + "\r\n",
                        "!0R" + number + "A" + std::string(text2) + "\r\n"};
}

std::optional<CommandLines> BuildKeyTable(std::string_view dataLine) {
    if (dataLine.size() != kKeyTableBytes) return std::nullopt;

    std::string padded = std::string(dataLine) + "00000000";
    CommandLines lines;
    for (std::size_t block = 0; block < 4; ++block) {
        lines.push_back("!0L0" + std::to_string(block) + "A" +
                        padded.substr(block * kKeyBlockBytes, kKeyBlockBytes) + "B\r\n");
    }
    return lines;
}

}  // namespace vudaduv
