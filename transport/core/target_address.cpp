// Scale addresses as the application writes them: every form a scale's or a listener's address
// takes is read here, once, with the reason when it cannot be.
#include <algorithm>
#include <iterator>
#include <string>

#include "asio/ip/address_v6.hpp"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

constexpr std::uint32_t kHighestPort = 65535;

constexpr char kSerialPrefix[] = "serial:";
constexpr std::size_t kSerialPrefixSize = sizeof kSerialPrefix - 1;

// The speeds a serial line is set to on every system, in the order a message lists them.
constexpr std::uint32_t kSerialBauds[] = {1200,  2400,  4800,   9600,  19200,
                                          38400, 57600, 115200, 230400};

bool IsDecimal(const std::string& digits) {
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The ports an address may name: a scale's from 1, a listener's from 0 (a free port).
struct PortRange {
    std::uint32_t lowest;
};

bool ValidPort(std::uint32_t port, PortRange range) {
    return port >= range.lowest && port <= kHighestPort;
}

std::string OutOfRange(const std::string& digits, PortRange range) {
    return "port " + digits + " is out of range (" + std::to_string(range.lowest) + " to " +
           std::to_string(kHighestPort) + ")";
}

// The decimal digits after a colon.
std::string ReadPort(const std::string& digits, PortRange range, std::uint16_t& port) {
    if (digits.empty()) return "no port after the colon";
    if (!IsDecimal(digits)) {
        return "the port " + QuoteAddress(digits) + " is no decimal number";
    }
    if (digits.size() > 5) return OutOfRange(digits, range);
    std::uint32_t value = static_cast<std::uint32_t>(std::stoul(digits));
    if (!ValidPort(value, range)) return OutOfRange(digits, range);
    port = static_cast<std::uint16_t>(value);
    return "";
}

std::string UseDefaultPort(std::uint32_t defaultPort, PortRange range, std::uint16_t& port) {
    if (!ValidPort(defaultPort, range)) return "no port (HOST:PORT)";
    port = static_cast<std::uint16_t>(defaultPort);
    return "";
}

// What every host must be, however it was written: there, without blanks, not a number alone
// ("47001" would be taken as the host 0.0.183.153), and with a colon only as an IPv6 address.
std::string CheckHost(const std::string& host) {
    if (host.empty()) return "no host";
    if (std::any_of(host.begin(), host.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; })) {
        return "a blank or control character in the host";
    }
    if (std::all_of(host.begin(), host.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return "a number alone is no host (HOST:PORT)";
    }
    if (host.find(':') != std::string::npos) {
        asio::error_code notV6;
        asio::ip::make_address_v6(host, notV6);
        if (notV6) return "a host with a colon must be an IPv6 address ([V6]:PORT)";
    }
    return "";
}

// "[v6addr]" or "[v6addr]:port".
std::string ReadBracketedAddress(const std::string& text, std::uint32_t defaultPort,
                                 PortRange range, TargetAddress& address) {
    std::size_t close = text.find(']');
    if (close == std::string::npos) return "no ']' after the IPv6 address";
    address.host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (rest.empty()) return UseDefaultPort(defaultPort, range, address.port);
    if (rest[0] != ':') return "text after ']' that is no ':PORT'";
    return ReadPort(rest.substr(1), range, address.port);
}

std::string SupportedBauds() {
    std::string list;
    std::size_t count = sizeof kSerialBauds / sizeof kSerialBauds[0];
    for (std::size_t i = 0; i < count; ++i) {
        list += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::to_string(kSerialBauds[i]);
    }
    return list;
}

// The digits after a serial device's '@'.
std::string ReadBaud(const std::string& digits, std::uint32_t& baud) {
    if (digits.empty()) return "no speed after the '@' (serial:DEVICE@BAUD)";
    if (!IsDecimal(digits)) return "the speed " + QuoteAddress(digits) + " is no decimal number";
    std::uint32_t value = 0;
    if (digits.size() <= 9) value = static_cast<std::uint32_t>(std::stoul(digits));
    if (!SerialBaudSupported(value)) {
        return "speed " + digits + " is not supported (" + SupportedBauds() + ")";
    }
    baud = value;
    return "";
}

// "serial:" and a device; "serial:4001" stays the host "serial" on port 4001, as no device is a
// number alone.
bool IsSerialForm(const std::string& text) {
    return text.compare(0, kSerialPrefixSize, kSerialPrefix) == 0 &&
           !(text.size() > kSerialPrefixSize && IsDecimal(text.substr(kSerialPrefixSize)));
}

// "DEVICE" or "DEVICE@BAUD", after "serial:". The speed follows the last '@', so a device name
// with an '@' in it can still be given with a speed.
std::string ReadSerialLine(const std::string& text, TargetAddress& address) {
    std::string rest = text.substr(kSerialPrefixSize);
    std::size_t at = rest.rfind('@');
    address.device = rest.substr(0, at);
    address.baud = kDefaultSerialBaud;
    if (address.device.empty()) return "no device (serial:DEVICE[@BAUD])";
    // As in a host: a blank would end the address on a line that names the scale after it.
    if (std::any_of(address.device.begin(), address.device.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; })) {
        return "a blank or control character in the device";
    }
    return at == std::string::npos ? "" : ReadBaud(rest.substr(at + 1), address.baud);
}

