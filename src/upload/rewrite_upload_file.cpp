#include <string_view>

#include "platform/platform.h"
#include "upload/upload.h"

namespace vudaduv {

namespace {

// The rewrite hands the new file its upload text in pieces of about this size, so that it never
// holds more than the file it reads and one piece.
constexpr std::size_t kOutputPiece = std::size_t{1} << 20;

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool EndsToken(char c) {
    return IsTokenBlank(c) || IsLineEnd(c);
}

std::size_t SkipBlanks(std::string_view file, std::size_t from) {
    while (from < file.size() && IsTokenBlank(file[from])) ++from;
    return from;
}

bool IsUploadLine(std::string_view text) {
    // Reply tokens begin with "0": most lines are told at their first byte.
    if (text.empty() || text[0] == '0') return false;
    return StoredTypeOfUploadLine(text) != nullptr;
}

// Converts the file line by line, in one pass (a line ends at CR or LF). An upload line written
// by an earlier rewrite stays whole: its texts may hold blanks, and the application keeps its
// lines in the file from call to call; only white space at its ends goes. Every other line holds
// reply tokens, one or several. Whenever output has grown to a piece, drain takes it and leaves
// it empty; what is left at the end stays in output.
template <typename Drain>
void ConvertLines(std::string_view file, bool en, std::string& output, Drain drain) {
    std::vector<std::string> groups;  // a group in progress at the end is discarded
    std::size_t at = 0;
    while (at < file.size()) {
        at = SkipBlanks(file, at);
        if (IsUploadLine(file.substr(at))) {
            std::size_t end = at;
            while (end < file.size() && !IsLineEnd(file[end])) ++end;
            std::size_t last = end;
            while (last > at && IsTokenBlank(file[last - 1])) --last;
            ConvertReplyToken(file.substr(at, last - at), output, groups, en);
            at = end;
        } else {
            while (at < file.size() && !IsLineEnd(file[at])) {
                std::size_t end = at;
                while (end < file.size() && !EndsToken(file[end])) ++end;
                ConvertReplyToken(file.substr(at, end - at), output, groups, en);
                at = SkipBlanks(file, end);
            }
        }
        ++at;  // the line end
        if (output.size() >= kOutputPiece) drain(output);
    }
}

}  // namespace

std::string ConvertUploadText(const std::string& fileBytes, bool en) {
    std::string output;
    ConvertLines(fileBytes, en, output, [](std::string&) {});
    return output;
}

std::vector<std::string> UploadLinesOfReplies(const std::vector<std::string>& replies, bool en) {
    std::string file;
    for (const std::string& reply : replies) {
        file += reply;
        file += "\r\n";
    }
    std::string text = ConvertUploadText(file, en);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool RewriteUploadFile(bool en) {
    std::string replies;
    platform::ReadFileBytes(kUploadFileName, replies);  // a missing file holds no tokens
    platform::FileReplacement replacement(kUploadFileName);
    bool anyOutput = false;
    auto drain = [&](std::string& piece) {
        anyOutput = anyOutput || !piece.empty();
        replacement.Write(piece);
        piece.clear();
    };
    std::string output;
    output.reserve(kOutputPiece + kOutputPiece / 4);
    ConvertLines(replies, en, output, drain);
    drain(output);
    // A file that cannot be written matters only when there is something to write.
    return replacement.Commit() || !anyOutput;
}

}  // namespace vudaduv
