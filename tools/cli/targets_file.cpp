#include "targets_file.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <set>
#include <string_view>

#include "lines.h"
#include "os.h"
#include "vudaduv_fleet.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

namespace {

constexpr const char* kWhiteSpace = " \t\r\v\f";

// The address on a line of the file: before any "#", up to white space; "" when the line holds
// none. name is what follows it, without the white space around it.
std::string AddressOnLine(const std::string& line, std::string& name) {
    std::string text = line.substr(0, line.find('#'));
    std::size_t first = text.find_first_not_of(kWhiteSpace);
    name.clear();
    if (first == std::string::npos) return "";
    text = text.substr(first, text.find_last_not_of(kWhiteSpace) + 1 - first);
    std::size_t end = text.find_first_of(kWhiteSpace);
    if (end == std::string::npos) return text;
    name = text.substr(text.find_first_not_of(kWhiteSpace, end));
    return text.substr(0, end);
}

}  // namespace

bool ParseScaleAddress(const std::string& text, transport::TargetAddress& address,
                       std::string& error) {
    std::string why =
        transport::ReadTargetAddress(text, transport::SendSettings{}.defaultPort, address);
    if (why.empty()) return true;
    error = "bad address '" + text + "': " + why;
    return false;
}

bool AddTargetsFile(const std::string& source, const std::string& bytes, TargetList& list,
                    std::string& error) {
    std::string_view text(bytes);
    SkipByteOrderMark(text);  // an editor's mark, no part of the first address
    std::vector<std::string> lines = SplitLines(std::string(text));
    // Every address is read before any is resolved, so that a bad one stops the send at once.
    std::size_t before = list.addresses.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        std::string target = AddressOnLine(lines[i], name);
        if (target.empty()) continue;
        transport::TargetAddress address;
        if (!ParseScaleAddress(target, address, error)) {
            error = source + ":" + std::to_string(i + 1) + ": " + error;
            return false;
        }
        list.addresses.push_back(target);
        list.names.resize(list.addresses.size() - 1);
        list.names.push_back(name);
        list.places.push_back(source + ":" + std::to_string(i + 1) + ": ");
    }
    if (list.addresses.size() == before) {
        error = source + ": no scale address in it";
        return false;
    }
    return true;
}

void KeepEachScaleOnce(TargetList& list) {
    list.places.resize(list.addresses.size(), "--target ");
    list.names.resize(list.addresses.size());
    std::vector<fleet::ScaleOfAddress> scales =
        fleet::IdentifyScales(list.addresses, transport::SendSettings{}.defaultPort);
    std::vector<std::string> kept;
    std::vector<std::string> names;
    std::vector<std::string> places;
    std::vector<fleet::ScaleOfAddress> keptScales;
    for (std::size_t i = 0; i < scales.size(); ++i) {
        if (scales[i].first == i) {
            keptScales.push_back(fleet::ScaleOfAddress{kept.size(), ""});
            kept.push_back(list.addresses[i]);
            names.push_back(list.names[i]);
            places.push_back(list.places[i]);
            continue;
        }
        list.notes.push_back(list.places[i] + fleet::SameScaleNote(list.addresses[i],
                                                                   list.addresses[scales[i].first],
                                                                   scales[i]));
    }
    list.addresses = std::move(kept);
    list.names = std::move(names);
    list.places = std::move(places);
    list.scales = std::move(keptScales);
}

namespace {

constexpr uint64_t kLongestTimeout = 600000;  // ten minutes: a scale that takes longer is gone
constexpr uint64_t kMostRetries = 1000;

}  // namespace

bool ReadTransportSettings(const ParsedArgs& parsed, transport::SendSettings& settings,
                           std::string& error) {
    uint64_t timeout = 0;
    uint64_t retries = 0;
    if (!ReadUnsignedOption(parsed, kTimeoutOption.name, 1, kLongestTimeout, timeout, error) ||
        !ReadUnsignedOption(parsed, kRetriesOption.name, kMostRetries, retries, error)) {
        return false;
    }
    settings = transport::SendSettings{};
    if (parsed.Has(kTimeoutOption.name)) {
        settings.replyTimeoutMs = static_cast<uint32_t>(timeout);
        settings.connectTimeoutMs = static_cast<uint32_t>(timeout);
    }
    if (parsed.Has(kRetriesOption.name)) settings.tries = retries + 1;
    return true;
}

int LoadTargetList(const std::string& command, const ParsedArgs& parsed, TargetList& list) {
    std::string error;
    list = TargetList{parsed.Values(kTargetOption.name), {}, {}, {}, {}};
    for (const std::string& target : list.addresses) {
        transport::TargetAddress address;
        if (!ParseScaleAddress(target, address, error)) return UsageError(command, error);
        list.places.push_back("--target ");
    }
    if (parsed.Has(kTargetsFileOption.name)) {
        std::string path = parsed.Value(kTargetsFileOption.name);
        std::string bytes;
        if (path.empty()) return UsageError(command, "--targets-file wants a file name");
        if (!os::ReadAllBytes(path, bytes, error)) {
            return UnreadableFile(command, path + ": " + error);
        }
        if (!AddTargetsFile(path, bytes, list, error)) return UsageError(command, error);
    }
    KeepEachScaleOnce(list);
    for (const std::string& note : list.notes) {
        std::fprintf(stderr, "vudaduv %s: %s\n", command.c_str(), note.c_str());
    }
    return kExitOk;
}

}  // namespace vudaduv::cli
