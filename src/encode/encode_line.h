// The command encoder's own pieces; what other floors call is in vudaduv_codec.h.
#pragma once

#include <string>

#include "platform/platform.h"
#include "vudaduv_codec.h"

namespace vudaduv {

// The clock command "!0P" YYMMDDhhmm "\r\n" for a given local time.
std::string FormatClockCommand(const platform::LocalTime& time);

}  // namespace vudaduv
