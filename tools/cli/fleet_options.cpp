#include "fleet_options.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "os.h"
#include "targets_file.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

bool ReadFleetItems(const ParsedArgs& parsed, fleet::PullRequest& request, std::string& error) {
    if (!parsed.Has(kFleetItemsOption.name)) return true;
    std::string text = parsed.Value(kFleetItemsOption.name);
    std::size_t dash = text.find('-');
    uint64_t first = 0;
    uint64_t last = 0;
    if (dash == std::string::npos || !ParseUnsigned(text.substr(0, dash), kItemMaximum, first) ||
        !ParseUnsigned(text.substr(dash + 1), kItemMaximum, last) || first > last) {
        error = "--items wants FIRST-LAST, 0 <= FIRST <= LAST <= " + std::to_string(kItemMaximum);
        return false;
    }
    request.firstItem = static_cast<int32_t>(first);
    request.lastItem = static_cast<int32_t>(last);
    return true;
}

const char* const kFleetOptionsHelp =
    "  --target ADDR       a network scale: host, host:port, [v6addr]:port; repeat\n"
    "                      for several scales\n"
    "  --targets-file F    network scales, one address a line ('#' comments)\n"
    "  --timeout MS        reply and connect time-out per scale (default 3000)\n"
    "  --retries N         retries per scale after the first try (default 2)\n";

int LoadFleet(const std::string& command, const ParsedArgs& parsed, Fleet& fleet) {
    std::string error;
    if (!ReadTransportSettings(parsed, fleet.settings, error)) return UsageError(command, error);
    TargetList list;
    int status = LoadTargetList(command, parsed, list);
    if (status != kExitOk) return status;
    if (list.addresses.empty()) {
        return UsageError(command, "say which scales: --target ADDR or --targets-file F");
    }
    fleet.addresses = list.addresses;
    fleet.names = list.names;
    fleet.names.resize(fleet.addresses.size());
    fleet.scales = list.scales;
    return kExitOk;
}

bool ReadImageBytes(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code ignored;
    if (path.empty() || path == "-" ||
        !std::filesystem::exists(fleet::JournalFileName(path), ignored)) {
        return ReadInputBytes(path, bytes, error);
    }
    bool journaled = false;
    return fleet::ReadStateImageFile(path, bytes, journaled, error);
}

int LoadImageFile(const std::string& command, const std::string& path, const std::string& charset,
                  ImageLines& image, bool keepUnconvertible) {
    std::string source = path.empty() ? "-" : path;
    std::string bytes;
    std::string error;
    if (!ReadImageBytes(path, bytes, error)) {
        return UnreadableFile(command, (source == "-" ? "standard input" : source) + ": " + error);
    }
    DataLines lines = SplitDataLines(source, bytes);
    if (lines.lastLineCut) {
        image.cut =
            LinePlace(lines, lines.lines.size() - 1) + ": " + model::CutLastLineFinding().what;
        fleet::RecordKey key;
        if (fleet::KeyOfUploadLine(lines.lines.back(), key)) image.cutKey = key;
        lines.lines.pop_back();
        lines.numbers.pop_back();
        lines.lastLineCut = false;
    }
    if (!LinesToGbk(charset, lines)) {
        if (!keepUnconvertible) return UsageError(command, FirstUnconvertible(lines));
        for (std::size_t i = 0; i < lines.lines.size(); ++i) {
            if (lines.unconvertible[i].empty()) continue;
            // The prefix and the number are plain ASCII in every character set the tool takes.
            fleet::RecordKey key;
            if (!fleet::KeyOfUploadLine(lines.lines[i], key)) {
                return UsageError(command, LinePlace(lines, i) + ": " + lines.unconvertible[i]);
            }
            image.unconvertible.push_back(LinePlace(lines, i) +
                                          ": line: " + lines.unconvertible[i]);
            image.unconvertibleKeys.push_back(key);
        }
        lines = SendableLinesOnly(lines);
    }
    if (!fleet::ReadImage(source, lines.lines, lines.numbers, image.image, error)) {
        return UsageError(command, error);
    }
    image.data = DataLines{source, {}, lines.numbers, {}, {}, false};
    for (const std::string& line : lines.lines) {
        const RecordType* type = StoredTypeOfUploadLine(line);
        image.types.push_back(type->code);
        image.data.lines.push_back(line.substr(std::string(type->uploadPrefix).size()));
    }
    return kExitOk;
}

DataLines LinesOfType(const ImageLines& image, uint32_t recordType) {
    DataLines lines{image.data.source, {}, {}, {}, {}};
    for (std::size_t i = 0; i < image.types.size(); ++i) {
        if (image.types[i] != recordType) continue;
        lines.lines.push_back(image.data.lines[i]);
        lines.numbers.push_back(image.data.numbers[i]);
    }
    return lines;
}

std::string ShowImage(const fleet::Image& image, const std::string& charset) {
    std::string text;
    for (const auto& record : image) text += ShowText(charset, record.second) + "\n";
    return text;
}

CountLine::CountLine(std::string command, std::string unit, std::size_t scales, std::size_t total)
    : line_(os::StderrIsTerminal()),
      command_(std::move(command)),
      unit_(std::move(unit)),
      scales_(scales),
      total_(total) {
    Draw(true);
}

void CountLine::Answered() {
    ++answered_;
    Draw(false);
}

void CountLine::ScaleDone() {
    ++done_;
    Draw(done_ == scales_);
}

void CountLine::End() {
    line_.End(false);
}

void CountLine::Draw(bool force) {
    line_.Draw("vudaduv " + command_ + ": " + std::to_string(done_) + " of " +
                   std::to_string(scales_) + " scale(s) done, " + std::to_string(answered_) +
                   (total_ == 0 ? "" : " of " + std::to_string(total_)) + " " + unit_ + " answered",
               force);
}

uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
}

}  // namespace vudaduv::cli
