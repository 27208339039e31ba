#include "encode/builders.h"
#include "encode/encode_line.h"
#include "encode/message_text.h"
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
    return recordType == 3 ? MessageKind{"!0X", kMessage3Maximum, kMessage3CodePageAbove}
                           : MessageKind{"!0Z", kMessage5Maximum, kMessage5CodePageAbove};
}

// Both cuts keep the same number of characters; the terminator is one code group of zeros.
std::string EncodeMessageText(std::string_view text, bool codePage) {
    std::string code = codePage ? EncodeCodePageText(text) : EncodeZonePositionText(text);
    std::string_view terminator = codePage ? kCodePageTerminator : kZonePositionTerminator;
    std::size_t limit = kMessageTextCharacters * terminator.size();
    if (code.size() > limit) code.resize(limit);
    return code + std::string(terminator);
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
