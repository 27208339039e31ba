#include "lines.h"

#include "charset.h"
#include "vudaduv_codec.h"
#include "os.h"

namespace vudaduv::cli {

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

bool ReadInputBytes(const std::string& path, std::string& bytes, std::string& error) {
    return os::ReadAllBytes(path == "-" ? std::string() : path, bytes, error);
}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r\v\f") == std::string::npos;
}

}  // namespace

bool SkipByteOrderMark(std::string_view& text) {
    if (text.substr(0, kByteOrderMark.size()) != kByteOrderMark) return false;
    text.remove_prefix(kByteOrderMark.size());
    return true;
}

DataLines SplitDataLines(const std::string& source, const std::string& bytes) {
    DataLines data;
    data.source = source;
    std::string_view text(bytes);
    if (SkipByteOrderMark(text)) data.notes.push_back(source + ":1: UTF-8 byte-order mark skipped");
    std::vector<std::string> lines = SplitLines(std::string(text));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsBlank(lines[i])) {
            data.notes.push_back(source + ":" + std::to_string(i + 1) + ": blank line skipped");
            continue;
        }
        data.lines.push_back(std::move(lines[i]));
        data.numbers.push_back(i + 1);
    }
    return data;
}

std::string LinePlace(const DataLines& data, std::size_t i) {
    return data.source + ":" + std::to_string(data.numbers[i]);
}

bool LinesToGbk(const std::string& charset, DataLines& data, std::string& error) {
    if (charset.empty()) return true;
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        std::string gbk;
        if (!ConvertToGbk(charset, data.lines[i], gbk)) {
            error = LinePlace(data, i) + ": not " + charset + " text that GBK can hold";
            return false;
        }
        data.lines[i] = std::move(gbk);
    }
    return true;
}

std::string LineToSend(uint32_t recordType, const std::string& line) {
    return RecordTypeOf(recordType).build != nullptr ? line : line + "\r\n";
}

std::string ShowText(const std::string& charset, const std::string& gbk) {
    return charset.empty() ? gbk : ConvertFromGbk(charset, gbk);
}

}  // namespace vudaduv::cli
