#include <string_view>

#include "platform/platform.h"
#include "upload/upload.h"

namespace vudaduv {

std::string ConvertUploadText(const std::string& fileBytes, bool en) {
    std::string output;
    std::vector<std::string> groups;  // a group in progress at the end is discarded
    std::size_t i = 0;
    while (i < fileBytes.size()) {
        if (IsTokenSpace(fileBytes[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < fileBytes.size() && !IsTokenSpace(fileBytes[end])) ++end;
        ConvertReplyToken(fileBytes.substr(i, end - i), output, groups, en);
        i = end;
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
