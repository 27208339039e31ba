#include "encode/builders.h"
#include "encode/encode_line.h"
#include "textcode/code_page_text.h"
#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

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
    return en || number > RecordTypeOf(recordType).codePageAbove;
}

std::optional<CommandLines> BuildTextMessage(int recordType, std::string_view dataLine, bool en) {
    std::size_t firstA = FindSeparator(dataLine, "A");
    if (firstA == kNotFound) return std::nullopt;

    const RecordType& type = RecordTypeOf(static_cast<uint32_t>(recordType));
    int32_t number = NumericFieldValue(dataLine.substr(0, firstA), type.numberMaximum);
    bool codePage = MessageTextIsCodePage(type.code, number, en);
    return CommandLines{"!0" + std::string(type.commands) +
                        PadNumericField(number, type.numberWidth) + "A" +
                        EncodeMessageText(dataLine.substr(firstA + 1), codePage) + "B\r\n"};
}

}  // namespace vudaduv
