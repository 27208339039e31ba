// Scale addresses as the application writes them.
#pragma once

#include <cstdint>
#include <string>

namespace vudaduv::transport {

struct TargetAddress {
    std::string host;  // a name, an IPv4 address or an IPv6 address without brackets
    std::uint16_t port = 0;
};

// Reads "host", "host:port", "[v6addr]:port" or "[v6addr]"; an IPv6 address without brackets
// (two or more colons) is taken whole. Addresses without a port get defaultPort. False when the
// host is empty or a port is not a decimal number from 1 to 65535.
bool ParseTargetAddress(const std::string& text, std::uint32_t defaultPort, TargetAddress& address);

}  // namespace vudaduv::transport
