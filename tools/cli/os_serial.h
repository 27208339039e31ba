// The system half of opening a serial line (os.h): os_serial.cpp checks the speed the same way
// everywhere, then os_posix.cpp or os_windows.cpp opens the device.
#pragma once

#include <cstdint>
#include <string>

namespace vudaduv::cli::os {

// Opens device raw at baud, a speed SerialSpeedKnown accepts.
bool OpenSerialLineAtKnownSpeed(const std::string& device, uint32_t baud, uint32_t& link,
                                std::string& error);

}  // namespace vudaduv::cli::os
