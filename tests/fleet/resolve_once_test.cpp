// Host names resolved once a sync: the identity of the scales (which addresses name one scale)
// is found by whoever lists them, the tool or the sync itself, never by both. Every call of the
// system's resolver in this process is counted by name, here, where the executable's own
// getaddrinfo comes before the C library's.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <atomic>
#include <cstring>

#include "numbered_items.h"
#include "temp_directory.h"
#include "virtual_scale.h"
#include "vudaduv_fleet.h"

namespace {

std::atomic<int> localhostLookups{0};

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** results) {
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node != nullptr && std::strcmp(node, "localhost") == 0) ++localhostLookups;
    return real(node, service, hints, results);
}

namespace vudaduv::fleet {
namespace {

class ResolveOnce : public testing::InTempDirectory {
  protected:
    void SetUp() override {
        InTempDirectory::SetUp();
        std::vector<ScaleOfAddress> probe =
            IdentifyScales({"localhost:4001", "127.0.0.1:4001"}, 4001);
        if (probe[1].first != 0) GTEST_SKIP() << "localhost does not reach 127.0.0.1 here";
        fleet_ = std::make_unique<scale::ScaleFleet>(2, scale::ServerOptions{});
        std::string error;
        ASSERT_TRUE(fleet_->Start(error)) << error;
    }

    std::string Address(std::size_t scale) const {
        return "localhost:" + std::to_string(fleet_->Ports()[scale]);
    }

    // The lookups of "localhost" by a sync of ten items to one empty scale, with the scales
    // identified beforehand (by the caller) or not.
    int LookupsOfSync(std::size_t scale, const std::vector<ScaleOfAddress>* identified) {
        SyncOptions options;
        options.stateDir = "state" + std::to_string(scale);
        options.listTypes = {1};
        std::vector<std::string> addresses = {Address(scale)};
        WantedList list = WantedOfDataLines(1, false, NumberedItems(10));
        int before = localhostLookups;
        SyncResult result = identified != nullptr ? Sync(list, addresses, *identified, options)
                                                  : Sync(list, addresses, options);
        int lookups = localhostLookups - before;
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.scales.at(0).failure, "");
        EXPECT_EQ(result.scales.at(0).confirmed, 10u);
        return lookups;
    }

    std::unique_ptr<scale::ScaleFleet> fleet_;
};

// Two scales alike, the same run each: the sync handed the identities the caller found (as the
// tool does) resolves the name exactly once less than the one that finds them itself (as the C
// library's does), which resolves it once more than its connections do.
TEST_F(ResolveOnce, ASyncHandedTheScalesIdentitiesResolvesNoNameForThem) {
    int before = localhostLookups;
    std::vector<ScaleOfAddress> identified = IdentifyScales({Address(0)}, 4001);
    EXPECT_EQ(localhostLookups - before, 1);
    int handed = LookupsOfSync(0, &identified);
    int own = LookupsOfSync(1, nullptr);
    EXPECT_GT(handed, 0);  // the connections resolve it
    EXPECT_EQ(own, handed + 1);
}

// Identities that do not fit the addresses are found anew: an address that names a scale
// again still gets that scale's outcome, with the note.
TEST_F(ResolveOnce, IdentitiesThatDoNotFitTheAddressesAreFoundAnew) {
    std::vector<std::string> addresses = {
        Address(0), "127.0.0.1:" + std::to_string(fleet_->Ports()[0]), Address(1)};
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
