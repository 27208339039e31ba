// SendData: every target gets the whole command list on a connection of its own, all targets
// at once; the replies go to "Rec.txt" afterwards, grouped per target in the order of targets.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/record_lists.h"
#include "common/upload_append.h"
#include "datasend/send_settings.h"
#include "datasend/serve_target.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

namespace {

// Enough for a shop full of scales; more targets wait for a free thread.
constexpr std::size_t kMostThreads = 64;

// Serves every target on up to kMostThreads threads, the calling thread among them. When no
// thread can be started the calling thread serves them all.
std::vector<TargetOutcome> ServeAllTargets(const std::vector<std::string>& addresses,
                                           const std::vector<std::string>& commands,
                                           const SendSettings& settings) {
    std::vector<TargetOutcome> outcomes(addresses.size());
    std::atomic<std::size_t> next{0};
    auto serveNext = [&]() noexcept {
        for (std::size_t i = next++; i < addresses.size(); i = next++) {
            outcomes[i] = ServeTarget(addresses[i], commands, settings);
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(std::min(addresses.size(), kMostThreads) - 1);
    for (std::size_t i = 1; i < std::min(addresses.size(), kMostThreads); ++i) {
        try {
            helpers.emplace_back(serveNext);
        } catch (...) {
            break;  // the threads that did start, and this one, share the rest
        }
    }
    serveNext();
    for (std::thread& helper : helpers) helper.join();
    return outcomes;
}

// The code of the first failing target in the order of targets, else whether the replies
// could be kept.
std::int32_t AppendRepliesAndPickResult(const std::vector<TargetOutcome>& outcomes) {
    std::vector<std::string> replies;
    for (const TargetOutcome& outcome : outcomes) {
        replies.insert(replies.end(), outcome.replies.begin(), outcome.replies.end());
    }
    bool appended = AppendRepliesToUploadFile(replies);
    for (const TargetOutcome& outcome : outcomes) {
        if (outcome.code != WQDS_OK) return outcome.code;
    }
    return appended ? WQDS_OK : WQDS_UPLOAD_FILE;
}

std::int32_t SendToAllTargets(const WQST& target, const WQST& command) {
    std::vector<std::string> addresses = ReadStringList(target.targets);
    if (addresses.empty()) return WQDS_BAD_REQUEST;
    std::vector<std::string> commands = ReadCommandLines(command.lines);
    if (commands.empty()) return WQDS_OK;
    SendSettings settings = ReadSendSettings(target.values);
    return AppendRepliesAndPickResult(ServeAllTargets(addresses, commands, settings));
}

}  // namespace

}  // namespace vudaduv::transport

extern "C" WQDATASEND_API int32_t WQ_CALL SendData(const WQST* target, const WQST* command) {
    if (target == nullptr || command == nullptr) return WQDS_BAD_REQUEST;
    try {
        return vudaduv::transport::SendToAllTargets(*target, *command);
    } catch (...) {
        return WQDS_INTERNAL;  // memory ran out before or after the targets were served
    }
}
