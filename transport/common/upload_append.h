// Where both transports leave the scale's replies: appended to "Rec.txt" in the current
// directory, one reply a line, for the library's upload rewrite to read.
#pragma once

#include <string>
#include <vector>

namespace vudaduv::transport {

// Appends every reply, each followed by CR LF, in one write; creates the file when missing and
// keeps what it held. All or nothing: when not every byte can be written (a full disk), the
// file is cut back to what it held before and the result is false, as it is when the file
// cannot be appended to at all.
bool AppendRepliesToUploadFile(const std::vector<std::string>& replies);

}  // namespace vudaduv::transport
