// The plans of a sync as people and change control read them: a dry run prints each plan once,
// with the scales that share it, every change named by its record ("remove message 22 (type
// 3)"); --plan-out saves them, and --apply sends exactly a saved plan, or nothing when it has
// gone stale.
#pragma once

#include <string>
#include <vector>

#include "vudaduv_fleet.h"

namespace vudaduv::cli {

// The number of each scale's plan among the distinct plans with changes, from 1, in the order of
// the scales; 0 for a scale with nothing planned.
std::vector<std::size_t> PlanNumbers(const std::vector<fleet::ScaleSync>& scales);

// Each plan with changes once: "plan N, for K scale(s): ADDR, ..." and its changes, one a line
// ("  send item 0001 (type 1): 1A1##Tea", "  remove item 0003 (type 1)"), texts in charset.
std::string PlansText(const std::vector<fleet::ScaleSync>& scales, const std::string& charset);

// The saved plan of a dry run, its changes' texts in charset (fleet::SavedPlanFile).
std::string PlanFile(const std::string& listPath, const std::string& listDigest,
                     const std::vector<fleet::ScaleSync>& scales, const std::string& charset);

}  // namespace vudaduv::cli
