#include "send_requests.h"

namespace vudaduv::testing {

namespace {

WQStringList ListOf(const std::vector<const char*>& items) {
    // An empty list is passed as NULL items, which the exports accept with a count of 0.
    return {items.empty() ? nullptr : items.data(), static_cast<uint32_t>(items.size())};
}

}  // namespace

Requests::Requests(uint32_t recordType, std::vector<const char*> lines)
    : lineItems(std::move(lines)) {
    tcp = {ListOf(targetItems), ListOf(lineItems), recordType};
    st = {ListOf(targetItems),
          ListOf(lineItems),
          {valueItems.data(), static_cast<uint32_t>(valueItems.size())},
          recordType};
    comm = {0x1234ABCDu, ListOf(lineItems), recordType};
}

int32_t Requests::Send(Export which) const {
    switch (which) {
        case Export::kTcp:
            return WQTCPSend(&tcp);
        case Export::kTcpEn:
            return WQTCPSendEn(&tcp);
        case Export::kTcpSt:
            return WQTCPSendST(&st);
        case Export::kTcpStEn:
            return WQTCPSendSTEn(&st);
        case Export::kComm:
            return WQCOMMSend(&comm);
        case Export::kCommEn:
            return WQCOMMSendEn(&comm);
    }
    return 99;
}

const void* Requests::RecordFor(Export which) const {
    switch (which) {
        case Export::kTcp:
        case Export::kTcpEn:
            return &tcp;
        case Export::kTcpSt:
        case Export::kTcpStEn:
            return &st;
        case Export::kComm:
        case Export::kCommEn:
            return &comm;
    }
    return nullptr;
}

}  // namespace vudaduv::testing
