// The classes of a scale's reply lines: an answer, an error, or no scale's reply at all. The
// check, the fleet's reads and the tool's report of a send each sort replies by these rules, so
// a reply counts the same everywhere.
#include "vudaduv_model.h"

namespace vudaduv::model {

bool IsErrorReply(std::string_view reply) {
    return reply.substr(0, 2) == "0e";
}

bool IsScaleAnswer(std::string_view reply) {
    return reply.size() >= 2 && reply[0] == '0' && reply[1] >= 'a' && reply[1] <= 'z' &&
           !IsErrorReply(reply);
}

bool IsEmptySlotReply(std::string_view reply) {
    return reply.substr(0, 2) == "0f";
}

}  // namespace vudaduv::model
