#include "scale_link.h"

#include <algorithm>

#include "lines.h"
#include "vudaduv.h"

namespace vudaduv::cli {

namespace {

// Views of the strings as the exports take them; the strings must outlive the list.
struct StringListView {
    explicit StringListView(const std::vector<std::string>& strings) {
        pointers.reserve(strings.size());
        for (const std::string& s : strings) pointers.push_back(s.c_str());
    }
    WQStringList List() const {
        return WQStringList{pointers.data(), static_cast<uint32_t>(pointers.size())};
    }
    std::vector<const char*> pointers;
};

int32_t SendOverSerial(const ScaleLink& link, uint32_t recordType, const WQStringList& lines) {
    WQCOMM request{link.serialLink, lines, recordType};
    return link.en ? WQCOMMSendEn(&request) : WQCOMMSend(&request);
}

int32_t SendWithSettings(const ScaleLink& link, uint32_t recordType, const WQStringList& targets,
                         const WQStringList& lines) {
    WQValueList values{link.values.data(), static_cast<uint32_t>(link.values.size())};
    WQST request{targets, lines, values, recordType};
    return link.en ? WQTCPSendSTEn(&request) : WQTCPSendST(&request);
}

int32_t SendPlain(const ScaleLink& link, uint32_t recordType, const WQStringList& targets,
                  const WQStringList& lines) {
    WQTCP request{targets, lines, recordType};
    return link.en ? WQTCPSendEn(&request) : WQTCPSend(&request);
}

// Folds the result of one more batch into the result so far: a failure outweighs a send, a
// send outweighs nothing to send.
int32_t CombineResults(int32_t sofar, int32_t next, bool first) {
    if (first || sofar == WQ_NOTHING_TO_SEND) return next;
    return next == WQ_NOTHING_TO_SEND ? sofar : next;
}

}  // namespace

std::string ExportName(const ScaleLink& link) {
    std::string name = link.serial ? "WQCOMMSend" : "WQTCPSend";
    if (!link.serial && !link.values.empty()) name += "ST";
    return link.en ? name + "En" : name;
}

int32_t SendThroughLibrary(const ScaleLink& link, uint32_t recordType,
                           const std::vector<std::string>& lines) {
    StringListView lineView(lines);
    if (link.serial) return SendOverSerial(link, recordType, lineView.List());
    StringListView targetView(link.targets);
    if (!link.values.empty()) {
        return SendWithSettings(link, recordType, targetView.List(), lineView.List());
    }
    return SendPlain(link, recordType, targetView.List(), lineView.List());
}

std::string ResultWords(int32_t result) {
    switch (result) {
        case WQ_OK:
            return "sent";
        case WQ_NOTHING_TO_SEND:
            return "nothing to send";
        case WQ_TRANSPORT_FAILED:
            return "transport failed";
        case WQ_UPLOAD_FILE_FAILED:
            return "upload file not written";
        default:
            return "unknown result";
    }
}

SendOutcome SendAndCollect(const ScaleLink& link, uint32_t recordType,
                           const std::vector<std::string>& lines, std::size_t batchSize,
                           const Progress& progress) {
    std::string before = ReadUploadFile();
    SendOutcome outcome;
    std::size_t step = batchSize == 0 || !RecordTypeReadsDataLines(recordType)
                           ? std::max<std::size_t>(lines.size(), 1)
                           : batchSize;
    std::size_t done = 0;
    do {
        std::size_t count = std::min(step, lines.size() - done);
        std::vector<std::string> batch(lines.begin() + static_cast<std::ptrdiff_t>(done),
                                       lines.begin() + static_cast<std::ptrdiff_t>(done + count));
        outcome.result =
            CombineResults(outcome.result, SendThroughLibrary(link, recordType, batch), done == 0);
        done += count;
        if (progress) progress(done, lines.size());
    } while (done < lines.size() && outcome.result != WQ_TRANSPORT_FAILED &&
             outcome.result != WQ_UPLOAD_FILE_FAILED);
    outcome.uploadLines = AddedUploadLines(before, ReadUploadFile(), link.en);
    return outcome;
}

}  // namespace vudaduv::cli
