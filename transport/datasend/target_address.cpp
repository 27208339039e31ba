// Scale addresses as the application writes them.
#include <algorithm>
#include <string>

#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kHighestPort = 65535;

bool ValidPort(std::uint32_t port) {
    return port >= 1 && port <= kHighestPort;
}

bool ParsePort(const std::string& digits, std::uint16_t& port) {
    if (digits.empty() || digits.size() > 5) return false;
    std::uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (!ValidPort(value)) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool UseDefaultPort(std::uint32_t defaultPort, std::uint16_t& port) {
    if (!ValidPort(defaultPort)) return false;
    port = static_cast<std::uint16_t>(defaultPort);
    return true;
}

// "[v6addr]" or "[v6addr]:port".
bool ParseBracketedAddress(const std::string& text, std::uint32_t defaultPort,
                           TargetAddress& address) {
    std::size_t close = text.find(']');
    if (close == std::string::npos || close < 2) return false;
    address.host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (rest.empty()) return UseDefaultPort(defaultPort, address.port);
    return rest[0] == ':' && ParsePort(rest.substr(1), address.port);
}

}  // namespace

bool ParseTargetAddress(const std::string& text, std::uint32_t defaultPort,
                        TargetAddress& address) {
    if (text.empty()) return false;
    if (text[0] == '[') return ParseBracketedAddress(text, defaultPort, address);
    std::size_t colons = static_cast<std::size_t>(std::count(text.begin(), text.end(), ':'));
    if (colons != 1) {
        address.host = text;
        return UseDefaultPort(defaultPort, address.port);
    }
    std::size_t colon = text.find(':');
    if (colon == 0) return false;
    address.host = text.substr(0, colon);
    return ParsePort(text.substr(colon + 1), address.port);
}

}  // namespace vudaduv::transport
