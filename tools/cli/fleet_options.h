// What pull, diff, sync and the image branches of send and check share: the scales of a fleet
// and their transport settings, scale images read in the user's character set, and a progress
// line that counts reads or records.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "lines.h"
#include "send_report.h"
#include "targets_file.h"
#include "vudaduv_fleet.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

constexpr OptionSpec kFleetTargetOption{"target", true, true};
constexpr OptionSpec kFleetTargetsFileOption{"targets-file", true, false};
constexpr OptionSpec kFleetItemsOption{"items", true, false};

// --items FIRST-LAST into the request; false with a message.
bool ReadFleetItems(const ParsedArgs& parsed, fleet::PullRequest& request, std::string& error);

// The help lines of the options above.
extern const char* const kFleetOptionsHelp;

// The scales of --target and --targets-file and the settings of --timeout and --retries.
struct Fleet {
    std::vector<std::string> addresses;
    std::vector<std::string> names;  // of each address, as its targets-file line gives it, or ""
    std::vector<fleet::ScaleOfAddress> scales;  // the scale of each address, identified once
    transport::SendSettings settings;
};

// Reads the options above; kExitOk, or the exit status after saying why not. At least one
// scale is needed.
int LoadFleet(const std::string& command, const ParsedArgs& parsed, Fleet& fleet);

// The bytes of an image file, or of standard input for "-" or "": a sync's state image with the
// journal beside it taken in (the fleet's rule, ReadStateImageFile), any other file as it is.
bool ReadImageBytes(const std::string& path, std::string& bytes, std::string& error);

// The lines of a scale image, each taken as the record type of its prefix.
struct ImageLines {
    DataLines data;               // the data lines, prefixes taken off, in GBK
    std::vector<uint32_t> types;  // the record type of each
    fleet::Image image;           // the records, by type and number
    // With keepUnconvertible: the lines that are no text of the character set, left out of the
    // above, as "FILE:LINE: line: why", and the records they name.
    std::vector<std::string> unconvertible;
    std::vector<fleet::RecordKey> unconvertibleKeys;
    // A last line without a line end (the file may have been cut): left out of the above and
    // named here as "FILE:LINE: no line end; ...", with the record it seems to name.
    std::string cut;
    std::optional<fleet::RecordKey> cutKey;
};

// Reads an image file (or standard input for "-" or ""), converted from charset; kExitOk, or
// the exit status after saying why not: a line without one of the prefixes is named
// FILE:LINE. A line that cannot be converted stops it unless keepUnconvertible is set.
int LoadImageFile(const std::string& command, const std::string& path, const std::string& charset,
                  ImageLines& image, bool keepUnconvertible = false);

// The image's lines of one record type, as data lines of that type.
DataLines LinesOfType(const ImageLines& image, uint32_t recordType);

// The image as its file holds it, in charset.
std::string ShowImage(const fleet::Image& image, const std::string& charset);

// The one line on a terminal's stderr, redrawn in place: "vudaduv pull: 3 of 12 scale(s)
// done, 4100 of 49200 read(s) answered".
class CountLine {
  public:
    CountLine(std::string command, std::string unit, std::size_t scales, std::size_t total);
    void Answered();
    void ScaleDone();
    void End();

  private:
    void Draw(bool force);

    RedrawnLine line_;
    std::string command_;
    std::string unit_;
    std::size_t scales_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::size_t answered_ = 0;
};

// Milliseconds since start.
uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start);

}  // namespace vudaduv::cli
