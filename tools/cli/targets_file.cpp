#include "targets_file.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <set>
#include <string_view>

#include "asio/io_context.hpp"
#include "asio/ip/address.hpp"
#include "asio/ip/tcp.hpp"
#include "lines.h"
#include "os.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

namespace {

constexpr const char* kWhiteSpace = " \t\r\v\f";

// "127.0.0.1:4001", "[::1]:4001".
std::string ShowEndpoint(const asio::ip::address& address, uint16_t port) {
    std::string host = address.to_string();
    return (address.is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// The address on a line of the file: before any "#", without the white space around it; ""
// when the line holds none.
std::string AddressOnLine(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(kWhiteSpace) + 1 - first);
}

// A scale as the addresses that name it: its host in lower case and its port, and the
// addresses and ports it resolves to ("" when its name does not resolve now: the send says so).
struct ScaleIdentity {
    std::string name;
    std::set<std::string> endpoints;
};

ScaleIdentity IdentityOf(const transport::TargetAddress& address) {
    ScaleIdentity identity;
    for (char c : address.host) {
        identity.name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    identity.name += " " + std::to_string(address.port);
    asio::error_code notNumeric;
    asio::ip::address numeric = asio::ip::make_address(address.host, notNumeric);
    if (!notNumeric) {
        identity.endpoints.insert(ShowEndpoint(numeric, address.port));
        return identity;
    }
    asio::io_context context;
    asio::ip::tcp::resolver resolver(context);
    asio::error_code unresolved;
    auto results = resolver.resolve(address.host, std::to_string(address.port),
                                    asio::ip::tcp::resolver::numeric_service, unresolved);
    if (unresolved) return identity;
    for (const auto& entry : results) {
        identity.endpoints.insert(ShowEndpoint(entry.endpoint().address(), address.port));
    }
    return identity;
}

// The endpoint two identities share, or "" (also for the same name when neither resolves).
std::optional<std::string> SameScale(const ScaleIdentity& one, const ScaleIdentity& other) {
    for (const std::string& endpoint : one.endpoints) {
        if (other.endpoints.count(endpoint) != 0) return endpoint;
    }
    if (one.name == other.name) return std::string();
    return std::nullopt;
}

}  // namespace

bool ParseScaleAddress(const std::string& text, transport::TargetAddress& address,
                       std::string& error) {
    // A host with a colon is an IPv6 address, and nothing else: "bad:addr:x" is no name.
    asio::error_code notV6;
    if (transport::ParseTargetAddress(text, transport::SendSettings{}.defaultPort, address) &&
        (address.host.find(':') == std::string::npos ||
         (asio::ip::make_address_v6(address.host, notV6), !notV6))) {
        return true;
    }
    error = "bad address '" + text + "' (host, host:port or [v6addr]:port)";
    return false;
}

bool AddTargetsFile(const std::string& source, const std::string& bytes, TargetList& list,
                    std::string& error) {
    std::vector<ScaleIdentity> listed;  // of each address in the list, in its order
    for (const std::string& target : list.addresses) {
        transport::TargetAddress address;
        if (!ParseScaleAddress(target, address, error)) return false;
        listed.push_back(IdentityOf(address));
    }
    std::string_view text(bytes);
    SkipByteOrderMark(text);  // an editor's mark, no part of the first address
    std::vector<std::string> lines = SplitLines(std::string(text));
    // Every address is read before any is resolved, so that a bad one stops the send at once.
    std::vector<std::pair<std::size_t, transport::TargetAddress>> found;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string target = AddressOnLine(lines[i]);
        if (target.empty()) continue;
        transport::TargetAddress address;
        if (!ParseScaleAddress(target, address, error)) {
            error = source + ":" + std::to_string(i + 1) + ": " + error;
            return false;
        }
        found.emplace_back(i, address);
    }
    if (found.empty()) {
        error = source + ": no scale address in it";
        return false;
    }
    for (const auto& [i, address] : found) {
        std::string target = AddressOnLine(lines[i]);
        ScaleIdentity identity = IdentityOf(address);
        bool again = false;
        for (std::size_t earlier = 0; earlier < listed.size() && !again; ++earlier) {
            std::optional<std::string> shared = SameScale(identity, listed[earlier]);
            if (!shared) continue;
            again = true;
            std::string both =
                shared->empty() || *shared == target || *shared == list.addresses[earlier]
                    ? ""
                    : " (both reach " + *shared + ")";
            list.notes.push_back(source + ":" + std::to_string(i + 1) + ": '" + target +
                                 "' is the scale of '" + list.addresses[earlier] + "' again" +
                                 both + ": sent to once");
        }
        if (again) continue;
        list.addresses.push_back(target);
        listed.push_back(std::move(identity));
    }
    return true;
}

namespace {

constexpr uint64_t kLongestTimeout = 600000;  // ten minutes: a scale that takes longer is gone
constexpr uint64_t kMostRetries = 1000;

}  // namespace

bool ReadTransportValues(const ParsedArgs& parsed, std::vector<uint32_t>& values,
                         std::string& error) {
    uint64_t timeout = 0;
    uint64_t retries = 0;
    if (!ReadUnsignedOption(parsed, kTimeoutOption.name, 1, kLongestTimeout, timeout, error) ||
        !ReadUnsignedOption(parsed, kRetriesOption.name, kMostRetries, retries, error)) {
        return false;
    }
    if (parsed.Has(kTimeoutOption.name)) {
        values.resize(WQDS_VALUE_CONNECT_TIMEOUT + 1);
        values[WQDS_VALUE_REPLY_TIMEOUT] = uint32_t(timeout);
        values[WQDS_VALUE_CONNECT_TIMEOUT] = uint32_t(timeout);
    }
    if (parsed.Has(kRetriesOption.name)) {
        values.resize(WQDS_VALUE_RETRIES + 1);
        values[WQDS_VALUE_RETRIES] = retries == 0 ? WQDS_NO_RETRIES : uint32_t(retries);
    }
    return true;
}

int LoadTargetList(const std::string& command, const ParsedArgs& parsed, TargetList& list) {
    std::string error;
    list = TargetList{parsed.Values(kTargetOption.name), {}};
    for (const std::string& target : list.addresses) {
        transport::TargetAddress address;
        if (!ParseScaleAddress(target, address, error)) return UsageError(command, error);
    }
    if (!parsed.Has(kTargetsFileOption.name)) return kExitOk;
    std::string path = parsed.Value(kTargetsFileOption.name);
    std::string bytes;
    if (path.empty()) return UsageError(command, "--targets-file wants a file name");
    if (!os::ReadAllBytes(path, bytes, error)) {
        return UnreadableFile(command, path + ": " + error);
    }
    if (!AddTargetsFile(path, bytes, list, error)) return UsageError(command, error);
    for (const std::string& note : list.notes) {
        std::fprintf(stderr, "vudaduv %s: %s\n", command.c_str(), note.c_str());
    }
    return kExitOk;
}

}  // namespace vudaduv::cli
