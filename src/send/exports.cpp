// The six exports: build the command list, call the transport once, rewrite "Rec.txt". Every
// failure inside becomes a result code; nothing is thrown across this boundary.
#include <cstdint>
#include <string>
#include <vector>

#include "send/command_list.h"
#include "upload/upload.h"
#include "upload/upload_file_lock.h"
#include "vudaduv.h"
#include "wqcommsend.h"
#include "wqdatasend.h"

namespace {

// A caller-visible string list over strings that this call owns.
class OwnedStringList {
  public:
    explicit OwnedStringList(std::vector<std::string> strings) : strings_(std::move(strings)) {
        pointers_.reserve(strings_.size());
        for (const std::string& s : strings_) pointers_.push_back(s.c_str());
    }
    WQStringList View() const {
        return WQStringList{pointers_.empty() ? nullptr : pointers_.data(),
                            static_cast<uint32_t>(pointers_.size())};
    }

  private:
    std::vector<std::string> strings_;
    std::vector<const char*> pointers_;
};

constexpr WQStringList kEmptyStrings{nullptr, 0};
constexpr WQValueList kEmptyValues{nullptr, 0};

// The road every export shares. callTransport gets the command list and returns the transport's
// result; the rewrite runs whatever that result is.
template <typename CallTransport>
int32_t Send(uint32_t recordType, const WQStringList& lines, bool en,
             CallTransport callTransport) noexcept {
    try {
        std::vector<std::string> commands = vudaduv::BuildCommandList(recordType, lines, en);
        if (commands.empty()) return WQ_NOTHING_TO_SEND;
        if constexpr (sizeof(std::size_t) > sizeof(uint32_t)) {
            // The command record counts its lines in 32 bits.
            if (commands.size() > UINT32_MAX) return WQ_UPLOAD_FILE_FAILED;
        }
        OwnedStringList commandList(std::move(commands));
        // The transport's replies must reach the rewrite before another call's rewrite replaces
        // the file they are in; the lock is left on every way out.
        vudaduv::UploadFileLock uploadFileLock;
        int32_t transportResult = callTransport(commandList.View());
        if (!vudaduv::RewriteUploadFile(en)) return WQ_UPLOAD_FILE_FAILED;
        return transportResult == 0 ? WQ_OK : WQ_TRANSPORT_FAILED;
    } catch (...) {
        // Memory ran out: the records built for the call are released on the way out.
        return WQ_UPLOAD_FILE_FAILED;
    }
}

int32_t SendOverTcp(const WQTCP* request, bool en) {
    if (request == nullptr) return WQ_NOTHING_TO_SEND;
    return Send(request->record_type, request->lines, en, [request](WQStringList commands) {
        OwnedStringList targets(vudaduv::ReadStringList(request->targets));
        WQST target{targets.View(), kEmptyStrings, kEmptyValues, 0};
        WQST command{kEmptyStrings, commands, kEmptyValues, 0};
        return SendData(&target, &command);
    });
}

int32_t SendOverTcpWithOwnRecord(const WQST* request, bool en) {
    if (request == nullptr) return WQ_NOTHING_TO_SEND;
    return Send(request->record_type, request->lines, en, [request](WQStringList commands) {
        WQST command{kEmptyStrings, commands, kEmptyValues, 0};
        return SendData(request, &command);
    });
}

int32_t SendOverSerial(const WQCOMM* request, bool en) {
    if (request == nullptr) return WQ_NOTHING_TO_SEND;
    return Send(request->record_type, request->lines, en, [request](WQStringList commands) {
        WQCOMM command{request->link, commands, 0};
        return COMMSendData(request, &command);
    });
}

}  // namespace

extern "C" {

VUDADUV_API int32_t WQ_CALL WQTCPSend(const WQTCP* request) {
    return SendOverTcp(request, false);
}
VUDADUV_API int32_t WQ_CALL WQTCPSendEn(const WQTCP* request) {
    return SendOverTcp(request, true);
}
VUDADUV_API int32_t WQ_CALL WQTCPSendST(const WQST* request) {
    return SendOverTcpWithOwnRecord(request, false);
}
VUDADUV_API int32_t WQ_CALL WQTCPSendSTEn(const WQST* request) {
    return SendOverTcpWithOwnRecord(request, true);
}
VUDADUV_API int32_t WQ_CALL WQCOMMSend(const WQCOMM* request) {
    return SendOverSerial(request, false);
}
VUDADUV_API int32_t WQ_CALL WQCOMMSendEn(const WQCOMM* request) {
    return SendOverSerial(request, true);
}

}  // extern "C"
