// Where both transports leave the scale's replies: appended to "Rec.txt" in the current
// directory, one reply a line, for the library's upload rewrite to read.
#pragma once

#include <string>
#include <vector>

namespace vudaduv::transport {

// Appends every reply, each followed by CR LF, in one write; creates the file when missing and
// keeps what it held. False when the file cannot be appended to.
bool AppendRepliesToUploadFile(const std::vector<std::string>& replies);

}  // namespace vudaduv::transport
