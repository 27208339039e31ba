// Windows has no pseudo-terminals: the scale serves TCP only there, and says so when asked for
// a serial line.
#include "scale_platform.h"

namespace vudaduv::scale::platform {

namespace {

const char* const kNoPseudoTerminals =
    "pseudo-terminals are not available on Windows; the virtual scale serves TCP only there";

}  // namespace

std::unique_ptr<PseudoTerminal> OpenPseudoTerminal(std::string& error) {
    error = kNoPseudoTerminals;
    return nullptr;
}

std::unique_ptr<Stream> OpenSerialDevice(const std::string& path, std::string& error) {
    error = "cannot open " + path + ": " + kNoPseudoTerminals;
    return nullptr;
}

}  // namespace vudaduv::scale::platform
