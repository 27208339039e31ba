// What the parts of the fleet library share: the records that the replies to the read requests
// of a set of slots give; and the state directory (state_dir.h), its files and lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "state_dir.h"
#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

// The read requests of slots, in order, as the model builds them (model::BuildReadRequests),
// and how many command lines each slot takes.
using ReadList = model::ReadRequests;

// What the replies to a read list gave, from replies[first] on.
struct ReadOutcome {
    std::vector<RecordKey> answered;  // slots whose every read was answered
    Image image;                      // their records that came back whole
    std::vector<std::string> broken;  // "KEY: why" of those that did not
    // Why the replies are no reading of the scale (error replies, or lines no scale sends),
    // naming the first such reply; "" when every reply is a scale's answer. Such a reading says
    // nothing of what the scale holds: nothing of it is to be kept or trusted.
    std::string failure;
};

ReadOutcome ReadReplies(const ReadList& list, const std::vector<std::string>& replies,
                        std::size_t first, bool en);

}  // namespace vudaduv::fleet
