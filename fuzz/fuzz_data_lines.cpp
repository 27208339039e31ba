// The tool's reading of data lines: the first input byte chooses the user's character set, the
// rest is the input file. A data line is the text between two LFs (after a UTF-8 byte-order mark),
// without a CR at its end, under its line number there; only blank lines are left out. A line
// converted to GBK holds no LF and shows as it was read; one that cannot be converted is kept as
// read, with its reason.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_driver.h"
#include "lines.h"

namespace {

const char* const kCharsets[] = {"", "UTF-8", "GB18030", "GBK"};
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool Blank(std::string_view line) {
    return line.find_first_not_of(" \t\r\v\f") == std::string_view::npos;
}

void CheckSplit(std::string_view text, const vudaduv::cli::DataLines& data) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    FuzzCheck(data.lines.size() == data.numbers.size(), "every data line has its number");
    std::size_t next = 0;
    for (std::size_t number = 1; !text.empty(); ++number) {
        std::size_t lineFeed = text.find('\n');
        std::string_view piece = text.substr(0, lineFeed);
        text.remove_prefix(lineFeed == std::string_view::npos ? text.size() : lineFeed + 1);
        if (next < data.numbers.size() && data.numbers[next] == number) {
            const std::string& line = data.lines[next++];
            FuzzCheck(piece == line || (piece.size() == line.size() + 1 && piece.back() == '\r' &&
                                        piece.compare(0, line.size(), line) == 0),
                      "a data line is its line of the text, without a CR at its end");
        } else {
            FuzzCheck(Blank(piece), "only blank lines are left out");
        }
    }
    FuzzCheck(next == data.lines.size(), "every data line comes from a line of the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::string charset = kCharsets[input.Byte() % 4];
    std::string text(input.Rest());

    vudaduv::cli::DataLines read = vudaduv::cli::SplitDataLines("-", text);
    CheckSplit(text, read);

    vudaduv::cli::DataLines gbk = read;
    vudaduv::cli::LinesToGbk(charset, gbk);
    FuzzCheck(gbk.unconvertible.size() == read.lines.size(), "every line has its conversion");
    for (std::size_t i = 0; i < read.lines.size(); ++i) {
        if (!gbk.unconvertible[i].empty()) {
            FuzzCheck(gbk.lines[i] == read.lines[i], "a line that cannot be converted is kept");
            continue;
        }
        FuzzCheck(gbk.lines[i].find('\n') == std::string::npos, "a converted line holds no LF");
        FuzzCheck(vudaduv::cli::ShowText(charset, gbk.lines[i]) == read.lines[i],
                  "a converted line shows as it was read");
    }
    return 0;
}
