// SendData: the transport core's send with the same command list for every target; the replies
// go to "Rec.txt" afterwards, grouped per target in the order of targets.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "c_entry/record_lists.h"
#include "c_entry/send_settings.h"
#include "c_entry/upload_append.h"
#include "vudaduv_transport.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

namespace {

// The caller's view of one target.
WQDSOutcome ReportedOutcome(const ScaleResult& outcome) {
    return WQDSOutcome{outcome.code, static_cast<std::uint32_t>(outcome.replies.size()),
                       outcome.connections, outcome.milliseconds};
}

// The caller's view of each target, for as many targets as it has room for.
void ReportOutcomes(const std::vector<ScaleResult>& outcomes, WQDSOutcome* reported,
                    std::uint32_t room) {
    std::size_t count = std::min<std::size_t>(outcomes.size(), room);
    for (std::size_t i = 0; i < count; ++i) reported[i] = ReportedOutcome(outcomes[i]);
}

// The caller's progress callback, told of each target as it is done.
struct Progress {
    WQDSTargetDone done = nullptr;
    void* context = nullptr;
};

SendObserver TellTheCaller(const Progress& progress) {
    SendObserver observer;
    if (progress.done == nullptr) return observer;
    observer.scaleDone = [progress](std::size_t index, const ScaleResult& outcome) {
        WQDSOutcome reported = ReportedOutcome(outcome);
        progress.done(progress.context, static_cast<std::uint32_t>(index), &reported);
    };
    return observer;
}

// Replies that could not be kept are lost to the caller whatever the scales did, so that
// outweighs every target's code; else the code of the first failing target in the order of
// targets.
std::int32_t AppendRepliesAndPickResult(const std::vector<ScaleResult>& outcomes) {
    if (!AppendRepliesToUploadFile(outcomes)) return WQDS_UPLOAD_FILE;
    for (const ScaleResult& outcome : outcomes) {
        if (outcome.code != WQDS_OK) return outcome.code;
    }
    return WQDS_OK;
}

std::int32_t SendToAllTargets(const WQST& target, const WQST& command, WQDSOutcome* reported,
                              std::uint32_t room, const Progress& progress) {
    std::vector<std::string> addresses = ReadStringList(target.targets);
    if (addresses.empty()) return WQDS_BAD_REQUEST;
    auto commands =
        std::make_shared<const std::vector<std::string>>(ReadCommandLines(command.lines));
    if (commands->empty()) return WQDS_OK;
    std::vector<ScaleJob> jobs;
    jobs.reserve(addresses.size());
    for (std::string& address : addresses) jobs.push_back({std::move(address), commands});
    std::vector<ScaleResult> outcomes =
        SendToScales(jobs, ReadSendSettings(target.values), TellTheCaller(progress));
    ReportOutcomes(outcomes, reported, room);
    return AppendRepliesAndPickResult(outcomes);
}

std::int32_t SendAtTheBoundary(const WQST* target, const WQST* command, WQDSOutcome* reported,
                               std::uint32_t room, const Progress& progress = {}) noexcept {
    if (target == nullptr || command == nullptr) return WQDS_BAD_REQUEST;
    if (reported == nullptr) room = 0;
    try {
        return SendToAllTargets(*target, *command, reported, room, progress);
    } catch (...) {
        return WQDS_INTERNAL;  // memory ran out before or after the targets were served
    }
}

}  // namespace

}  // namespace vudaduv::transport

extern "C" WQDATASEND_API int32_t WQ_CALL SendData(const WQST* target, const WQST* command) {
    return vudaduv::transport::SendAtTheBoundary(target, command, nullptr, 0);
}

extern "C" WQDATASEND_API int32_t WQ_CALL SendDataWithOutcomes(const WQST* target,
                                                               const WQST* command,
                                                               WQDSOutcome* outcomes,
                                                               uint32_t count) {
    return vudaduv::transport::SendAtTheBoundary(target, command, outcomes, count);
}

extern "C" WQDATASEND_API int32_t WQ_CALL SendDataWithProgress(const WQST* target,
                                                               const WQST* command,
                                                               WQDSOutcome* outcomes,
                                                               uint32_t count, WQDSTargetDone done,
                                                               void* context) {
    return vudaduv::transport::SendAtTheBoundary(target, command, outcomes, count, {done, context});
}
