#include "encode/encode_line.h"
#include "textcode/code_page_text.h"
#include "upload/token_cuts.h"
#include "upload/upload.h"
#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

std::string DecodeText(std::string_view digits, bool codePage) {
    return codePage ? DecodeCodePageText(digits) : DecodeZonePositionText(digits);
}

bool EndsWithSeparatorPair(const std::string& line) {
    return line.size() >= 2 && line.compare(line.size() - 2, 2, "##") == 0;
}

struct MessageReplyKind {
    const char* prefix;
    uint32_t recordType;  // of the download whose message the reply carries
};

}  // namespace

void DecodeItemReply(std::string& token, bool en) {
    long b = MarkerPosition(token, "B");
    if (b < 0) {
        token.clear();
        return;
    }
    long c = MarkerPosition(token, "C");
    long d = MarkerPosition(token, "D");
    long e = MarkerPosition(token, "E");

    std::string line = token.substr(0, static_cast<std::size_t>(b));
    RemoveFront(line, 2);
    for (std::string_view span :
         {SpanBetween(token, b, c), SpanBetween(token, c, d), SpanBetween(token, d, e)}) {
        line += "##";
        line += DecodeText(span, en);
    }
    // Empty trailing texts leave no separators behind.
    while (EndsWithSeparatorPair(line)) RemoveBack(line, 2);
    token = "1P" + line;
}

void DecodeMessageReply(std::string& token, bool en) {
    MessageReplyKind kind =
        token.compare(0, 2, "0w") == 0 ? MessageReplyKind{"3P", 3} : MessageReplyKind{"5P", 5};
    std::string rest = token;
    RemoveFront(rest, 2);

    std::string_view span = SpanBetween(rest, MarkerPosition(rest, "A"), MarkerPosition(rest, "B"));
    std::string number = rest.substr(0, 2);
    bool codePage = MessageTextIsCodePage(kind.recordType, ReadLeadingInteger(number), en);
    std::string text = DecodeText(span, codePage);
    if (text.empty() || text[0] == '\0') {
        token.clear();
        return;
    }
    token = kind.prefix + number + "A" + text;
}

void DecodeType7Reply(std::string& token) {
    RemoveFront(token, 2);
    RemoveBack(token, 1);
    token.insert(0, "7P");
}

}  // namespace vudaduv
