// Scale addresses as the application writes them.
#include <algorithm>
#include <string>

#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kHighestPort = 65535;

// The ports an address may name: a scale's from 1, a listener's from 0 (a free port).
struct PortRange {
    std::uint32_t lowest;
};

bool ValidPort(std::uint32_t port, PortRange range) {
    return port >= range.lowest && port <= kHighestPort;
}

bool ParsePort(const std::string& digits, PortRange range, std::uint16_t& port) {
    if (digits.empty() || digits.size() > 5) return false;
    std::uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (!ValidPort(value, range)) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool UseDefaultPort(std::uint32_t defaultPort, PortRange range, std::uint16_t& port) {
    if (!ValidPort(defaultPort, range)) return false;
    port = static_cast<std::uint16_t>(defaultPort);
    return true;
}

// "[v6addr]" or "[v6addr]:port".
bool ParseBracketedAddress(const std::string& text, std::uint32_t defaultPort, PortRange range,
                           TargetAddress& address) {
    std::size_t close = text.find(']');
    if (close == std::string::npos || close < 2) return false;
    address.host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (rest.empty()) return UseDefaultPort(defaultPort, range, address.port);
    return rest[0] == ':' && ParsePort(rest.substr(1), range, address.port);
}

bool ParseAddress(const std::string& text, std::uint32_t defaultPort, PortRange range,
                  TargetAddress& address) {
    if (text.empty()) return false;
    if (text[0] == '[') return ParseBracketedAddress(text, defaultPort, range, address);
    std::size_t colons = static_cast<std::size_t>(std::count(text.begin(), text.end(), ':'));
    if (colons != 1) {
        address.host = text;
        return UseDefaultPort(defaultPort, range, address.port);
    }
    std::size_t colon = text.find(':');
    if (colon == 0) return false;
    address.host = text.substr(0, colon);
    return ParsePort(text.substr(colon + 1), range, address.port);
}

}  // namespace

bool ParseTargetAddress(const std::string& text, std::uint32_t defaultPort,
                        TargetAddress& address) {
    return ParseAddress(text, defaultPort, PortRange{1}, address);
}

bool ParseListenAddress(const std::string& text, std::uint32_t defaultPort,
                        TargetAddress& address) {
    return ParseAddress(text, defaultPort, PortRange{0}, address);
}

}  // namespace vudaduv::transport
