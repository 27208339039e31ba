// The upload-file rewrite: reply tokens of the scale into upload lines.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "vudaduv_codec.h"

namespace vudaduv {

// Converts one reply token: appends nothing or one upload line (with CR LF) to output; groups
// carries the label or key-table group in progress from token to token.
void ConvertReplyToken(std::string_view token, std::string& output,
                       std::vector<std::string>& groups, bool en);

// Reads "Rec.txt" of the current directory, converts it and creates it anew with the upload
// lines. Returns false only when there were upload lines and the file could not be written.
bool RewriteUploadFile(bool en);

// The reply decoders: each changes its token in place into an upload line, or empties it.
void DecodeItemReply(std::string& token, bool en);
void DecodeMessageReply(std::string& token, bool en);
void DecodeType7Reply(std::string& token);

}  // namespace vudaduv
