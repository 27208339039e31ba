// The serial speeds the tool offers, the same on every system.
#include "os_serial.h"

#include <algorithm>
#include <iterator>

#include "os.h"

namespace vudaduv::cli::os {

namespace {

constexpr uint32_t kSerialSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

}  // namespace

bool SerialSpeedKnown(uint32_t baud) {
    return std::find(std::begin(kSerialSpeeds), std::end(kSerialSpeeds), baud) !=
           std::end(kSerialSpeeds);
}

bool OpenSerialLine(const std::string& device, uint32_t baud, uint32_t& link, std::string& error) {
    if (!SerialSpeedKnown(baud)) {
        error = "unsupported speed " + std::to_string(baud);
        return false;
    }
    return OpenSerialLineAtKnownSpeed(device, baud, link, error);
}

}  // namespace vudaduv::cli::os
