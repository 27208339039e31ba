// The check's findings of a list as a session takes lines in and gives rows out: the one verdict
// that VDFleetCheck reports and VDFleetSync refuses a list for.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace vudaduv::fleet::c_api {

// The lines of a C list in GBK (a NULL line as ""); a line with no GBK form keeps its bytes and
// gets the finding that it cannot be sent in unsendable (every other line an empty one).
void LinesIn(const Session& session, const char* const* items, uint32_t count,
             std::vector<std::string>& gbk, std::vector<model::Finding>& unsendable);

// One row a finding, in line order: VDFLEET_LINE, VDFLEET_KEY, VDFLEET_FIELD, VDFLEET_WHAT.
void AddFindingRows(Session& session, const std::vector<model::ListFinding>& findings);

}  // namespace vudaduv::fleet::c_api
