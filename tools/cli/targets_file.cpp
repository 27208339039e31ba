#include "targets_file.h"

#include <cctype>
#include <map>
#include <string_view>

#include "lines.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

namespace {

constexpr const char* kWhiteSpace = " \t\r\v\f";

// The address on a line of the file: before any "#", without the white space around it; ""
// when the line holds none.
std::string AddressOnLine(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(kWhiteSpace) + 1 - first);
}

// The scale an address names: its host in lower case and its port.
std::string ScaleKey(const transport::TargetAddress& address) {
    std::string key;
    for (char c : address.host) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key + " " + std::to_string(address.port);
}

}  // namespace

bool ParseScaleAddress(const std::string& text, transport::TargetAddress& address,
                       std::string& error) {
    if (transport::ParseTargetAddress(text, transport::SendSettings{}.defaultPort, address)) {
        return true;
    }
    error = "bad address '" + text + "' (host, host:port or [v6addr]:port)";
    return false;
}

bool AddTargetsFile(const std::string& source, const std::string& bytes, TargetList& list,
                    std::string& error) {
    std::map<std::string, std::size_t> listed;  // the place in the list of each scale
    for (std::size_t i = 0; i < list.addresses.size(); ++i) {
        transport::TargetAddress address;
        if (!ParseScaleAddress(list.addresses[i], address, error)) return false;
        listed.emplace(ScaleKey(address), i);
    }
    std::string_view text(bytes);
    SkipByteOrderMark(text);  // an editor's mark, no part of the first address
    std::vector<std::string> lines = SplitLines(std::string(text));
    std::size_t added = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string target = AddressOnLine(lines[i]);
        if (target.empty()) continue;
        std::string place = source + ":" + std::to_string(i + 1);
        transport::TargetAddress address;
        if (!ParseScaleAddress(target, address, error)) {
            error = place + ": " + error;
            return false;
        }
        ++added;
        auto [earlier, isNew] = listed.emplace(ScaleKey(address), list.addresses.size());
        if (!isNew) {
            list.notes.push_back(place + ": '" + target + "' is the scale of '" +
                                 list.addresses[earlier->second] + "' again: sent to once");
            continue;
        }
        list.addresses.push_back(target);
    }
    if (added == 0) error = source + ": no scale address in it";
    return added != 0;
}

}  // namespace vudaduv::cli
