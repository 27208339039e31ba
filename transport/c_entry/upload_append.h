// The upload file "Rec.txt", where the two C entry points leave the scales' replies.
#pragma once

#include <string>
#include <vector>

#include "vudaduv_transport.h"

namespace vudaduv::transport {

// Appends every reply, each followed by CR LF, to "Rec.txt" in the current directory in one
// write (a CR LF first when the file's last line is open); creates the file when missing and keeps
// what it held. All or nothing: when not every byte can be written, the file is cut back to what
// it held before and the result is false, as it is when the file cannot be appended to at all.
// Calls that overlap in one directory each append whole. Throws std::bad_alloc when memory runs
// out.
bool AppendRepliesToUploadFile(const std::vector<std::string>& replies);

// The same for the replies of every scale of a send, scale after scale in their order.
bool AppendRepliesToUploadFile(const std::vector<ScaleResult>& outcomes);

}  // namespace vudaduv::transport
