#include <string_view>

#include "platform/platform.h"
#include "upload/upload.h"

namespace vudaduv {

namespace {

std::size_t SkipBlanks(std::string_view line, std::size_t from) {
    while (from < line.size() && IsTokenBlank(line[from])) ++from;
    return from;
}

// An upload line written by an earlier rewrite stays whole: its texts may hold blanks, and the
// application keeps its lines in the file from call to call. Only trailing white space goes.
// Every other line holds reply tokens, one or several.
void ConvertLine(std::string_view line, std::string& output, std::vector<std::string>& groups,
                 bool en) {
    std::size_t start = SkipBlanks(line, 0);
    if (StoredTypeOfUploadLine(line.substr(start)) != nullptr) {
        std::size_t end = line.size();
        while (end > start && IsTokenBlank(line[end - 1])) --end;
        ConvertReplyToken(std::string(line.substr(start, end - start)), output, groups, en);
        return;
    }
    while (start < line.size()) {
        std::size_t end = start;
        while (end < line.size() && !IsTokenBlank(line[end])) ++end;
        ConvertReplyToken(std::string(line.substr(start, end - start)), output, groups, en);
        start = SkipBlanks(line, end);
    }
}

}  // namespace

std::string ConvertUploadText(const std::string& fileBytes, bool en) {
    std::string output;
    std::vector<std::string> groups;  // a group in progress at the end is discarded
    const std::string_view file(fileBytes);
    std::size_t start = 0;
    while (start < file.size()) {
        std::size_t end = file.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = file.size();
        ConvertLine(file.substr(start, end - start), output, groups, en);
        start = end + 1;
    }
    return output;
}

bool RewriteUploadFile(bool en) {
    std::string replies;
    platform::ReadFileBytes(kUploadFileName, replies);  // a missing file holds no tokens
    std::string output = ConvertUploadText(replies, en);
    replies = std::string();
    // A file that cannot be written matters only when there is something to write.
    return platform::ReplaceFileBytes(kUploadFileName, output) || output.empty();
}

}  // namespace vudaduv
