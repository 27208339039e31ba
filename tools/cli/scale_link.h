// The way to the scales: the codec's command lines, sent through the transport core, each
// scale's replies converted into upload lines in memory. No file is written.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vudaduv_transport.h"

namespace vudaduv::cli {

struct ScaleLink {
    std::vector<std::string> targets;  // network scales; unused on a serial line
    bool serial = false;
    uint32_t serialLink = 0;           // the open line, for the serial exports
    transport::SendSettings settings;  // of a network send
    bool en = false;                   // code-page text: the En exports
    // When set, a network send ends early once it reads true (see transport::SendObserver).
    const std::atomic<bool>* stop = nullptr;
};

// "TCP" or "the serial line", for the progress line.
std::string RoadName(const ScaleLink& link);

// What became of one scale in a send.
struct ScaleResult {
    std::string name;  // its address; "" for the serial line
    int32_t code = 0;  // the transport's code (WQDS_ or WQCS_, the same numbers)
    uint32_t answered = 0;
    uint32_t connections = 0;
    uint32_t milliseconds = 0;
    std::vector<std::string> replies;      // the reply lines of this send, in command order
    std::vector<std::string> uploadLines;  // what they become as upload lines
};

struct SendOutcome {
    bool nothingToSend = false;              // no data line gave a command line: nothing was sent
    std::vector<std::string> commands;       // as sent, in order
    std::vector<std::size_t> lineOfCommand;  // the data line each command came from
    std::vector<ScaleResult> scales;         // in the order of link.targets
};

constexpr std::size_t kNoDataLine = static_cast<std::size_t>(-1);

// Told, while the send goes on, of each command line answered (the scale's index and how many
// of its lines are answered) and of each network scale as it is done (its index and code).
struct SendProgress {
    std::function<void(std::size_t index, std::size_t answered)> lineAnswered;
    std::function<void(std::size_t index, int32_t code)> scaleDone;
};

// Sends the data lines: the codec's command list to every scale of link at once (or over the
// serial line), the replies converted in memory.
SendOutcome SendLines(const ScaleLink& link, uint32_t recordType,
                      const std::vector<std::string>& lines, const SendProgress& progress = {});

// Sends commands to each of targets (or over link's serial line), all at once.
std::vector<ScaleResult> SendCommands(const ScaleLink& link,
                                      const std::vector<std::string>& targets,
                                      const std::vector<std::string>& commands,
                                      const SendProgress& progress = {});

// Reply lines as the upload lines that the library's rewrite would make of them.
std::vector<std::string> UploadLinesOf(const std::vector<std::string>& replies, bool en);

// Why a scale was not served, in the transport's one phrasing; "" when it was.
std::string FailureCause(const ScaleResult& scale, std::size_t commandCount);

// Why a network scale failed: not served, or it answered with an error or with no scale's
// reply; "" when neither.
std::string ScaleFailureCause(const ScaleResult& scale, std::size_t commandCount);

}  // namespace vudaduv::cli
