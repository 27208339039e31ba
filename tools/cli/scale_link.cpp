#include "scale_link.h"

#include "vudaduv_model.h"
#include "lines.h"
#include "vudaduv_codec.h"
#include "upload/upload.h"
#include "vudaduv.h"
#include "wqdatasend.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

namespace {

// Views of the strings as the C records take them; the strings must outlive the list.
struct StringListView {
    explicit StringListView(const std::vector<std::string>& strings) {
        pointers.reserve(strings.size());
        for (const std::string& s : strings) pointers.push_back(s.c_str());
    }
    WQStringList List() const {
        return WQStringList{pointers.empty() ? nullptr : pointers.data(),
                            static_cast<uint32_t>(pointers.size())};
    }
    std::vector<const char*> pointers;
};

// The command list of the send, each command with the data line it came from.
void BuildCommands(uint32_t recordType, const std::vector<std::string>& lines, bool en,
                   SendOutcome& outcome) {
    if (!RecordTypeOf(recordType).takesDataLine) {
        outcome.commands = BuildCommandList(recordType, {}, en);
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

// What the transport appended to the upload file: what follows the bytes it held before, without
// the line end it puts first when the file's last line was left open.
std::string AppendedBytes(const std::string& before, const std::string& after) {
    if (after.compare(0, before.size(), before) != 0) return after;
    std::string appended = after.substr(before.size());
    bool lineLeftOpen = !before.empty() && before.back() != '\n' && before.back() != '\r';
    if (lineLeftOpen && appended.compare(0, 2, "\r\n") == 0) appended.erase(0, 2);
    return appended;
}

// The transport's progress callback, handed on to the tool's.
// The transport's progress callback, handed on to the tool's; nothing is thrown back into the
// transport.
void WQ_CALL TellScaleDone(void* context, uint32_t index, const WQDSOutcome* outcome) {
    try {
        (*static_cast<ScaleDone*>(context))(index, outcome->code);
    } catch (...) {
        // progress is for show: the send goes on without it
    }
}

void SendOverNetwork(const ScaleLink& link, bool en, const ScaleDone& scaleDone,
                     SendOutcome& outcome) {
    StringListView targets(link.targets);
    StringListView commands(outcome.commands);
    WQValueList values{link.values.empty() ? nullptr : link.values.data(),
                       static_cast<uint32_t>(link.values.size())};
    WQST target{targets.List(), WQStringList{nullptr, 0}, values, 0};
    WQST command{WQStringList{nullptr, 0}, commands.List(), WQValueList{nullptr, 0}, 0};
    std::vector<WQDSOutcome> outcomes(link.targets.size(), WQDSOutcome{WQDS_INTERNAL, 0, 0, 0});

    std::string before = ReadUploadFile();
    ScaleDone tell = scaleDone;
    int32_t result = SendDataWithProgress(&target, &command, outcomes.data(),
                                          static_cast<uint32_t>(outcomes.size()),
                                          tell ? TellScaleDone : nullptr, &tell);
    std::vector<std::string> replies = SplitLines(AppendedBytes(before, ReadUploadFile()));
    outcome.uploadFileWritten = RewriteUploadFile(en) && result != WQDS_UPLOAD_FILE;

    std::size_t next = 0;
    for (std::size_t i = 0; i < link.targets.size(); ++i) {
        ScaleResult scale{link.targets[i], outcomes[i].code, outcomes[i].answered,
                          outcomes[i].connections, outcomes[i].milliseconds, {}, {}};
        for (uint32_t n = 0; n < scale.answered && next < replies.size(); ++n) {
            scale.replies.push_back(replies[next++]);
        }
        std::string text;
        for (const std::string& reply : scale.replies) text += reply + "\r\n";
        scale.uploadLines = SplitLines(ConvertUploadText(text, en));
        outcome.scales.push_back(std::move(scale));
    }
}

void SendOverSerial(const ScaleLink& link, uint32_t recordType,
                    const std::vector<std::string>& lines, SendOutcome& outcome) {
    std::vector<std::string> toSend;
    for (const std::string& line : lines) toSend.push_back(LineToSend(recordType, line));
    StringListView lineView(toSend);
    WQCOMM request{link.serialLink, lineView.List(), recordType};
    std::string before = ReadUploadFile();
    int32_t result = link.en ? WQCOMMSendEn(&request) : WQCOMMSend(&request);
    ScaleResult scale;
    scale.code = result == WQ_TRANSPORT_FAILED ? WQDS_INTERNAL : 0;
    outcome.uploadFileWritten = result != WQ_UPLOAD_FILE_FAILED;
    scale.uploadLines = AddedUploadLines(before, ReadUploadFile(), link.en);
    outcome.scales.push_back(std::move(scale));
}

}  // namespace

std::string ExportName(const ScaleLink& link) {
    std::string name = link.serial ? "WQCOMMSend" : "WQTCPSend";
    if (!link.serial && !link.values.empty()) name += "ST";
    return link.en ? name + "En" : name;
}

SendOutcome SendLines(const ScaleLink& link, uint32_t recordType,
                      const std::vector<std::string>& lines, const ScaleDone& scaleDone) {
    SendOutcome outcome;
    BuildCommands(recordType, lines, link.en, outcome);
    if (outcome.commands.empty()) {
        outcome.nothingToSend = true;
        return outcome;
    }
    if (link.serial) {
        SendOverSerial(link, recordType, lines, outcome);
    } else {
        SendOverNetwork(link, link.en, scaleDone, outcome);
    }
    return outcome;
}

std::string FailureCause(const ScaleResult& scale, std::size_t commandCount) {
    std::string tries = std::to_string(scale.connections) +
                        (scale.connections == 1 ? " try" : " tries");
    std::string answered = "; " + std::to_string(scale.answered) + " of " +
                           std::to_string(commandCount) + " command line(s) answered";
    switch (scale.code) {
        case WQDS_OK:
            return "";
        case WQDS_BAD_ADDRESS:
            return "the address cannot be resolved";
        case WQDS_REFUSED:
            return "refused or unreachable (" + tries + ")" + answered;
        case WQDS_TIMEOUT:
            return "timed out after " + tries + answered;
        case WQDS_CLOSED:
            return "the scale closed the connection (" + tries + ")" + answered;
        case WQDS_REPLY_TOO_LONG:
            return "a reply too long" + answered;
        case WQDS_UPLOAD_FILE:
            return "\"Rec.txt\" could not be written";
        default:
            return scale.name.empty() ? "the serial transport failed"
                                      : "failure on this machine" + answered;
    }
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
