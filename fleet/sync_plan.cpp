// The plan: what each group of scales that hold alike is sent (the records of the list it
// lacks or holds unlike, and with removals the records of the list's types the list lacks), the
// commands that write and read them back, and the safeguards against a list that came empty or
// cut: the empty-list refusal and the removal cap, which leaves a scale untouched.
#include <algorithm>
#include <map>
#include <set>

#include "sync_work.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

bool InListTypes(const SyncOptions& options, uint32_t type) {
    return std::find(options.listTypes.begin(), options.listTypes.end(), type) !=
           options.listTypes.end();
}

void PlanChanges(const WantedList& list, const SyncOptions& options, Group& work) {
    ScaleSync& result = work.plan;
    for (const auto& record : list) {
        // A record no image line can hold is neither sent nor removed: the check named it.
        if (!record.second.unkeepable.empty()) continue;
        auto held = work.held->find(record.first);
        if (held != work.held->end() && SameRecord(held->second, record.second.line)) {
            ++result.unchanged;
            continue;
        }
        work.changes.push_back({record.first, record.second.dataLine, record.second.line});
        work.planned->push_back({record.first, record.second.dataLine, false});
        ++result.sent;
    }
    if (!options.removeMissing) return;
    std::size_t heldOfTypes = 0;
    for (const auto& record : *work.held) {
        heldOfTypes += InListTypes(options, record.first.type) ? 1 : 0;
    }
    result.removalCap = MaxRemovals(options.maxRemove, heldOfTypes);
    for (const auto& record : *work.held) {
        std::string removal = RemovalLine(record.first);
        if (list.count(record.first) != 0 || removal.empty() ||
            !InListTypes(options, record.first.type)) {
            continue;
        }
        work.changes.push_back({record.first, removal, ""});
        work.planned->push_back({record.first, removal, true});
        ++result.removed;
    }
}

// The writes of the changes, then (when asked) the reads of the same records.
transport::CommandList BuildSyncCommands(const SyncOptions& options, Group& work) {
    auto commands = std::make_shared<std::vector<std::string>>();
    std::vector<RecordKey> keys;
    for (const auto& change : work.changes) {
        std::vector<std::string> writes =
            BuildCommandList(change.key.type, {change.dataLine}, options.en);
        work.commandsOfChange.push_back(writes.size());
        commands->insert(commands->end(), writes.begin(), writes.end());
        keys.push_back(change.key);
    }
    work.writeCommands = commands->size();
    std::set<RecordKey> sorted(keys.begin(), keys.end());
    work.changeKeys = MakeKeyList({sorted.begin(), sorted.end()});
    if (options.readBackSent) {
        work.readBack = model::BuildReadRequests(keys, options.en);
        commands->insert(commands->end(), work.readBack.commands->begin(),
                         work.readBack.commands->end());
    }
    return commands;
}

// Why a scale was left untouched by the cap: what it would have lost and what the cap allows.
std::string RefusalCause(const ScaleSync& scale) {
    return "its plan removes " + std::to_string(scale.removed) +
           " record(s), more than its removal cap of " + std::to_string(scale.removalCap) +
           " allows; nothing sent";
}

// A plan that empties more records than the cap allows: a cut list, not a day's changes.
bool ExceedsRemovalCap(const SyncOptions& options, const ScaleSync& plan) {
    return options.removeMissing && plan.removed > plan.removalCap;
}

// The figures of a group's plan, for each of its scales.
void CopyFigures(const ScaleSync& plan, ScaleSync& result) {
    result.sent = plan.sent;
    result.unchanged = plan.unchanged;
    result.removed = plan.removed;
    result.removalCap = plan.removalCap;
}

}  // namespace

std::size_t MaxRemovals(const RemovalCap& cap, std::size_t held) {
    switch (cap.kind) {
        case RemovalCap::kAll:
            return held;
        case RemovalCap::kCount:
            return cap.value;
        default:
            return std::max<std::size_t>(1, held / 100 * cap.value + held % 100 * cap.value / 100);
    }
}

// An empty list is an export that failed or has not been written yet, not a shop that sells
// nothing: removing what it lacks would empty every scale.
std::string EmptyListRefusal(const WantedList& list, const SyncOptions& options) {
    if (options.removeMissing && list.empty() && options.maxRemove.kind != RemovalCap::kAll) {
        return "the list holds no record: removing what it lacks would empty every scale";
    }
    return "";
}

// One group for the scales that hold the same image, planned once. The scales of a plan over
// the removal cap are refused: nothing is sent to them.
void PlanGroups(const WantedList& list, const SyncOptions& options, std::vector<ScaleWork>& work,
                std::vector<ScaleSync>& results) {
    std::map<const Image*, std::shared_ptr<Group>> groups;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready) continue;
        std::shared_ptr<Group>& group = groups[work[i].held.get()];
        if (!group) {
            group = std::make_shared<Group>();
            group->held = work[i].held;
            group->planned = std::make_shared<SyncPlan>();
            PlanChanges(list, options, *group);
            if (!options.dryRun && !ExceedsRemovalCap(options, group->plan)) {
                group->commands = BuildSyncCommands(options, *group);
            }
        }
        work[i].group = group;
        ScaleSync& result = results[i];
        CopyFigures(group->plan, result);
        result.plan = group->planned;
        if (ExceedsRemovalCap(options, group->plan)) {
            result.status = SyncStatus::kRefusedCap;
            result.failure = RefusalCause(result);
            work[i].ready = false;
        }
    }
}

// A scale that got no plan of its own (it could not be reached or read, or the run stopped
// before its plan) keeps the figures its state foresees, so that the next run's work shows:
// the changes planned against what its state says it holds, all of them pending (none when the
// plan is over the removal cap: the next run sends it nothing either). Scales whose states hold
// alike are planned once; their plan stays nullptr, as nothing was planned to be sent now.
void ForeseeFromState(const WantedList& list, const SyncOptions& options,
                      const std::vector<ScaleWork>& work, std::vector<ScaleSync>& results) {
    std::map<const Image*, std::shared_ptr<Group>> groups;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::shared_ptr<const Image>& state =
            work[i].fullRead ? work[i].stateHeld : work[i].held;
        if (work[i].group || !state) continue;
        std::shared_ptr<Group>& group = groups[state.get()];
        if (!group) {
            group = std::make_shared<Group>();
            group->held = state;
            group->planned = std::make_shared<SyncPlan>();
            PlanChanges(list, options, *group);
        }
        ScaleSync& result = results[i];
        result.foreseen = true;
        CopyFigures(group->plan, result);
        result.pending =
            ExceedsRemovalCap(options, group->plan) ? 0 : group->plan.sent + group->plan.removed;
    }
}

}  // namespace vudaduv::fleet
