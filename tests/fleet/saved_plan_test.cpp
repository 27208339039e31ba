// The saved plan's rule: a plan written by a dry run, read back, and held against what a later
// run would send; each way it can go stale, and the files that are no plan.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vudaduv_fleet.h"

namespace vudaduv::fleet {
namespace {

std::shared_ptr<const SyncPlan> Plan(const std::vector<PlannedChange>& changes) {
    return std::make_shared<const SyncPlan>(changes);
}

ScaleSync Planned(const std::string& address, const std::string& stateDigest,
                  std::shared_ptr<const SyncPlan> plan) {
    ScaleSync scale;
    scale.address = address;
    scale.stateDigest = stateDigest;
    scale.plan = std::move(plan);
    return scale;
}

const PlannedChange kTea{{1, 1}, "1A1##Tea", false};
const PlannedChange kGone{{3, 22}, "3A22", true};

// Two scales, the second with no plan (not reached when the dry run was made).
std::vector<ScaleSync> DryRun() {
    return {Planned("127.0.0.1:4001", "aaaa", Plan({kTea, kGone})),
            Planned("127.0.0.1:4002", "", nullptr)};
}

SavedPlan ReadBack(const std::string& file) {
    SavedPlan saved;
    std::string error;
    EXPECT_TRUE(ReadSavedPlan(file, saved, error)) << error;
    return saved;
}

TEST(SavedPlan, PlanDigestTellsEveryByteOfTheChangesAndNothingElse) {
    const std::string tea = PlanDigest(Plan({kTea}));
    EXPECT_EQ(PlanDigest(nullptr), "");
    EXPECT_EQ(tea.size(), 16u);
    EXPECT_EQ(PlanDigest(Plan({kTea})), tea);
    EXPECT_NE(PlanDigest(Plan({})), tea);
    EXPECT_NE(PlanDigest(Plan({{{1, 1}, "1A1##Tee", false}})), tea);
    EXPECT_NE(PlanDigest(Plan({{{1, 2}, "1A1##Tea", false}})), tea);
    EXPECT_NE(PlanDigest(Plan({{{2, 1}, "1A1##Tea", false}})), tea);
    EXPECT_NE(PlanDigest(Plan({{{1, 1}, "1A1##Tea", true}})), tea);
    EXPECT_NE(PlanDigest(Plan({kTea, kGone})), PlanDigest(Plan({kGone, kTea})));
}

TEST(SavedPlan, AFileReadsBackAsWritten) {
    SavedPlan saved = ReadBack(SavedPlanFile("list.txt", "0123456789abcdef", DryRun()));
    EXPECT_EQ(saved.listPath, "list.txt");
    EXPECT_EQ(saved.listDigest, "0123456789abcdef");
    EXPECT_EQ(saved.addresses, (std::vector<std::string>{"127.0.0.1:4001", "127.0.0.1:4002"}));
    EXPECT_EQ(saved.stateDigests, (std::vector<std::string>{"aaaa", ""}));
    EXPECT_EQ(saved.planDigests,
              (std::vector<std::string>{PlanDigest(Plan({kTea, kGone})), std::string()}));
    EXPECT_EQ(WhyStale(saved, "0123456789abcdef", saved.addresses, DryRun()), "");
}

TEST(SavedPlan, TheChangesAreShownAsTheCallerShowsDataLines) {
    std::string file = SavedPlanFile("list.txt", "d", DryRun(),
                                     [](const std::string& line) { return "<" + line + ">"; });
    EXPECT_NE(file.find("send item 0001 (type 1): <1A1##Tea>"), std::string::npos) << file;
    EXPECT_NE(file.find("remove message 22 (type 3)"), std::string::npos) << file;
    EXPECT_EQ(ChangeWords(kTea), "send item 0001 (type 1): 1A1##Tea");
}

TEST(SavedPlan, EachChangeSinceThePlanMakesItStale) {
    const SavedPlan saved = ReadBack(SavedPlanFile("list.txt", "list-1", DryRun()));
    const std::vector<std::string> addresses = saved.addresses;
    struct StaleCase {
        const char* what;
        std::string listDigest;
        std::vector<std::string> addresses;
        std::vector<ScaleSync> now;
        std::string why;
    };
    const std::vector<StaleCase> cases = {
        {"nothing changed", "list-1", addresses, DryRun(), ""},
        {"the second scale is reached now, and planned",
         "list-1",
         addresses,
         {DryRun()[0], Planned("127.0.0.1:4002", "bbbb", Plan({kTea}))},
         "127.0.0.1:4002: its state changed since the plan was made"},
        {"the first scale is not reached now",
         "list-1",
         addresses,
         {Planned("127.0.0.1:4001", "", nullptr), DryRun()[1]},
         ""},
        {"another list", "list-2", addresses, DryRun(),
         "the list differs from the one the plan was made of (list.txt)"},
        {"a scale fewer",
         "list-1",
         {addresses[0]},
         {DryRun()[0]},
         "the scales are not those of the plan"},
        {"the scales in another order",
         "list-1",
         {addresses[1], addresses[0]},
         DryRun(),
         "the scales are not those of the plan"},
        {"a state image changed",
         "list-1",
         addresses,
         {Planned("127.0.0.1:4001", "cccc", Plan({kTea, kGone})), DryRun()[1]},
         "127.0.0.1:4001: its state changed since the plan was made"},
        {"another plan on the same state",
         "list-1",
         addresses,
         {Planned("127.0.0.1:4001", "aaaa", Plan({kTea})), DryRun()[1]},
         "127.0.0.1:4001: it would now get another plan"},
    };
    for (const StaleCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WhyStale(saved, c.listDigest, c.addresses, c.now), c.why);
    }
}

TEST(SavedPlan, BytesThatAreNoPlanAreRefusedWithWhy) {
    const std::string good = SavedPlanFile("list.txt", "d", DryRun());
    std::string otherSchema = good;
    otherSchema.replace(otherSchema.find("\"schema\": 1"), 11, "\"schema\": 2");
    std::string noDigest = good;
    noDigest.replace(noDigest.find("\"plan_digest\""), 13, "\"plan_digests\"");
    struct BadCase {
        std::string bytes;
        std::string error;
    };
    const std::vector<BadCase> cases = {
        {"", "not a plan of vudaduv sync --dry-run --plan-out"},
        {"{\"kind\": \"vudaduv sync plan\"", "not a plan of vudaduv sync --dry-run --plan-out"},
        {"[1, 2]", "not a plan of vudaduv sync --dry-run --plan-out"},
        {"{\"kind\": \"a report\", \"schema\": 1}",
         "not a plan of vudaduv sync --dry-run --plan-out"},
        {otherSchema, "a plan of another version (schema 2; this tool reads 1)"},
        {noDigest, "a plan with a field missing or of the wrong kind"},
        {"{\"kind\": \"vudaduv sync plan\", \"schema\": 1, \"list\": {\"file\": 7}}",
         "a plan with a field missing or of the wrong kind"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 40));
        SavedPlan plan;
        std::string error;
        EXPECT_FALSE(ReadSavedPlan(c.bytes, plan, error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(plan.addresses.empty());
    }
}

}  // namespace
}  // namespace vudaduv::fleet
