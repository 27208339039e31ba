// The sync's safeguards on the floor where they live, the fleet: the refusal of an empty list
// under removals, the removal cap, and the room check of the state directory, each as rows of
// cases over a small virtual fleet. The tool's scenarios of the same rules stay in tests/tools/cli.
#include <gtest/gtest.h>

#include <filesystem>

#include "file_size_limit.h"
#include "numbered_items.h"
#include "scales_fixture.h"
#include "vudaduv_fleet.h"

namespace vudaduv::fleet {
namespace {

class Safeguard : public OnVirtualScales {
  protected:
    Safeguard() : OnVirtualScales(2) {}

    SyncOptions Options() const {
        SyncOptions options;
        options.stateDir = "state";
        options.listTypes = {1};
        return options;
    }

    // The scales brought to hold the first count items, with a state of their own elsewhere.
    void Hold(int count) {
        SyncOptions options = Options();
        options.stateDir = "before";
        SyncResult result =
            Sync(WantedOfDataLines(1, false, NumberedItems(count)), addresses_, options);
        ASSERT_EQ(result.error, "");
        std::filesystem::remove_all("before");
    }

    std::size_t Held(std::size_t scale) {
        PullRequest items;
        items.types = {1};
        items.lastItem = 40;
        return Pull({addresses_[scale]}, SlotsOf(items), false, {})[0].image.size();
    }
};

// ---- An empty list under removals -----------------------------------------------------------

struct EmptyListCase {
    const char* name;
    bool removeMissing;
    RemovalCap cap;
    bool dryRun;
    bool refused;
    std::size_t heldAfter;  // records each scale holds after the run
};

TEST_F(Safeguard, AnEmptyListIsRefusedUnderRemovalsUnlessEveryRemovalIsAllowed) {
    const EmptyListCase cases[] = {
        {"per cent cap", true, {RemovalCap::kPercent, 10}, false, true, 6},
        {"a count as large as the scale", true, {RemovalCap::kCount, 100}, false, true, 6},
        {"a dry run is refused alike", true, {RemovalCap::kPercent, 10}, true, true, 6},
        {"no removals: nothing to send", false, {RemovalCap::kPercent, 10}, false, false, 6},
        {"every removal allowed", true, {RemovalCap::kAll, 0}, false, false, 0},
    };
    for (const EmptyListCase& c : cases) {
        Hold(6);
        std::filesystem::remove_all("state");
        SyncOptions options = Options();
        options.removeMissing = c.removeMissing;
        options.maxRemove = c.cap;
        options.dryRun = c.dryRun;
        SyncResult result = Sync(WantedList{}, addresses_, options);
        EXPECT_EQ(result.refused, c.refused) << c.name;
        if (c.refused) {
            EXPECT_EQ(result.errorKind, SyncError::kRefused) << c.name;
            EXPECT_EQ(result.error,
                      "the list holds no record: removing what it lacks would empty every scale")
                << c.name;
            EXPECT_TRUE(result.scales.empty()) << c.name;
            // Refused before the state directory is touched.
            EXPECT_FALSE(std::filesystem::exists("state")) << c.name;
        } else {
            EXPECT_EQ(result.error, "") << c.name;
            ASSERT_EQ(result.scales.size(), 2u) << c.name;
        }
        for (std::size_t i = 0; i < addresses_.size(); ++i)
            EXPECT_EQ(Held(i), c.heldAfter) << c.name;
    }
}

// ---- The removal cap ---------------------------------------------------------------------------

TEST(RemovalCap, TheMostAScaleMayLoseIsTheCountOrTheShareOfWhatItHoldsAtLeastOne) {
    struct Row {
        RemovalCap cap;
        std::size_t held;
        std::size_t most;
    };
    const Row rows[] = {
        {{RemovalCap::kPercent, 10}, 20, 2},   {{RemovalCap::kPercent, 10}, 5, 1},
        {{RemovalCap::kPercent, 10}, 0, 1},    {{RemovalCap::kPercent, 10}, 1050, 105},
        {{RemovalCap::kPercent, 33}, 250, 82}, {{RemovalCap::kPercent, 100}, 7, 7},
        {{RemovalCap::kCount, 3}, 100, 3},     {{RemovalCap::kCount, 0}, 100, 0},
        {{RemovalCap::kAll, 0}, 7, 7},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MaxRemovals(row.cap, row.held), row.most)
            << row.cap.kind << " " << row.cap.value << " of " << row.held;
    }
}

struct CapCase {
    const char* name;
    int listed;  // items 1..listed of the 20 the scales hold
    RemovalCap cap;
    bool dryRun;
    SyncStatus status;
    std::size_t removalCap;
    std::size_t heldAfter;
};

TEST_F(Safeguard, APlanOverTheRemovalCapLeavesTheScaleUntouched) {
    const CapCase cases[] = {
        {"a cut list over 10%",
         12,
         {RemovalCap::kPercent, 10},
         false,
         SyncStatus::kRefusedCap,
         2,
         20},
        {"a dry run is refused alike",
         12,
         {RemovalCap::kPercent, 10},
         true,
         SyncStatus::kRefusedCap,
         2,
         20},
        {"a day's removals within 10%",
         18,
         {RemovalCap::kPercent, 10},
         false,
         SyncStatus::kSynced,
         2,
         18},
        {"one over a count", 12, {RemovalCap::kCount, 7}, false, SyncStatus::kRefusedCap, 7, 20},
        {"exactly a count", 12, {RemovalCap::kCount, 8}, false, SyncStatus::kSynced, 8, 12},
        {"every removal allowed", 1, {RemovalCap::kAll, 0}, false, SyncStatus::kSynced, 20, 1},
    };
    for (const CapCase& c : cases) {
        Hold(20);
        std::filesystem::remove_all("state");
        SyncOptions options = Options();
        options.removeMissing = true;
        options.maxRemove = c.cap;
        options.dryRun = c.dryRun;
        SyncResult result =
            Sync(WantedOfDataLines(1, false, NumberedItems(c.listed)), addresses_, options);
        ASSERT_EQ(result.error, "") << c.name;
        for (std::size_t i = 0; i < addresses_.size(); ++i) {
            const ScaleSync& scale = result.scales[i];
            EXPECT_EQ(scale.status, c.status) << c.name << ": " << scale.failure;
            EXPECT_EQ(scale.removed, static_cast<std::size_t>(20 - c.listed)) << c.name;
            EXPECT_EQ(scale.removalCap, c.removalCap) << c.name;
            EXPECT_EQ(scale.confirmed, c.status == SyncStatus::kSynced ? scale.removed : 0u)
                << c.name;
            EXPECT_EQ(Held(i), c.heldAfter) << c.name;
        }
        EXPECT_FALSE(std::filesystem::exists("state/.pending")) << c.name;
    }
}

// ---- Room in the state directory ---------------------------------------------------------------

// A state directory that cannot take the run's files is found before any scale is read: nothing
// is sent, nothing is left behind, and a dry run, which writes nothing there, is not asked.
TEST_F(Safeguard, AStateDirectoryWithoutRoomIsFoundBeforeAnyScaleIsRead) {
    Hold(3);
    struct Row {
        const char* name;
        bool dryRun;
        bool refused;
    };
    const Row rows[] = {{"a run", false, true}, {"a dry run", true, false}};
    for (const Row& row : rows) {
        std::filesystem::remove_all("state");
        SyncOptions options = Options();
        options.dryRun = row.dryRun;
        SyncResult result;
        {
            vudaduv::testing::FileSizeLimit limit;
            if (!limit.Set(200)) GTEST_SKIP() << "no cap on file sizes on this system";
            result = Sync(WantedOfDataLines(1, false, NumberedItems(20)), addresses_, options);
        }
        if (row.refused) {
            EXPECT_EQ(result.errorKind, SyncError::kState) << row.name;
            EXPECT_EQ(result.error.find("the state directory state cannot be written: "), 0u)
                << row.name << ": " << result.error;
            EXPECT_NE(result.error.find("; nothing was read or sent"), std::string::npos)
                << row.name << ": " << result.error;
            EXPECT_TRUE(result.scales.empty() || result.scales[0].milliseconds == 0) << row.name;
        } else {
            EXPECT_EQ(result.error, "") << row.name;
            EXPECT_EQ(result.scales[0].status, SyncStatus::kPlanned) << row.name;
        }
        for (std::size_t i = 0; i < addresses_.size(); ++i) EXPECT_EQ(Held(i), 3u) << row.name;
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator("state")) {
            std::string name = entry.path().filename().string();
            if (name != ".lock") left.push_back(name);
        }
        EXPECT_EQ(left, std::vector<std::string>{}) << row.name;
    }
}

}  // namespace
}  // namespace vudaduv::fleet
