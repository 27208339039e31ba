// The user's character set and GBK, as the fleet library converts them.
#pragma once

#include "vudaduv_charset.h"

namespace vudaduv::cli {

using charset::CharsetKnown;
using charset::ConvertFromGbk;
using charset::ConvertToGbk;
using charset::ConvertToUtf8;

}  // namespace vudaduv::cli
