#include "sync_plan.h"

#include <map>

#include "lines.h"

namespace vudaduv::cli {

namespace {

// Data lines shown in charset.
fleet::ShowDataLine ShowLine(const std::string& charset) {
    return [charset](const std::string& line) { return ShowText(charset, line); };
}

// A change in words, its data line in charset.
std::string ChangeWords(const fleet::PlannedChange& change, const std::string& charset) {
    return fleet::ChangeWords(change, ShowLine(charset));
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
    return fleet::SavedPlanFile(listPath, listDigest, scales, ShowLine(charset));
}

}  // namespace vudaduv::cli
