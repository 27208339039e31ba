// Data lines in, upload lines out: reading input, the user's character set, "Rec.txt".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vudaduv_model.h"

namespace vudaduv::cli {

// The lines of text, split at LF with a CR before it removed; no line for the end of the text.
// The model's rule, the one the check foresees upload lines by.
using model::SplitLines;

// The bytes of a file, or of standard input when path is empty or "-"; false with the system's
// reason when it cannot be read.
bool ReadInputBytes(const std::string& path, std::string& bytes, std::string& error);

// Takes a UTF-8 byte-order mark off the start of the text; true when there was one.
bool SkipByteOrderMark(std::string_view& text);

// The data lines of a file or of standard input, with their line numbers there.
struct DataLines {
    std::string source;  // the file's name, "-" for standard input
    std::vector<std::string> lines;
    std::vector<std::size_t> numbers;
    std::vector<std::string> notes;  // what was skipped, as "SOURCE:LINE: ..." messages
    // Why each line could not be converted to GBK ("" for a line that was): such a line keeps
    // the bytes it was read with and must not be sent.
    std::vector<std::string> unconvertible;
    // The last line of a file that has no line end: the file may have been cut while it was
    // written, so the line is a finding and is never sent.
    bool lastLineCut = false;
};

// Splits the bytes into data lines: a UTF-8 byte-order mark at the start and blank lines (empty
// or white space only) are no data and are skipped with a note. A file's last data line without
// a line end is marked cut (model::EndsWithoutLineEnd); standard input ("-") is not a file that
// is cut while it is written, and its last line may go without one.
DataLines SplitDataLines(const std::string& source, const std::string& bytes);

// The lines that cannot be sent at all, as the check's findings (an empty one for a line that
// can): one with no GBK form ("line": why, in the user's character set), a file's cut last line.
std::vector<model::Finding> UnsendableLines(const DataLines& data);

// "SOURCE:LINE" of the i-th data line.
std::string LinePlace(const DataLines& data, std::size_t i);

// Converts every line from charset to GBK in place (nothing when charset is empty); a line that
// cannot be converted is left as it was, with the reason in data.unconvertible. False when some
// line could not be converted.
bool LinesToGbk(const std::string& charset, DataLines& data);

// "SOURCE:LINE: why" of the first line that could not be converted; "" when there is none.
std::string FirstUnconvertible(const DataLines& data);

// Why text cannot be converted from charset to GBK: the first character that GBK lacks, named
// with its code point when the charset is a Unicode one, or the first bytes not valid in
// charset, with a hint at --charset GBK. "" when it converts.
std::string WhyNotGbk(const std::string& charset, std::string_view text);

// The data lines that can be sent, with their numbers: those converted, and not a cut last line.
DataLines SendableLinesOnly(const DataLines& data);

// The line handed to the library: a record type without a builder sends its data line as the
// command line, so it gets the CR LF that every command line ends with.
std::string LineToSend(uint32_t recordType, const std::string& line);
// A GBK text as the user's charset shows it (unchanged when charset is empty).
std::string ShowText(const std::string& charset, const std::string& gbk);

}  // namespace vudaduv::cli
