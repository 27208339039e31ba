// Requests of the three record kinds for the six exports, built from plain lists, so that a
// test can run one case through every export.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport_double.h"
#include "vudaduv.h"

namespace vudaduv::testing {

enum class Export { kTcp, kTcpEn, kTcpSt, kTcpStEn, kComm, kCommEn };

struct ExportInfo {
    Export which;
    const char* name;
    bool en;
    Transport transport;
};

inline constexpr ExportInfo kAllExports[] = {
    {Export::kTcp, "WQTCPSend", false, Transport::kSendData},
    {Export::kTcpEn, "WQTCPSendEn", true, Transport::kSendData},
    {Export::kTcpSt, "WQTCPSendST", false, Transport::kSendData},
    {Export::kTcpStEn, "WQTCPSendSTEn", true, Transport::kSendData},
    {Export::kComm, "WQCOMMSend", false, Transport::kCommSendData},
    {Export::kCommEn, "WQCOMMSendEn", true, Transport::kCommSendData},
};

// One request in all three record kinds. The records point into the lists held here, so a
// Requests object stays where it was made.
class Requests {
  public:
    Requests(uint32_t recordType, std::vector<const char*> lines);
    Requests(const Requests&) = delete;
    Requests& operator=(const Requests&) = delete;

    int32_t Send(Export which) const;
    // The request record that the export of this kind takes.
    const void* RecordFor(Export which) const;

    std::vector<const char*> lineItems;
    std::vector<const char*> targetItems{"127.0.0.1:4001", "[::1]"};
    std::vector<uint32_t> valueItems{250, 250, 1};
    WQTCP tcp{};
    WQST st{};
    WQCOMM comm{};
};

}  // namespace vudaduv::testing
