// The TCP transport's reading of its target record: the first input byte says how many settings
// values follow (four bytes each), the rest is one address. A value of 0 or a missing one keeps
// the default, any other is taken; an address that parses has a host and a port, and written
// back with its port it parses to the same host and port; or it is a serial line with a device
// and a speed the line supports, and written back with its speed it reads the same.
#include <string>
#include <vector>

#include "c_entry/send_settings.h"
#include "fuzz_driver.h"
#include "vudaduv_transport.h"

using vudaduv::transport::ParseTargetAddress;
using vudaduv::transport::ReadSendSettings;
using vudaduv::transport::SendSettings;
using vudaduv::transport::TargetAddress;

namespace {

template <typename Field>
bool TakenOrDefault(Field field, Field fallback, const std::vector<uint32_t>& values,
                    std::size_t index) {
    uint32_t value = index < values.size() ? values[index] : 0;
    return field == (value == 0 ? fallback : Field{value});
}

SendSettings CheckedSettings(const std::vector<uint32_t>& values) {
    WQValueList list{values.data(), static_cast<uint32_t>(values.size())};
    SendSettings settings = ReadSendSettings(list);
    SendSettings defaults = ReadSendSettings(WQValueList{nullptr, 0});
    FuzzCheck(
        TakenOrDefault(settings.replyTimeoutMs, defaults.replyTimeoutMs, values,
                       WQDS_VALUE_REPLY_TIMEOUT) &&
            TakenOrDefault(settings.connectTimeoutMs, defaults.connectTimeoutMs, values,
                           WQDS_VALUE_CONNECT_TIMEOUT) &&
            TakenOrDefault(settings.defaultPort, defaults.defaultPort, values, WQDS_VALUE_PORT) &&
            TakenOrDefault(settings.longestReply, defaults.longestReply, values,
                           WQDS_VALUE_LONGEST_REPLY),
        "a setting of 0 or none keeps the default, any other value is taken");
    uint32_t retries = values.size() > WQDS_VALUE_RETRIES ? values[WQDS_VALUE_RETRIES] : 0;
    FuzzCheck(retries == 0
                  ? settings.tries == defaults.tries
                  : settings.tries == (retries == WQDS_NO_RETRIES ? 1 : uint64_t{retries} + 1),
              "tries are the retries and the first try; 0xFFFFFFFF means one try");
    return settings;
}

// The address written back with its port, in brackets when the host holds a colon.
std::string WithPort(const TargetAddress& address) {
    bool colon = address.host.find(':') != std::string::npos;
    std::string host = colon ? "[" + address.host + "]" : address.host;
    return host + ":" + std::to_string(address.port);
}

void CheckSerialLine(const std::string& text, const TargetAddress& address) {
    FuzzCheck(address.host.empty() && address.port == 0, "a serial line has no host or port");
    FuzzCheck(text.compare(0, 7, "serial:") == 0 &&
                  text.compare(7, address.device.size(), address.device) == 0,
              "the device is taken from the text, after serial:");
    FuzzCheck(vudaduv::transport::SerialBaudSupported(address.baud),
              "a serial line's speed is one the line supports");
    TargetAddress again;
    FuzzCheck(ParseTargetAddress("serial:" + address.device + "@" + std::to_string(address.baud), 0,
                                 again) &&
                  again.device == address.device && again.baud == address.baud,
              "a serial line written back with its speed reads the same");
}

void CheckAddress(const std::string& text, uint32_t defaultPort) {
    TargetAddress address;
    if (!ParseTargetAddress(text, defaultPort, address)) return;
    if (vudaduv::transport::IsSerialLine(address)) {
        CheckSerialLine(text, address);
        return;
    }
    FuzzCheck(!address.host.empty() && address.port >= 1, "an address has a host and a port");
    FuzzCheck(text.find(address.host) != std::string::npos, "the host is taken from the text");
    if (address.host.find_first_of("[]") != std::string::npos) return;
    TargetAddress again;
    FuzzCheck(ParseTargetAddress(WithPort(address), 0, again) && again.host == address.host &&
                  again.port == address.port,
              "an address written back with its port reads the same");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    std::vector<uint32_t> values(input.Byte() % 8);
    for (uint32_t& value : values) {
        for (int i = 0; i < 4; ++i) value = value << 8 | input.Byte();
    }
    SendSettings settings = CheckedSettings(values);
    CheckAddress(std::string(input.Rest()), settings.defaultPort);
    return 0;
}
