// Scale identity: which addresses of a list name one scale. Two connections at once to one scale
// would send it everything twice, and two jobs on one state image would each take the other's
// records for confirmed.
#include <cctype>
#include <set>

#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

namespace {

// A scale as the addresses that name it: its host in lower case and its port, and the addresses
// and ports it reaches now (none when its name does not resolve: the send says so); a serial
// line's scale as its device's one name.
struct Identity {
    bool read = false;
    std::string name;
    std::set<std::string> endpoints;
};

Identity IdentityOf(const std::string& text, uint32_t defaultPort) {
    Identity identity;
    transport::TargetAddress address;
    if (!transport::ParseTargetAddress(text, defaultPort, address)) return identity;
    identity.read = true;
    if (transport::IsSerialLine(address)) {
        // One device, whatever its speed or the name it was given: the transport's rule.
        identity.name = "serial " + transport::SerialLineIdentity(address.device);
        return identity;
    }
    for (char c : address.host) {
        identity.name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    identity.name += " " + std::to_string(address.port);
    for (std::string& endpoint : transport::ResolveEndpoints(address)) {
        identity.endpoints.insert(std::move(endpoint));
    }
    return identity;
}

// Whether two identities are one scale, with the address and port they both reach ("" for the
// same name).
bool SameScale(const Identity& one, const Identity& other, std::string& shared) {
    if (!one.read || !other.read) return false;
    for (const std::string& endpoint : one.endpoints) {
        if (other.endpoints.count(endpoint) != 0) {
            shared = endpoint;
            return true;
        }
    }
    shared.clear();
    return one.name == other.name;
}

}  // namespace

std::vector<ScaleOfAddress> IdentifyScales(const std::vector<std::string>& addresses,
                                           uint32_t defaultPort) {
    std::vector<Identity> identities;
    std::vector<ScaleOfAddress> scales(addresses.size());
    std::vector<std::size_t> firsts;  // the addresses that name a scale first
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        identities.push_back(IdentityOf(addresses[i], defaultPort));
        scales[i].first = i;
        for (std::size_t first : firsts) {
            if (SameScale(identities[i], identities[first], scales[i].shared)) {
                scales[i].first = first;
                break;
            }
        }
        if (scales[i].first == i) firsts.push_back(i);
    }
    return scales;
}

std::string SameScaleNote(const std::string& address, const std::string& first,
                          const ScaleOfAddress& scale) {
    std::string both = scale.shared.empty() || scale.shared == address || scale.shared == first
                           ? ""
                           : " (both reach " + scale.shared + ")";
    return "'" + address + "' is the scale of '" + first + "' again" + both + ": sent to once";
}

}  // namespace vudaduv::fleet
