// Data lines in, upload lines out: reading input, the user's character set, "Rec.txt".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vudaduv::cli {

// Record types 8, 9 and 13 take no data line.
bool RecordTypeReadsDataLines(uint32_t recordType);

// The lines of text, split at LF with a CR before it removed; no line for the end of the text.
std::vector<std::string> SplitLines(const std::string& text);

// The bytes of a file, or of standard input when path is empty or "-".
bool ReadInputBytes(const std::string& path, std::string& bytes);

// The data lines of a file, or of standard input when path is empty or "-". False when the
// file cannot be read.
bool ReadDataLines(const std::string& path, std::vector<std::string>& lines);

// Converts every line from charset to GBK in place (nothing when charset is empty). False with a
// message naming the first line that cannot be converted.
bool LinesToGbk(const std::string& charset, std::vector<std::string>& lines, std::string& error);
// A GBK text as the user's charset shows it (unchanged when charset is empty).
std::string ShowText(const std::string& charset, const std::string& gbk);

// The upload file's bytes, or "" when it does not exist.
std::string ReadUploadFile();
// The upload lines that a send added: the old content of "Rec.txt" is rewritten by the send
// before the new lines are appended, so what follows the rewritten old content is new; a file
// that does not start with it is new as a whole.
std::vector<std::string> AddedUploadLines(const std::string& before, const std::string& after,
                                          bool en);

}  // namespace vudaduv::cli
