#include "scale_link.h"

#include <memory>

#include "lines.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

namespace {

// The command list of the send, each command with the data line it came from; every line is
// encoded once.
void BuildCommands(uint32_t recordType, const std::vector<std::string>& lines, bool en,
                   SendOutcome& outcome) {
    if (!RecordTypeOf(recordType).takesDataLine) {
        outcome.commands = BuildCommandList(recordType, std::vector<std::string>(), en);
        outcome.lineOfCommand.assign(outcome.commands.size(), kNoDataLine);
        return;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string> one{LineToSend(recordType, lines[i])};
        for (std::string& command : BuildCommandList(recordType, one, en)) {
            outcome.commands.push_back(std::move(command));
            outcome.lineOfCommand.push_back(i);
        }
    }
}

}  // namespace

// The codec's upload lines, split again where a decoded text holds a line break, as the tool
// shows and compares lines (the codec keeps such a break inside its record's line).
std::vector<std::string> UploadLinesOf(const std::vector<std::string>& replies, bool en) {
    std::string text;
    for (const std::string& line : UploadLinesOfReplies(replies, en)) text += line + "\r\n";
    return SplitLines(text);
}

std::vector<ScaleResult> SendCommands(const ScaleLink& link,
                                      const std::vector<std::string>& targets,
                                      const std::vector<std::string>& commands,
                                      const SendProgress& progress) {
    std::vector<ScaleResult> scales;
    if (link.serial) {
        transport::SerialResult serial = transport::SendOverSerialLine(link.serialLink, commands);
        ScaleResult scale;
        scale.code = serial.code;
        scale.answered = static_cast<uint32_t>(serial.replies.size());
        scale.replies = std::move(serial.replies);
        scale.uploadLines = UploadLinesOf(scale.replies, link.en);
        scales.push_back(std::move(scale));
        return scales;
    }
    auto shared = std::make_shared<const std::vector<std::string>>(commands);
    std::vector<transport::ScaleJob> jobs;
    for (const std::string& target : targets) jobs.push_back({target, shared});
    transport::SendObserver observer;
    observer.stop = link.stop;
    if (progress.lineAnswered) observer.lineAnswered = progress.lineAnswered;
    if (progress.scaleDone) {
        observer.scaleDone = [&progress](std::size_t index, const transport::ScaleResult& result) {
            progress.scaleDone(index, result.code);
        };
    }
    std::vector<transport::ScaleResult> results =
        transport::SendToScales(jobs, link.settings, observer);
    for (std::size_t i = 0; i < results.size(); ++i) {
        ScaleResult scale{targets[i],
                          results[i].code,
                          static_cast<uint32_t>(results[i].replies.size()),
                          results[i].connections,
                          results[i].milliseconds,
                          std::move(results[i].replies),
                          {}};
        scale.uploadLines = UploadLinesOf(scale.replies, link.en);
        scales.push_back(std::move(scale));
    }
    return scales;
}

std::string RoadName(const ScaleLink& link) {
    return link.serial ? "the serial line" : "TCP";
}

SendOutcome SendLines(const ScaleLink& link, uint32_t recordType,
                      const std::vector<std::string>& lines, const SendProgress& progress) {
    SendOutcome outcome;
    BuildCommands(recordType, lines, link.en, outcome);
    if (outcome.commands.empty()) {
        outcome.nothingToSend = true;
        return outcome;
    }
    outcome.scales = SendCommands(link, link.targets, outcome.commands, progress);
    return outcome;
}

std::string FailureCause(const ScaleResult& scale, std::size_t commandCount) {
    return transport::TransportFailure(scale.code, scale.answered, commandCount, scale.connections);
}

std::string ScaleFailureCause(const ScaleResult& scale, std::size_t commandCount) {
    std::string cause = FailureCause(scale, commandCount);
    if (!cause.empty()) return cause;
    std::size_t wrong = 0;
    for (const std::string& reply : scale.replies) wrong += IsScaleAnswer(reply) ? 0 : 1;
    if (wrong == 0) return "";
    return std::to_string(wrong) + " of " + std::to_string(commandCount) +
           " command line(s) answered with an error or with no scale's reply";
}

}  // namespace vudaduv::cli
