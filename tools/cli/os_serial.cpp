// The serial speeds the tool offers: the transport's, the same on every system.
#include "os_serial.h"

#include "os.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli::os {

bool SerialSpeedKnown(uint32_t baud) {
    return transport::SerialBaudSupported(baud);
}

bool OpenSerialLine(const std::string& device, uint32_t baud, uint32_t& link, std::string& error) {
    if (!SerialSpeedKnown(baud)) {
        error = "unsupported speed " + std::to_string(baud);
        return false;
    }
    return OpenSerialLineAtKnownSpeed(device, baud, link, error);
}

}  // namespace vudaduv::cli::os
