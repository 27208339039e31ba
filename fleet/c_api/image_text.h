// Image texts in and out of a session, and the rows that tell images.
#pragma once

#include <string>

#include "session.h"

namespace vudaduv::fleet::c_api {

// Reads an image text of the session's encoding; false with the code and the last error set.
int32_t ImageIn(Session& session, const char* text, const char* source, Image& image);

}  // namespace vudaduv::fleet::c_api
