// When the last sync on a state directory ended with every scale in step: one number in
// ".last-good", so that a monitor can tell a fleet that has not been in step for days.
#include <string>

#include "fleet_internal.h"

namespace vudaduv::fleet {

int64_t LastGoodSync(const std::string& stateDir) {
    std::string text;
    std::string error;
    if (!ReadFileIfThere(JoinPath(stateDir, kLastGoodFileName), text, error)) return 0;
    // A torn or foreign file reads as "never": the alarm it raises is the safe side.
    int64_t seconds = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && digits < 18 && text[digits] >= '0' && text[digits] <= '9';
         ++digits) {
        seconds = seconds * 10 + (text[digits] - '0');
    }
    return digits > 0 && digits < text.size() && text[digits] == '\n' ? seconds : 0;
}

bool RecordGoodSync(const std::string& dir, int64_t when, std::string& error) {
    return WriteFilesAllOrNothing(dir, {{kLastGoodFileName, std::to_string(when) + "\n"}}, error);
}

}  // namespace vudaduv::fleet
