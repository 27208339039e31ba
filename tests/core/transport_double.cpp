#include "transport_double.h"

#include <fstream>

#include "wqcommsend.h"
#include "wqdatasend.h"

namespace vudaduv::testing {

namespace {

std::vector<std::string> CopyStrings(const WQStringList& list, bool& heldNull) {
    std::vector<std::string> out;
    if (list.items == nullptr) {
        heldNull = heldNull || list.count != 0;
        return out;
    }
    for (uint32_t i = 0; i < list.count; ++i) {
        heldNull = heldNull || list.items[i] == nullptr;
        out.emplace_back(list.items[i] ? list.items[i] : "");
    }
    return out;
}

RecordCopy CopyRecord(const WQST* record) {
    RecordCopy copy;
    copy.address = record;
    if (record == nullptr) return copy;
    copy.targets = CopyStrings(record->targets, copy.heldNullString);
    copy.lines = CopyStrings(record->lines, copy.heldNullString);
    if (record->values.items != nullptr) {
        copy.values.assign(record->values.items, record->values.items + record->values.count);
    } else {
        copy.heldNullString = copy.heldNullString || record->values.count != 0;
    }
    return copy;
}

RecordCopy CopyRecord(const WQCOMM* record) {
    RecordCopy copy;
    copy.address = record;
    if (record == nullptr) return copy;
    copy.lines = CopyStrings(record->lines, copy.heldNullString);
    copy.link = record->link;
    return copy;
}

int32_t Answer(Transport transport, RecordCopy first, RecordCopy second) {
    TransportDouble& double_ = Transports();
    std::vector<std::string> commandLines = second.lines;
    double_.calls.push_back({transport, std::move(first), std::move(second)});
    if (double_.leaveReplies) double_.leaveReplies(commandLines);
    return double_.result;
}

}  // namespace

TransportDouble& Transports() {
    static TransportDouble instance;
    return instance;
}

void AppendReplies(const std::vector<std::string>& replies) {
    std::ofstream out("Rec.txt", std::ios::binary | std::ios::app);
    for (const std::string& reply : replies) out << reply << "\r\n";
}

}  // namespace vudaduv::testing

using vudaduv::testing::Transport;

extern "C" int32_t WQ_CALL SendData(const WQST* target, const WQST* command) {
    return vudaduv::testing::Answer(Transport::kSendData, vudaduv::testing::CopyRecord(target),
                                    vudaduv::testing::CopyRecord(command));
}

extern "C" int32_t WQ_CALL COMMSendData(const WQCOMM* request, const WQCOMM* command) {
    return vudaduv::testing::Answer(Transport::kCommSendData, vudaduv::testing::CopyRecord(request),
                                    vudaduv::testing::CopyRecord(command));
}
