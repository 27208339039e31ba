// The tool's reading of data lines: the first input byte chooses the user's character set, the
// rest is the input file. Lines are the pieces between LFs, each without a CR at its end; a line
// converted to GBK holds no LF and shows as it was read.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_driver.h"
#include "lines.h"

namespace {

const char* const kCharsets[] = {"", "UTF-8", "GB18030", "GBK"};

void CheckSplit(std::string_view text, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::size_t lineFeed = text.find('\n');
        std::string_view piece = text.substr(0, lineFeed);
        FuzzCheck(piece == line || (piece.size() == line.size() + 1 && piece.back() == '\r' &&
                                    piece.compare(0, line.size(), line) == 0),
                  "a line is the text up to the next LF, without a CR at its end");
        text.remove_prefix(lineFeed == std::string_view::npos ? text.size() : lineFeed + 1);
    }
    FuzzCheck(text.empty(), "every byte of the text is in a line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::string charset = kCharsets[input.Byte() % 4];
    std::string text(input.Rest());

    std::vector<std::string> lines = vudaduv::cli::SplitLines(text);
    CheckSplit(text, lines);

    std::vector<std::string> gbk = lines;
    std::string error;
    if (!vudaduv::cli::LinesToGbk(charset, gbk, error)) {
        FuzzCheck(!error.empty(), "a line that cannot be converted is named");
        return 0;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FuzzCheck(gbk[i].find('\n') == std::string::npos, "a converted line holds no LF");
        FuzzCheck(vudaduv::cli::ShowText(charset, gbk[i]) == lines[i],
                  "a converted line shows as it was read");
    }
    return 0;
}
