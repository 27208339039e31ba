// The way to the scales: a send of data lines as the library's exports make it, with what each
// scale answered and what its answers became in "Rec.txt".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vudaduv::cli {

struct ScaleLink {
    std::vector<std::string> targets;  // network scales; unused on a serial line
    bool serial = false;
    uint32_t serialLink = 0;       // the open line, for the serial exports
    std::vector<uint32_t> values;  // settings of the network transport (see wqdatasend.h)
    bool en = false;               // code-page text: the En exports
};

// The export whose send a send over link makes, e.g. "WQTCPSendEn".
std::string ExportName(const ScaleLink& link);

// What became of one scale in a send.
struct ScaleResult {
    std::string name;  // its address; "" for the serial line
    int32_t code = 0;  // the network transport's code (wqdatasend.h); the serial one: 0 or not
    uint32_t answered = 0;
    uint32_t connections = 0;
    uint32_t milliseconds = 0;
    std::vector<std::string> replies;      // the reply lines of this send (network scales)
    std::vector<std::string> uploadLines;  // what this send's replies became in "Rec.txt"
};

struct SendOutcome {
    bool nothingToSend = false;  // no data line gave a command line: nothing was sent
    bool uploadFileWritten = true;
    std::vector<std::string> commands;       // as sent, in order
    std::vector<std::size_t> lineOfCommand;  // the data line each command came from
    std::vector<ScaleResult> scales;         // in the order of link.targets
};

constexpr std::size_t kNoDataLine = static_cast<std::size_t>(-1);

// Told of each network scale as the transport is done with it: its index in link.targets and
// its code, while the send goes on.
using ScaleDone = std::function<void(std::size_t index, int32_t code)>;

// Sends the data lines: network scales as the network exports do (the codec's command list,
// the transport with its outcomes per scale, the rewrite of "Rec.txt"), a serial line through
// the serial export.
SendOutcome SendLines(const ScaleLink& link, uint32_t recordType,
                      const std::vector<std::string>& lines, const ScaleDone& scaleDone = {});

// Why a network scale was not served, from its outcome; "" when it was.
std::string FailureCause(const ScaleResult& scale, std::size_t commandCount);

// Why a network scale failed: not served, or it answered with an error or with no scale's
// reply; "" when neither.
std::string ScaleFailureCause(const ScaleResult& scale, std::size_t commandCount);

}  // namespace vudaduv::cli
