// Data lines in, upload lines out: reading input, the user's character set, "Rec.txt".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vudaduv::cli {

// The lines of text, split at LF with a CR before it removed; no line for the end of the text.
std::vector<std::string> SplitLines(const std::string& text);

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
};

// Splits the bytes into data lines: a UTF-8 byte-order mark at the start and blank lines (empty
// or white space only) are no data and are skipped with a note.
DataLines SplitDataLines(const std::string& source, const std::string& bytes);

// "SOURCE:LINE" of the i-th data line.
std::string LinePlace(const DataLines& data, std::size_t i);

// Converts every line from charset to GBK in place (nothing when charset is empty). False with a
// message naming the first line that cannot be converted.
bool LinesToGbk(const std::string& charset, DataLines& data, std::string& error);

// The line handed to the library: a record type without a builder sends its data line as the
// command line, so it gets the CR LF that every command line ends with.
std::string LineToSend(uint32_t recordType, const std::string& line);
// A GBK text as the user's charset shows it (unchanged when charset is empty).
std::string ShowText(const std::string& charset, const std::string& gbk);

}  // namespace vudaduv::cli
