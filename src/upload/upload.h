// The upload-file rewrite: reply tokens of the scale into upload lines.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vudaduv {

constexpr const char* kUploadFileName = "Rec.txt";

// How the upload lines that the rewrite writes begin: the record type and "P".
constexpr std::array<std::string_view, 6> kUploadLinePrefixes = {"1P", "3P",  "5P",
                                                                 "7P", "10P", "12P"};

// White space between reply tokens on one line of the upload file; CR and LF end the line.
inline bool IsTokenBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Converts one reply token: appends nothing or one upload line (with CR LF) to output; groups
// carries the label or key-table group in progress from token to token.
void ConvertReplyToken(std::string_view token, std::string& output,
                       std::vector<std::string>& groups, bool en);

// The whole rewrite as a pure function: the bytes of a reply file in, the upload text out.
// The file is read line by line (a line ends at CR or LF). A line whose first token begins
// like an upload line passes through whole, without trailing white space; every other line is
// a run of reply tokens separated by white space.
std::string ConvertUploadText(const std::string& fileBytes, bool en);

// Reads "Rec.txt" of the current directory, converts it and creates it anew with the upload
// lines. Returns false only when there were upload lines and the file could not be written.
bool RewriteUploadFile(bool en);

// The reply decoders: each changes its token in place into an upload line, or empties it.
void DecodeItemReply(std::string& token, bool en);
void DecodeMessageReply(std::string& token, bool en);
void DecodeType7Reply(std::string& token);

}  // namespace vudaduv
