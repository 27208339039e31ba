// A restore: an image's records written back to a scale as they stand, every line as the record
// type of its prefix and in the image's order, whatever the scale holds now. Unlike a sync it
// neither reads the scale first nor keeps a state: what send --image does.
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

std::vector<std::string> RestoreCommands(const std::vector<uint32_t>& types,
                                         const std::vector<std::string>& dataLines, bool en) {
    std::vector<std::string> commands;
    for (std::size_t i = 0; i < types.size() && i < dataLines.size(); ++i) {
        std::vector<std::string> one = BuildCommandList(types[i], {dataLines[i]}, en);
        commands.insert(commands.end(), one.begin(), one.end());
    }
    return commands;
}

}  // namespace vudaduv::fleet
