#include "lines.h"

#include <cctype>
#include <cstdio>

#include "charset.h"
#include "os.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

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
    data.lastLineCut = source != "-" && model::EndsWithoutLineEnd(text);
    return data;
}

std::vector<model::Finding> UnsendableLines(const DataLines& data) {
    std::vector<model::Finding> unsendable(data.lines.size());
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        if (i < data.unconvertible.size() && !data.unconvertible[i].empty()) {
            unsendable[i] = {"line", data.unconvertible[i]};
        }
    }
    if (data.lastLineCut && !unsendable.empty()) unsendable.back() = model::CutLastLineFinding();
    return unsendable;
}

std::string LinePlace(const DataLines& data, std::size_t i) {
    return data.source + ":" + std::to_string(data.numbers[i]);
}

namespace {

// The longest character of any character set the tool converts from, in bytes.
constexpr std::size_t kLongestCharacter = 8;

std::string HexBytes(std::string_view bytes) {
    const char* hex = "0123456789ABCDEF";
    std::string shown;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        shown += std::string("\\x") + hex[byte >> 4] + hex[byte & 15];
    }
    return shown;
}

// "U+1F34E" of a character given as UTF-8; "" when it is not one whole character.
std::string CodePointOf(std::string_view utf8) {
    if (utf8.empty()) return "";
    auto lead = static_cast<unsigned char>(utf8[0]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    if (length == 0 || length != utf8.size()) return "";
    uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3Fu);
    }
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
    return text;
}

bool IsUnicodeName(const std::string& charset) {
    std::string upper;
    for (char c : charset) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.compare(0, 3, "UTF") == 0 || upper == "GB18030";
}

}  // namespace

std::string WhyNotGbk(const std::string& charset, std::string_view text) {
    std::string converted;
    if (ConvertToGbk(charset, text, converted)) return "";
    std::size_t at = 0;
    while (at < text.size()) {
        // The character at "at": the fewest bytes that make a whole one.
        std::size_t length = 0;
        std::string utf8;
        for (std::size_t n = 1; n <= kLongestCharacter && at + n <= text.size(); ++n) {
            if (ConvertToUtf8(charset, text.substr(at, n), utf8)) {
                length = n;
                break;
            }
        }
        std::string column = " at byte " + std::to_string(at + 1);
        if (length == 0) {
            return "not " + charset + " text: the byte " + HexBytes(text.substr(at, 1)) + column +
                   " (text in GBK wants --charset GBK)";
        }
        std::string_view character = text.substr(at, length);
        if (!ConvertToGbk(charset, character, converted)) {
            std::string code = IsUnicodeName(charset) ? CodePointOf(utf8) : "";
            return "\"" + std::string(character) + "\"" + (code.empty() ? "" : " (" + code + ")") +
                   column + " is a character that GBK lacks: it cannot be sent";
        }
        at += length;
    }
    return "not " + charset + " text that GBK can hold";
}

bool LinesToGbk(const std::string& charset, DataLines& data) {
    data.unconvertible.assign(data.lines.size(), std::string());
    if (charset.empty()) return true;
    bool all = true;
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        std::string gbk;
        if (ConvertToGbk(charset, data.lines[i], gbk)) {
            data.lines[i] = std::move(gbk);
            continue;
        }
        data.unconvertible[i] = WhyNotGbk(charset, data.lines[i]);
        all = false;
    }
    return all;
}

DataLines SendableLinesOnly(const DataLines& data) {
    DataLines kept{data.source, {}, {}, data.notes, {}, false};
    std::vector<model::Finding> unsendable = UnsendableLines(data);
    for (std::size_t i = 0; i < data.lines.size(); ++i) {
        if (!unsendable[i].what.empty()) continue;
        kept.lines.push_back(data.lines[i]);
        kept.numbers.push_back(data.numbers[i]);
        kept.unconvertible.emplace_back();
    }
    return kept;
}

std::string LineToSend(uint32_t recordType, const std::string& line) {
    return RecordTypeOf(recordType).build != nullptr ? line : line + "\r\n";
}

std::string ShowText(const std::string& charset, const std::string& gbk) {
    return charset.empty() ? gbk : ConvertFromGbk(charset, gbk);
}

std::string FirstUnconvertible(const DataLines& data) {
    for (std::size_t i = 0; i < data.unconvertible.size(); ++i) {
        if (!data.unconvertible[i].empty())
            return LinePlace(data, i) + ": " + data.unconvertible[i];
    }
    return "";
}

}  // namespace vudaduv::cli
