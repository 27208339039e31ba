#include "encode/builders.h"
#include "encode/encode_line.h"
#include "textcode/code_page_text.h"
#include "textcode/text_scan.h"
#include "textcode/zone_position_text.h"

namespace vudaduv {

namespace {

struct MessageKind {
    const char* command;
    int32_t maximum;
    int32_t codePageAbove;  // numbers above this use code-page text even without the En flag
};

MessageKind KindOf(int recordType) {
    return recordType == 3 ? MessageKind{"!0X", 22, 10} : MessageKind{"!0Z", 32, 16};
}

// Both cuts keep 30 characters; the terminator is one code group of zeros.
std::string EncodeMessageText(std::string_view text, bool codePage) {
    std::string code = codePage ? EncodeCodePageText(text) : EncodeZonePositionText(text);
    std::size_t limit = codePage ? 90 : 120;
    if (code.size() > limit) code.resize(limit);
    return code + (codePage ? "000" : "0000");
}

}  // namespace

bool MessageTextIsCodePage(uint32_t recordType, int32_t number, bool en) {
    return en || number > KindOf(static_cast<int>(recordType)).codePageAbove;
}

std::optional<CommandLines> BuildTextMessage(int recordType, std::string_view dataLine, bool en) {
    std::size_t firstA = FindSeparator(dataLine, "A");
    if (firstA == kNotFound) return std::nullopt;

    MessageKind kind = KindOf(recordType);
    int32_t number = NumericFieldValue(dataLine.substr(0, firstA), kind.maximum);
    bool codePage = MessageTextIsCodePage(static_cast<uint32_t>(recordType), number, en);
    return CommandLines{kind.command + PadNumericField(number, 2) + "A" +
                        EncodeMessageText(dataLine.substr(firstA + 1), codePage) + "B\r\n"};
}

}  // namespace vudaduv
