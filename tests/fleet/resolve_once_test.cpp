// Host names resolved once a sync: the identity of the scales (which addresses name one scale)
// is found by whoever lists them, the tool or the sync itself, never by both. The scales are
// named by a host name of this test's own, which its getaddrinfo (the executable's comes before
// the C library's) counts and resolves to 127.0.0.1 alone, whatever /etc/hosts holds; its
// connect counts the connections to the scales.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>

#include "numbered_items.h"
#include "scales_fixture.h"
#include "vudaduv_fleet.h"

namespace {

constexpr const char* kCountedHost = "counted-scale-host";
std::atomic<int> lookups{0};
std::atomic<int> scaleConnections{0};
std::atomic<unsigned> scalePorts[2] = {{0}, {0}};

bool IsScalePort(const struct sockaddr* address) {
    unsigned port = 0;
    if (address->sa_family == AF_INET) {
        port = ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
    } else if (address->sa_family == AF_INET6) {
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    }
    return port != 0 && (port == scalePorts[0] || port == scalePorts[1]);
}

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** results) {
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node != nullptr && std::strcmp(node, kCountedHost) == 0) {
        ++lookups;
        return real("127.0.0.1", service, hints, results);
    }
    return real(node, service, hints, results);
}

extern "C" int connect(int socket, const struct sockaddr* address, socklen_t size) {
    using Real = int (*)(int, const struct sockaddr*, socklen_t);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
    if (address != nullptr && IsScalePort(address)) ++scaleConnections;
    return real(socket, address, size);
}

namespace vudaduv::fleet {
namespace {

class ResolveOnce : public OnVirtualScales {
  protected:
    ResolveOnce() : OnVirtualScales(2) {}

    void SetUp() override {
        OnVirtualScales::SetUp();
        if (HasFatalFailure()) return;
        for (std::size_t i = 0; i < 2; ++i) scalePorts[i] = fleet_->Ports()[i];
    }

    void TearDown() override {
        for (std::atomic<unsigned>& port : scalePorts) port = 0;
        OnVirtualScales::TearDown();
    }

    std::string Address(std::size_t scale) const {
        return std::string(kCountedHost) + ":" + std::to_string(fleet_->Ports()[scale]);
    }

    // How many more lookups of the scales' host name than connections to the scale a sync of ten
    // items to one empty scale makes, with the scales identified beforehand (by the caller) or not.
    int LookupsBeyondConnections(std::size_t scale, const std::vector<ScaleOfAddress>* identified) {
        SyncOptions options;
        options.stateDir = "state" + std::to_string(scale);
        options.listTypes = {1};
        std::vector<std::string> addresses = {Address(scale)};
        WantedList list = WantedOfDataLines(1, false, NumberedItems(10));
        int lookupsBefore = lookups;
        int connectionsBefore = scaleConnections;
        SyncResult result = identified != nullptr ? Sync(list, addresses, *identified, options)
                                                  : Sync(list, addresses, options);
        int looked = lookups - lookupsBefore;
        int connections = scaleConnections - connectionsBefore;
        EXPECT_GT(connections, 0);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.scales.at(0).failure, "");
        EXPECT_EQ(result.scales.at(0).confirmed, 10u);
        return looked - connections;
    }
};

// Two scales alike, the same run each. Each connection resolves the host it connects to, once;
// beyond that, the sync handed the identities the caller found (as the tool does) resolves no
// name, and the one that finds them itself (as the C library's does) resolves each once.
TEST_F(ResolveOnce, ASyncHandedTheScalesIdentitiesResolvesNoNameForThem) {
    int before = lookups;
    std::vector<ScaleOfAddress> identified = IdentifyScales({Address(0)}, 4001);
    EXPECT_EQ(lookups - before, 1);
    EXPECT_EQ(LookupsBeyondConnections(0, &identified), 0);
    EXPECT_EQ(LookupsBeyondConnections(1, nullptr), 1);
}

// Identities that do not fit the addresses are found anew: an address that names a scale
// again still gets that scale's outcome, with the note.
TEST_F(ResolveOnce, IdentitiesThatDoNotFitTheAddressesAreFoundAnew) {
    std::vector<std::string> addresses = {Address(0), addresses_[0], Address(1)};
    const std::vector<std::vector<ScaleOfAddress>> misfits = {
        {},                           // none
        {{0, ""}, {1, ""}},           // too few
        {{0, ""}, {2, ""}, {2, ""}},  // a first after its address
        {{1, ""}, {1, ""}, {2, ""}},  // the first address named after itself
    };
    for (std::size_t c = 0; c < misfits.size(); ++c) {
        SyncOptions options;
        options.stateDir = "misfit" + std::to_string(c);
        options.listTypes = {1};
        SyncResult result =
            Sync(WantedOfDataLines(1, false, NumberedItems(3)), addresses, misfits[c], options);
        ASSERT_EQ(result.error, "") << c;
        ASSERT_EQ(result.scales.size(), 3u) << c;
        EXPECT_EQ(result.scales[1].address, addresses[1]) << c;
        ASSERT_FALSE(result.scales[1].notes.empty()) << c;
        EXPECT_NE(result.scales[1].notes[0].find("is the scale of '" + addresses[0] + "' again"),
                  std::string::npos)
            << result.scales[1].notes[0];
        for (const ScaleSync& scale : result.scales) {
            EXPECT_EQ(scale.failure, "") << c;
            EXPECT_EQ(scale.confirmed + scale.unchanged, 3u) << c;  // held from the first case on
        }
    }
}

}  // namespace
}  // namespace vudaduv::fleet
