#include "lines.h"

#include "charset.h"
#include "os.h"
#include "platform/platform.h"
#include "upload/upload.h"

namespace vudaduv::cli {

bool RecordTypeReadsDataLines(uint32_t recordType) {
    return recordType != 8 && recordType != 9 && recordType != 13;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool ReadInputBytes(const std::string& path, std::string& bytes) {
    return os::ReadAllBytes(path == "-" ? std::string() : path, bytes);
}

bool ReadDataLines(const std::string& path, std::vector<std::string>& lines) {
    std::string bytes;
    if (!ReadInputBytes(path, bytes)) return false;
    lines = SplitLines(bytes);
    return true;
}

bool LinesToGbk(const std::string& charset, std::vector<std::string>& lines, std::string& error) {
    if (charset.empty()) return true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string gbk;
        if (!ConvertToGbk(charset, lines[i], gbk)) {
            error = "data line " + std::to_string(i + 1) + " is not " + charset +
                    " text that GBK can hold";
            return false;
        }
        lines[i] = std::move(gbk);
    }
    return true;
}

std::string ShowText(const std::string& charset, const std::string& gbk) {
    return charset.empty() ? gbk : ConvertFromGbk(charset, gbk);
}

std::string ReadUploadFile() {
    std::string bytes;
    platform::ReadFileBytes(kUploadFileName, bytes);
    return bytes;
}

std::vector<std::string> AddedUploadLines(const std::string& before, const std::string& after,
                                          bool en) {
    std::string old = ConvertUploadText(before, en);
    bool keepsOld = after.compare(0, old.size(), old) == 0;
    return SplitLines(keepsOld ? after.substr(old.size()) : after);
}

}  // namespace vudaduv::cli
