// A state image's journal: the upload lines a sync took in since it last wrote the image whole,
// so that a run writes in proportion to what it changed; and ".pending", which records how much
// of each journal was confirmed before an unconfirmed send.
#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>

#include "fleet_internal.h"
#include "vudaduv_fleet.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

constexpr const char* kJournalSuffix = ".journal";
constexpr const char* kJournalWord = "journal";
constexpr const char* kSameWord = "same";

}  // namespace

std::string JournalFileName(const std::string& imageFile) {
    return imageFile + kJournalSuffix;
}

std::size_t JournalBytesThatCount(std::string_view journal, std::uintmax_t limit) {
    std::size_t end = limit < journal.size() ? static_cast<std::size_t>(limit) : journal.size();
    std::size_t lastLf = journal.substr(0, end).rfind('\n');
    return lastLf == std::string_view::npos ? 0 : lastLf + 1;
}

bool ApplyJournal(const std::string& source, const std::string& text, Image& image,
                  std::string& error) {
    std::size_t start = 0;
    std::size_t whole = JournalBytesThatCount(text, kWholeJournal);
    for (std::size_t number = 1; start < whole; ++number) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::string place = source + ":" + std::to_string(number) + ": ";
        RecordKey key;
        if (!KeyOfUploadLine(line, key)) {
            error = place + "not a record of a scale image";
            return false;
        }
        std::string held = model::WhatNoFileLineHolds(line);
        if (!held.empty()) {
            error = place + KeyName(key) + ": holds " + held + ", which an image line cannot hold";
            return false;
        }
        if (HoldsNothing(line)) {
            image.erase(key);
        } else {
            image[key] = std::move(line);
        }
    }
    return true;
}

KeyList MakeKeyList(std::vector<RecordKey> keys) {
    if (keys.empty()) return nullptr;
    return std::make_shared<const std::vector<RecordKey>>(std::move(keys));
}

const std::vector<RecordKey>& KeysIn(const KeyList& keys) {
    static const std::vector<RecordKey> kNone;
    return keys ? *keys : kNone;
}

std::string WritePending(const Pending& pending) {
    std::string text;
    // The first scale that named each list.
    std::map<const std::vector<RecordKey>*, const std::string*> named;
    for (const auto& scale : pending) {
        const std::vector<RecordKey>& keys = KeysIn(scale.second.keys);
        auto [first, fresh] = named.emplace(&keys, &scale.first);
        if (!keys.empty() && !fresh) {
            text += scale.first + " " + kSameWord + " " + *first->second + "\n";
        } else {
            for (const RecordKey& key : keys) {
                text += scale.first + " " + std::to_string(key.type) + " " +
                        std::to_string(key.number) + "\n";
            }
        }
        if (scale.second.journalBytes != kWholeJournal) {
            text += scale.first + " " + kJournalWord + " " +
                    std::to_string(scale.second.journalBytes) + "\n";
        }
    }
    return text;
}

Pending ReadPending(const std::string& text) {
    std::map<std::string, std::vector<RecordKey>> keys;
    std::map<std::string, std::string> same;
    Pending pending;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string file;
        std::string what;
        if (!(words >> file >> what)) continue;
        if (what == kJournalWord) {
            std::uintmax_t length = 0;
            if (words >> length) pending[file].journalBytes = length;
            continue;
        }
        if (what == kSameWord) {
            std::string other;
            if (words >> other) {
                same[file] = other;
                pending[file];
            }
            continue;
        }
        RecordKey key;
        std::istringstream type(what);
        if (type >> key.type && words >> key.number) {
            keys[file].push_back(key);
            pending[file];
        }
    }
    for (auto& scale : keys) pending[scale.first].keys = MakeKeyList(std::move(scale.second));
    // A scale named the same as one that names none names none either.
    for (const auto& scale : same) {
        auto other = pending.find(scale.second);
        if (other != pending.end()) pending[scale.first].keys = other->second.keys;
    }
    for (auto scale = pending.begin(); scale != pending.end();) {
        bool nothing = !scale->second.keys && scale->second.journalBytes == kWholeJournal;
        scale = nothing ? pending.erase(scale) : std::next(scale);
    }
    return pending;
}

bool ReadStateImageFile(const std::string& path, std::string& bytes, bool& journaled,
                        std::string& error) {
    journaled = false;
    if (!ReadFileIfThere(path, bytes, error)) {
        if (error.empty()) error = path + ": no such file";
        return false;
    }
    std::string journal;
    if (!ReadFileIfThere(path + kJournalSuffix, journal, error)) return error.empty();
    // The length recorded before an unconfirmed send: what lies beyond it is not yet the state.
    std::filesystem::path image = FsPath(path);
    std::string pendingText;
    std::uintmax_t limit = kWholeJournal;
    std::string ignored;
    if (ReadFileIfThere(JoinPath(PathText(image.parent_path()), kPendingFileName), pendingText,
                        ignored)) {
        Pending pending = ReadPending(pendingText);
        auto scale = pending.find(PathText(image.filename()));
        if (scale != pending.end()) limit = scale->second.journalBytes;
    }
    journal.resize(JournalBytesThatCount(journal, limit));
    Image state;
    if (!ReadImageText(path, bytes, state, error) ||
        !ApplyJournal(path + kJournalSuffix, journal, state, error)) {
        return false;
    }
    bytes = WriteImage(state);
    journaled = true;
    return true;
}

}  // namespace vudaduv::fleet
