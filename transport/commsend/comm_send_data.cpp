// COMMSendData: the transport core's serial send, its replies appended to "Rec.txt".
#include <cstdint>
#include <string>
#include <vector>

#include "c_entry/record_lists.h"
#include "c_entry/upload_append.h"
#include "vudaduv_transport.h"
#include "wqcommsend.h"

namespace vudaduv::transport {

namespace {

std::int32_t SendOverLink(const WQCOMM& command) {
    std::vector<std::string> commands = ReadCommandLines(command.lines);
    SerialResult result = SendOverSerialLine(command.link, commands);
    // A bad link, or nothing to send: "Rec.txt" is left alone.
    if (result.code == WQCS_BAD_REQUEST || commands.empty()) return result.code;
    // Lost replies outweigh a failing line: the application must know they are gone.
    if (!AppendRepliesToUploadFile(result.replies)) return WQCS_UPLOAD_FILE;
    return result.code;
}

}  // namespace

}  // namespace vudaduv::transport

extern "C" WQCOMMSEND_API int32_t WQ_CALL COMMSendData(const WQCOMM* request,
                                                       const WQCOMM* command) {
    if (request == nullptr || command == nullptr) return WQCS_BAD_REQUEST;
    try {
        return vudaduv::transport::SendOverLink(*command);
    } catch (...) {
        return WQCS_INTERNAL;  // memory ran out
    }
}
