// A saved plan: what a dry run planned, kept in a file, and the rule by which a later run sends
// exactly that plan or nothing. A plan is known by the digest of its changes byte for byte, the
// state it was made on by the digest of each scale's state image, and the list by the digest of
// its file's bytes; any of them that differs now makes the saved plan stale.
#include <exception>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

namespace {

constexpr int kPlanSchema = 1;
constexpr const char* kPlanKind = "vudaduv sync plan";

// The changes of one scale's plan for people to read, one an entry.
nlohmann::json ChangesForPeople(const ScaleSync& scale, const ShowDataLine& show) {
    nlohmann::json changes = nlohmann::json::array();
    if (!scale.plan) return changes;
    for (const PlannedChange& change : *scale.plan) {
        changes.push_back({{"type", change.key.type},
                           {"number", change.key.number},
                           {"change", ChangeWords(change, show)}});
    }
    return changes;
}

// Takes in the fields a run holds the plan against; false when one is missing or of the wrong
// kind.
bool ReadPlanFields(const nlohmann::json& json, SavedPlan& plan) {
    try {
        plan.listPath = json.at("list").at("file").get<std::string>();
        plan.listDigest = json.at("list").at("digest").get<std::string>();
        for (const nlohmann::json& scale : json.at("scales")) {
            plan.addresses.push_back(scale.at("address").get<std::string>());
            plan.stateDigests.push_back(scale.at("state_digest").get<std::string>());
            plan.planDigests.push_back(scale.at("plan_digest").get<std::string>());
        }
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    return true;
}

}  // namespace

std::string ChangeWords(const PlannedChange& change, const ShowDataLine& show) {
    std::string record = KeyName(change.key) + " (type " + std::to_string(change.key.type) + ")";
    if (change.removal) return "remove " + record;
    return "send " + record + ": " + (show ? show(change.dataLine) : change.dataLine);
}

std::string PlanDigest(const std::shared_ptr<const SyncPlan>& plan) {
    if (!plan) return "";
    std::string bytes;
    for (const PlannedChange& change : *plan) {
        bytes += std::to_string(change.key.type) + " " + std::to_string(change.key.number) +
                 (change.removal ? " -" : " +") + change.dataLine + '\n';
    }
    return DigestOf(bytes);
}

std::string SavedPlanFile(const std::string& listPath, const std::string& listDigest,
                          const std::vector<ScaleSync>& scales, const ShowDataLine& show) {
    nlohmann::json list = nlohmann::json::array();
    for (const ScaleSync& scale : scales) {
        list.push_back({{"address", scale.address},
                        {"status", SyncStatusName(scale.status)},
                        {"state_digest", scale.stateDigest},
                        {"plan_digest", PlanDigest(scale.plan)},
                        {"changes", ChangesForPeople(scale, show)}});
    }
    nlohmann::json plan = {{"schema", kPlanSchema},
                           {"kind", kPlanKind},
                           {"list", {{"file", listPath}, {"digest", listDigest}}},
                           {"scales", list}};
    return plan.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool ReadSavedPlan(const std::string& bytes, SavedPlan& plan, std::string& error) {
    plan = SavedPlan();
    nlohmann::json json = nlohmann::json::parse(bytes, nullptr, false);
    if (json.is_discarded() || !json.is_object() || json.value("kind", "") != kPlanKind) {
        error = "not a plan of vudaduv sync --dry-run --plan-out";
        return false;
    }
    if (json.value("schema", 0) != kPlanSchema) {
        error = "a plan of another version (schema " +
                json.value("schema", nlohmann::json()).dump() + "; this tool reads " +
                std::to_string(kPlanSchema) + ")";
        return false;
    }
    if (!ReadPlanFields(json, plan)) {
        plan = SavedPlan();
        error = "a plan with a field missing or of the wrong kind";
        return false;
    }
    return true;
}

std::string WhyStale(const SavedPlan& saved, const std::string& listDigest,
                     const std::vector<std::string>& addresses,
                     const std::vector<ScaleSync>& planned) {
    if (saved.listDigest != listDigest) {
        return "the list differs from the one the plan was made of (" + saved.listPath + ")";
    }
    if (saved.addresses != addresses) return "the scales are not those of the plan";
    for (std::size_t i = 0; i < planned.size() && i < saved.addresses.size(); ++i) {
        const ScaleSync& scale = planned[i];
        if (!scale.plan) continue;  // not reached now: it fails, nothing is sent to it
        if (scale.stateDigest != saved.stateDigests[i]) {
            return scale.address + ": its state changed since the plan was made";
        }
        if (PlanDigest(scale.plan) != saved.planDigests[i]) {
            return scale.address + ": it would now get another plan";
        }
    }
    return "";
}

}  // namespace vudaduv::fleet
