// A test double for both transport libraries: it records what the exports hand over and
// answers as the test scripts it, leaving replies in "Rec.txt" like a real transport.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "temp_directory.h"
#include "vudaduv.h"

namespace vudaduv::testing {

enum class Transport { kSendData, kCommSendData };

// A deep copy of one record as the transport saw it during the call.
struct RecordCopy {
    const void* address = nullptr;
    std::vector<std::string> targets;
    std::vector<std::string> lines;
    std::vector<uint32_t> values;
    uint32_t link = 0;
    bool heldNullString = false;  // a list held a NULL string (or NULL items with a count)
};

struct TransportCall {
    Transport transport;
    RecordCopy first;   // SendData: the target record; COMMSendData: the request record
    RecordCopy second;  // the command record
};

struct TransportDouble {
    std::vector<TransportCall> calls;
    int32_t result = 0;
    // Runs inside the call with the command lines, to leave the scale's replies behind.
    std::function<void(const std::vector<std::string>& commandLines)> leaveReplies;
};

// The one double of the process; a test starts by assigning it a fresh value.
TransportDouble& Transports();

// Appends reply lines to "Rec.txt" as the real transports do, one per line with CR LF.
void AppendReplies(const std::vector<std::string>& replies);

// A test in a fresh temporary directory of its own, with a fresh double before and after.
class WithFreshTransports : public InTempDirectory {
  protected:
    void SetUp() override {
        InTempDirectory::SetUp();
        Transports() = {};
    }
    void TearDown() override {
        Transports() = {};
        InTempDirectory::TearDown();
    }
};

}  // namespace vudaduv::testing