// The forms of an address, told apart by their first character and their colons: "[v6addr]" and
// "[v6addr]:port"; "host:port" (one colon); "host", an IPv6 address without brackets among them
// (two colons or more), with the default port; "serial:DEVICE[@BAUD]", a scale on a serial line.
std::string ReadAddress(const std::string& text, std::uint32_t defaultPort, PortRange range,
                        TargetAddress& address) {
    address = TargetAddress{};
    std::string why;
    if (text.empty()) {
        why = "empty";
    } else if (IsSerialForm(text)) {
        why = range.lowest == 0 ? "a serial line is no address to listen on"
                                : ReadSerialLine(text, address);
        if (!why.empty()) address = TargetAddress{};
        return why;
    } else if (text[0] == '[') {
        why = ReadBracketedAddress(text, defaultPort, range, address);
    } else if (std::count(text.begin(), text.end(), ':') != 1) {
        address.host = text;
        why = UseDefaultPort(defaultPort, range, address.port);
    } else {
        std::size_t colon = text.find(':');
        address.host = text.substr(0, colon);
        why = address.host.empty() ? "no host"
                                   : ReadPort(text.substr(colon + 1), range, address.port);
    }
    if (why.empty()) why = CheckHost(address.host);
    if (!why.empty()) address = TargetAddress{};
    return why;
}

}  // namespace

bool SerialBaudSupported(std::uint32_t baud) {
    return std::find(std::begin(kSerialBauds), std::end(kSerialBauds), baud) !=
           std::end(kSerialBauds);
}

std::string ReadTargetAddress(const std::string& text, std::uint32_t defaultPort,
                              TargetAddress& address) {
    return ReadAddress(text, defaultPort, PortRange{1}, address);
}

std::string ReadListenAddress(const std::string& text, std::uint32_t defaultPort,
                              TargetAddress& address) {
    return ReadAddress(text, defaultPort, PortRange{0}, address);
}

bool ParseTargetAddress(const std::string& text, std::uint32_t defaultPort,
                        TargetAddress& address) {
    return ReadTargetAddress(text, defaultPort, address).empty();
}

bool ParseListenAddress(const std::string& text, std::uint32_t defaultPort,
                        TargetAddress& address) {
    return ReadListenAddress(text, defaultPort, address).empty();
}

std::string QuoteAddress(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += {'\\', c};
        } else if (byte < 0x20 || byte == 0x7f) {
            quoted += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace vudaduv::transport
