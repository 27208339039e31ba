// The way to the scale: which export a send takes, and what it left in "Rec.txt".
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
    std::vector<uint32_t> values;  // transport settings; when set, the ST exports take them
    bool en = false;               // code-page text: the En exports
};

// The export that a send over link calls, e.g. "WQTCPSendSTEn".
std::string ExportName(const ScaleLink& link);

// One call of the fitting export; returns its result code.
int32_t SendThroughLibrary(const ScaleLink& link, uint32_t recordType,
                           const std::vector<std::string>& lines);

// "sent", "nothing to send", "transport failed", "upload file not written".
std::string ResultWords(int32_t result);

struct SendOutcome {
    int32_t result = 0;
    std::vector<std::string> uploadLines;  // what the send added to "Rec.txt"
};

using Progress = std::function<void(std::size_t done, std::size_t total)>;

// Sends the data lines in calls of at most batchSize lines (0: all in one call) and collects
// the upload lines that the send added. Stops at the first batch whose transport fails.
SendOutcome SendAndCollect(const ScaleLink& link, uint32_t recordType,
                           const std::vector<std::string>& lines, std::size_t batchSize = 0,
                           const Progress& progress = nullptr);

}  // namespace vudaduv::cli
