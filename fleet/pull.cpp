// Reading scales into images: the read requests of the slots asked for, to many scales at once,
// and their replies turned into records one read at a time, so that a record that cannot come
// back intact is known by name.
#include <algorithm>
#include <cctype>

#include "fleet_internal.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

// Why the upload lines of one read are not one whole record of the slot; "" when they are.
std::string WhyNotIntact(const RecordKey& key, const std::vector<std::string>& lines) {
    if (lines.size() > 1) {
        return "came back in " + std::to_string(lines.size()) +
               " pieces (blanks or line breaks in it)";
    }
    RecordKey back;
    if (!KeyOfUploadLine(lines[0], back) || !(back == key)) {
        return "came back as " + model::Quoted(lines[0]);
    }
    // A decoded text may hold them; the image file would split or cut the record there.
    std::string held = model::WhatNoFileLineHolds(lines[0]);
    if (!held.empty()) return "holds " + held + ", which an image line cannot hold";
    return "";
}

// Why the replies to the list from first on are no reading of the scale: an error reply or a
// line no scale sends answers a read, and an empty slot cannot be told from a refusal. Counts
// them and names the first with its slot; "" when there is none.
std::string WhyNoReading(const ReadList& list, const std::vector<std::string>& replies,
                         std::size_t first) {
    std::size_t looked = 0;
    std::size_t wrong = 0;
    std::string firstWrong;
    std::size_t at = first;
    for (std::size_t i = 0; i < list.keys.size() && at < replies.size(); ++i) {
        for (std::size_t n = 0; n < list.commandsOfKey[i] && at < replies.size(); ++n, ++at) {
            ++looked;
            if (model::IsScaleAnswer(replies[at])) continue;
            if (wrong++ == 0) {
                firstWrong = "for " + KeyName(list.keys[i]) + ": " + model::Quoted(replies[at]);
            }
        }
    }
    if (wrong == 0) return "";
    return std::to_string(wrong) + " of " + std::to_string(looked) +
           " read(s) answered with an error or no scale's reply; the first, " + firstWrong;
}

}  // namespace

std::vector<RecordKey> SlotsOf(const PullRequest& request) {
    std::vector<RecordKey> slots;
    std::vector<uint32_t> types = request.types;
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    for (uint32_t code : types) {
        const RecordType& type = RecordTypeOf(code);
        if (!model::StoresRecord(code)) continue;
        if (type.numberWidth == 0) {
            slots.push_back({code, -1});
            continue;
        }
        int32_t first = code == 1 ? std::max(request.firstItem, 0) : 0;
        int32_t last =
            code == 1 ? std::min(request.lastItem, type.numberMaximum) : type.numberMaximum;
        for (int32_t number = first; number <= last; ++number) slots.push_back({code, number});
    }
    return slots;
}

ReadOutcome ReadReplies(const ReadList& list, const std::vector<std::string>& replies,
                        std::size_t first, bool en) {
    ReadOutcome outcome;
    outcome.failure = WhyNoReading(list, replies, first);
    if (!outcome.failure.empty()) return outcome;  // nothing of such a reading is kept
    std::size_t at = first;
    for (std::size_t i = 0; i < list.keys.size(); ++i) {
        std::size_t count = list.commandsOfKey[i];
        if (at + count > replies.size()) break;  // the scale stopped answering here
        std::vector<std::string> lines =
            UploadLinesOfReplies({replies.begin() + static_cast<std::ptrdiff_t>(at),
                                  replies.begin() + static_cast<std::ptrdiff_t>(at + count)},
                                 en);
        at += count;
        outcome.answered.push_back(list.keys[i]);
        if (lines.empty()) continue;  // an empty slot
        std::string why = WhyNotIntact(list.keys[i], lines);
        if (!why.empty()) {
            outcome.broken.push_back(KeyName(list.keys[i]) + ": " + why);
        } else if (!HoldsNothing(lines[0])) {
            outcome.image.emplace(list.keys[i], lines[0]);
        }
    }
    return outcome;
}

std::vector<ScaleImage> Pull(const std::vector<std::string>& addresses,
                             const std::vector<RecordKey>& slots, bool en,
                             const transport::SendSettings& settings,
                             const transport::SendObserver& observer) {
    ReadList list = model::BuildReadRequests(slots, en);
    std::vector<transport::ScaleJob> jobs;
    for (const std::string& address : addresses) jobs.push_back({address, list.commands});
    std::vector<transport::ScaleResult> results = transport::SendToScales(jobs, settings, observer);
    std::vector<ScaleImage> images;
    for (std::size_t i = 0; i < results.size(); ++i) {
        ReadOutcome outcome = ReadReplies(list, results[i].replies, 0, en);
        ScaleImage image;
        image.address = addresses[i];
        image.code = results[i].code;
        image.cause = results[i].cause;
        image.reads = list.commands->size();
        image.answered = results[i].replies.size();
        image.image = std::move(outcome.image);
        image.broken = std::move(outcome.broken);
        image.failure = std::move(outcome.failure);
        images.push_back(std::move(image));
    }
    return images;
}

std::string ImageFileName(const std::string& address, uint32_t defaultPort) {
    transport::TargetAddress target;
    if (!transport::ParseTargetAddress(address, defaultPort, target)) return "";
    bool line = transport::IsSerialLine(target);
    std::string name = line ? "serial_" : "";
    std::string device = target.device;
    // "\\.\COM12" is Windows's other name of COM12, and one scale has one file.
    if (device.compare(0, 4, "\\\\.\\") == 0) device.erase(0, 4);
    for (char c : line ? device : target.host) {
        auto byte = static_cast<unsigned char>(c);
        bool kept = std::isalnum(byte) != 0 || c == '.' || c == '-';
        name += kept && byte < 0x80 ? static_cast<char>(std::tolower(byte)) : '_';
    }
    // A line's file has no speed in its name: the same device at another speed is one scale.
    return name + (line ? "" : "_" + std::to_string(target.port)) + ".txt";
}

bool WriteFileViewsAllOrNothing(const std::string& dir,
                                const std::vector<std::pair<std::string, std::string_view>>& files,
                                std::string& error) {
    std::vector<std::string> written;
    bool ok = true;
    for (const auto& file : files) {
        std::string temp = JoinPath(dir, file.first + kTempSuffix);
        if (!WriteWholeFile(temp, file.second, error)) {
            error = temp + ": " + error;
            RemoveFileIfThere(temp);  // a part written to a full disk keeps it full
            ok = false;
            break;
        }
        written.push_back(temp);
    }
    if (ok && !FlushToDisk(written, error)) ok = false;
    for (std::size_t i = 0; ok && i < files.size(); ++i) {
        if (!MoveIntoPlace(written[i], JoinPath(dir, files[i].first), error)) {
            error = JoinPath(dir, files[i].first) + ": " + error;
            ok = false;
        }
    }
    if (!ok) {
        for (const std::string& temp : written) RemoveFileIfThere(temp);
    }
    return ok;
}

bool WriteFilesAllOrNothing(const std::string& dir,
                            const std::vector<std::pair<std::string, std::string>>& files,
                            std::string& error) {
    std::vector<std::pair<std::string, std::string_view>> views;
    views.reserve(files.size());
    for (const auto& file : files) views.emplace_back(file.first, file.second);
    return WriteFileViewsAllOrNothing(dir, views, error);
}

}  // namespace vudaduv::fleet
