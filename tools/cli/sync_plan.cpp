#include "sync_plan.h"

#include <map>
#include <nlohmann/json.hpp>

#include "lines.h"

namespace vudaduv::cli {

namespace {

constexpr int kPlanSchema = 1;
constexpr const char* kPlanKind = "vudaduv sync plan";

// "send item 0001 (type 1): 1A1##Tea", "remove message 22 (type 3)".
std::string ChangeWords(const fleet::PlannedChange& change, const std::string& charset) {
    std::string record =
        fleet::KeyName(change.key) + " (type " + std::to_string(change.key.type) + ")";
    if (change.removal) return "remove " + record;
    return "send " + record + ": " + ShowText(charset, change.dataLine);
}

// The digest of a plan: its changes byte for byte, as the scale gets them.
std::string PlanDigest(const std::shared_ptr<const fleet::SyncPlan>& plan) {
    if (!plan) return "";
    std::string bytes;
    for (const fleet::PlannedChange& change : *plan) {
        bytes += std::to_string(change.key.type) + " " + std::to_string(change.key.number) +
                 (change.removal ? " -" : " +") + change.dataLine + '\n';
    }
    return fleet::DigestOf(bytes);
}

}  // namespace

std::vector<std::size_t> PlanNumbers(const std::vector<fleet::ScaleSync>& scales) {
    std::map<const fleet::SyncPlan*, std::size_t> numbers;
    std::vector<std::size_t> out;
    for (const fleet::ScaleSync& scale : scales) {
        bool changes = scale.plan && !scale.plan->empty();
        if (!changes) {
            out.push_back(0);
            continue;
        }
        auto known = numbers.emplace(scale.plan.get(), numbers.size() + 1).first;
        out.push_back(known->second);
    }
    return out;
}

std::string PlansText(const std::vector<fleet::ScaleSync>& scales, const std::string& charset) {
    std::vector<std::size_t> numbers = PlanNumbers(scales);
    std::vector<std::vector<std::size_t>> sharing;
    for (std::size_t i = 0; i < scales.size(); ++i) {
        if (numbers[i] == 0) continue;
        if (sharing.size() < numbers[i]) sharing.resize(numbers[i]);
        sharing[numbers[i] - 1].push_back(i);
    }
    std::string text;
    for (std::size_t n = 0; n < sharing.size(); ++n) {
        text += "plan " + std::to_string(n + 1) + ", for " + std::to_string(sharing[n].size()) +
                " scale(s):";
        for (std::size_t i : sharing[n]) text += " " + scales[i].address;
        text += "\n";
        for (const fleet::PlannedChange& change : *scales[sharing[n][0]].plan) {
            text += "  " + ChangeWords(change, charset) + "\n";
        }
    }
    return text;
}

std::string PlanFile(const std::string& listPath, const std::string& listDigest,
                     const std::vector<fleet::ScaleSync>& scales, const std::string& charset) {
    nlohmann::json list = nlohmann::json::array();
    for (const fleet::ScaleSync& scale : scales) {
        nlohmann::json changes = nlohmann::json::array();
        if (scale.plan) {
            for (const fleet::PlannedChange& change : *scale.plan) {
                changes.push_back({{"type", change.key.type},
                                   {"number", change.key.number},
                                   {"change", ChangeWords(change, charset)}});
            }
        }
        list.push_back({{"address", scale.address},
                        {"status", fleet::SyncStatusName(scale.status)},
                        {"state_digest", scale.stateDigest},
                        {"plan_digest", PlanDigest(scale.plan)},
                        {"changes", changes}});
    }
    nlohmann::json plan = {{"schema", kPlanSchema},
                           {"kind", kPlanKind},
                           {"list", {{"file", listPath}, {"digest", listDigest}}},
                           {"scales", list}};
    return plan.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool ReadPlanFile(const std::string& bytes, SavedPlan& plan, std::string& error) {
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
    try {
        plan.listPath = json.at("list").at("file").get<std::string>();
        plan.listDigest = json.at("list").at("digest").get<std::string>();
        for (const nlohmann::json& scale : json.at("scales")) {
            plan.addresses.push_back(scale.at("address").get<std::string>());
            plan.stateDigests.push_back(scale.at("state_digest").get<std::string>());
            plan.planDigests.push_back(scale.at("plan_digest").get<std::string>());
        }
    } catch (const nlohmann::json::exception&) {
        error = "a plan with a field missing or of the wrong kind";
        return false;
    }
    return true;
}

std::string WhyStale(const SavedPlan& saved, const std::string& listDigest,
                     const std::vector<std::string>& addresses,
                     const std::vector<fleet::ScaleSync>& planned) {
    if (saved.listDigest != listDigest) {
        return "the list differs from the one the plan was made of (" + saved.listPath + ")";
    }
    if (saved.addresses != addresses) return "the scales are not those of the plan";
    for (std::size_t i = 0; i < planned.size() && i < saved.addresses.size(); ++i) {
        const fleet::ScaleSync& scale = planned[i];
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

}  // namespace vudaduv::cli
