// The sync's state directory (state_dir.h), whole: the journals beside the images and how a
// journal is taken in; ".pending", written before a send and rewritten once the images are; the
// images and journals written after a send; ".charsets"; ".last-good"; the lock; and the room
// check. One module, so that what is written where, and in which order, reads in one place.
#include <algorithm>
#include <chrono>
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
constexpr const char* kLockFileName = ".lock";
constexpr const char* kTrialFileName = ".room.new";  // with the temporaries' ending: never kept
constexpr std::uintmax_t kTrialBytes = 64 * 1024;

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

// ---- Paths and whole files ---------------------------------------------------------------------

std::string JoinPath(const std::string& dir, const std::string& name) {
    return PathText(FsPath(dir) / FsPath(name));
}

std::string LockHolderText(const std::string& holder, const std::string& self,
                           const std::string& path) {
    if (holder == self) return "another sync (process " + self + ", this process) holds " + path;
    return "another sync (process " + (holder.empty() ? std::string("unknown") : holder) +
           ") holds " + path;
}

// FNV-1a, 64 bits: enough to tell a changed file from the same one, not meant against forgery.
std::string DigestOf(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ULL;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[hash & 15];
    return text;
}

// ---- The lock ----------------------------------------------------------------------------------

std::unique_ptr<FileLock> LockStateDir(const std::string& dir, std::string& error, bool& held) {
    held = false;
    std::error_code code;
    std::filesystem::create_directories(FsPath(dir), code);
    if (code) {
        error = dir + ": " + code.message();
        return nullptr;
    }
    return TryLockFile(JoinPath(dir, kLockFileName), error, held);
}

// ---- .pending ----------------------------------------------------------------------------------

bool WritePendingFile(const std::string& dir, const Pending& pending, std::uintmax_t& written,
                      std::string& error) {
    if (!pending.empty()) {
        std::string text = WritePending(pending);
        written += text.size();
        return WriteFilesAllOrNothing(dir, {{kPendingFileName, text}}, error);
    }
    RemoveFileIfThere(JoinPath(dir, kPendingFileName));
    return true;
}

// ---- .charsets ---------------------------------------------------------------------------------

Charsets ReadCharsets(const std::string& text) {
    Charsets charsets;
    std::istringstream in(text);
    std::string file;
    std::string name;
    while (in >> file >> name) charsets[file] = name;
    return charsets;
}

std::string WriteCharsets(const Charsets& charsets) {
    std::string text;
    for (const auto& file : charsets) text += file.first + " " + file.second + "\n";
    return text;
}

bool StateImageToGbk(const SyncOptions& options, const Charsets& charsets, const std::string& file,
                     std::string& bytes, std::string& error) {
    auto charset = charsets.find(file);
    if (charset == charsets.end()) return true;
    std::string gbk;
    if (!options.stateCharset.toGbk || !options.stateCharset.toGbk(charset->second, bytes, gbk)) {
        error = JoinPath(options.stateDir, file) + ": not " + charset->second + " text, as " +
                kCharsetsFileName + " says";
        return false;
    }
    bytes = std::move(gbk);
    return true;
}

const std::pair<std::string, std::string>& StateText::Of(const std::string& gbk) {
    auto known = converted_.find(gbk);
    if (known != converted_.end()) return known->second;
    std::pair<std::string, std::string> file{gbk, ""};
    std::string text;
    std::string back;
    if (!charset_.name.empty() && charset_.fromGbk && charset_.toGbk &&
        charset_.fromGbk(charset_.name, gbk, text) && charset_.toGbk(charset_.name, text, back) &&
        back == gbk) {
        file = {std::move(text), charset_.name};
    }
    return converted_.emplace(gbk, std::move(file)).first->second;
}

// ---- What a run finds there --------------------------------------------------------------------

StateDirAsRead ReadStateDir(const std::string& dir) {
    StateDirAsRead found;
    std::string error;
    if (ReadFileIfThere(JoinPath(dir, kPendingFileName), found.pendingText, error)) {
        found.pending = ReadPending(found.pendingText);
    }
    if (ReadFileIfThere(JoinPath(dir, kCharsetsFileName), found.charsetsText, error)) {
        found.charsets = ReadCharsets(found.charsetsText);
    }
    return found;
}

ScaleFiles ReadScaleFiles(const std::string& dir, const std::string& file, bool readImage,
                          std::uintmax_t journalLimit) {
    ScaleFiles files;
    files.journalThere =
        ReadFileIfThere(JoinPath(dir, JournalFileName(file)), files.journal, files.error);
    if (readImage && files.error.empty() &&
        ReadFileIfThere(JoinPath(dir, file), files.image, files.error)) {
        files.imageThere = true;
        // Beyond the length recorded before an unconfirmed send, the lines are not yet state.
        files.journal.resize(JournalBytesThatCount(files.journal, journalLimit));
    }
    return files;
}

// ---- The room check ----------------------------------------------------------------------------

std::uintmax_t RoomForSync(const SyncRoom& room) {
    std::uintmax_t bytes = 0;
    for (std::uintmax_t state : room.stateBytes) {
        // The new image beside the old, and the journal's lines before it is compacted.
        bytes += 2 * std::max(room.listImageBytes, state);
    }
    std::uintmax_t name = room.longestFileName;
    std::uintmax_t scales = room.stateBytes.size();
    // .pending: every record of the list for each distinct state ("FILE TYPE NUMBER"), a
    // "same" and a "journal" line a scale, and what the last run left there, which is kept.
    std::uintmax_t pending = room.distinctStates * room.listRecords * (name + 24) +
                             scales * (2 * name + 48) + room.pendingBytes;
    std::uintmax_t charsets = scales * (name + 24);
    return bytes + 2 * pending + charsets;
}

bool CheckRoomForState(const std::string& dir, std::uintmax_t needed, std::string& error) {
    std::error_code code;
    std::filesystem::space_info space = std::filesystem::space(FsPath(dir), code);
    std::string room = code ? ""
                            : std::to_string(space.available / 1024) +
                                  " KiB free; this run may write about " +
                                  std::to_string((needed + 1023) / 1024) +
                                  " KiB there (the new images and journals beside the old ones "
                                  "until they replace them, and .pending)";
    if (!code && space.available < needed) {
        error = "the state directory " + dir + " has " + room + "; nothing was read or sent";
        return false;
    }
    std::string trial = JoinPath(dir, kTrialFileName);
    std::string bytes(static_cast<std::size_t>(std::min<std::uintmax_t>(needed, kTrialBytes)),
                      '\n');
    bool written = WriteWholeFile(trial, bytes, error);
    RemoveFileIfThere(trial);
    if (!written) {
        error = "the state directory " + dir + " cannot be written: " + error +
                (room.empty() ? "" : " (it has " + room + ")") + "; nothing was read or sent";
        return false;
    }
    return true;
}

// ---- The images and journals written after a send -----------------------------------------------

namespace {

// The journals appended to by WriteStates, and the lengths to cut them back to on a failure.
struct AppendedJournals {
    std::vector<std::string> paths;
    std::vector<std::uintmax_t> keep;

    void CutBack() const {
        std::string ignored;
        for (std::size_t a = 0; a < paths.size(); ++a) AppendToFile(paths[a], keep[a], "", ignored);
    }
};

// The lines of the scales written by appending (kAppend, and kCompact before its image), then
// flushed.
bool AppendJournals(const std::string& dir, const std::vector<ScaleStateWrite>& scales,
                    AppendedJournals& appended, std::uintmax_t& written, std::string& error) {
    for (const ScaleStateWrite& scale : scales) {
        if (scale.write.how != StateWrite::kAppend && scale.write.how != StateWrite::kCompact)
            continue;
        std::string journal = JoinPath(dir, JournalFileName(scale.file));
        written += scale.write.lines.size();
        appended.paths.push_back(journal);
        appended.keep.push_back(scale.journalBytes);
        if (!AppendToFile(journal, scale.journalBytes, scale.write.lines, error)) return false;
    }
    return appended.paths.empty() || FlushToDisk(appended.paths, error);
}

// The whole files written beside their places (temps names them) and flushed.
bool WriteBeside(const std::string& dir,
                 const std::vector<std::pair<std::string, std::string_view>>& files,
                 std::vector<std::string>& temps, std::uintmax_t& written, std::string& error) {
    for (const auto& file : files) {
        temps.push_back(JoinPath(dir, file.first + kTempSuffix));
        written += file.second.size();
        if (!WriteWholeFile(temps.back(), file.second, error)) {
            error = temps.back() + ": " + error;
            return false;
        }
    }
    return temps.empty() || FlushToDisk(temps, error);
}

// An image replaced while a journal lies beside it has both removed first: a scale with no
// image is read in full, one with another image's journal would be wrong.
bool RemoveReplacedStates(const std::string& dir, const std::vector<ScaleStateWrite>& scales,
                          std::string& error) {
    for (const ScaleStateWrite& scale : scales) {
        if (scale.write.how != StateWrite::kReplace || !scale.journalThere) continue;
        if (!RemoveFile(JoinPath(dir, scale.file), error) ||
            !RemoveFile(JoinPath(dir, JournalFileName(scale.file)), error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Writes what the send confirmed: the journals' lines appended and flushed; then the whole
// images (and .charsets, first) beside their places, flushed and moved in. A compacted image's
// journal is removed once the image is in place: the image already holds every line of it, so
// that taking it in again after a crash changes nothing.
bool WriteStates(const std::string& dir, const std::vector<ScaleStateWrite>& scales,
                 const std::string* charsetsText, std::uintmax_t& written, std::string& error) {
    AppendedJournals appended;
    bool ok = AppendJournals(dir, scales, appended, written, error);
    std::vector<std::pair<std::string, std::string_view>> files;
    if (charsetsText != nullptr) files.emplace_back(kCharsetsFileName, *charsetsText);
    for (const ScaleStateWrite& scale : scales) {
        if (scale.write.how == StateWrite::kCompact || scale.write.how == StateWrite::kReplace)
            files.emplace_back(scale.file, scale.write.image);
    }
    std::vector<std::string> temps;
    if (ok) ok = WriteBeside(dir, files, temps, written, error);
    if (!ok) {
        for (const std::string& temp : temps) RemoveFileIfThere(temp);
        appended.CutBack();
        return false;
    }
    ok = RemoveReplacedStates(dir, scales, error);
    for (std::size_t f = 0; ok && f < files.size(); ++f) {
        ok = MoveIntoPlace(temps[f], JoinPath(dir, files[f].first), error);
        if (!ok) error = JoinPath(dir, files[f].first) + ": " + error;
    }
    for (std::size_t j = 0; ok && j < scales.size(); ++j) {
        if (scales[j].write.how != StateWrite::kCompact) continue;
        ok = RemoveFile(JoinPath(dir, JournalFileName(scales[j].file)), error);
    }
    if (!ok) {
        for (const std::string& temp : temps) RemoveFileIfThere(temp);
    }
    return ok;
}

// ---- .last-good
// ----------------------------------------------------------------------------------

int64_t LastGoodSync(const std::string& stateDir) {
    std::string text;
    std::string error;
    if (!ReadFileIfThere(JoinPath(stateDir, kLastGoodFileName), text, error)) return 0;
    // A torn or foreign file reads as "never": the alarm it raises is the safe side.
    int64_t seconds = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && digits < 18 && text[digits] >= '0' && text[digits] <= '9';
         ++digits) {
        seconds = seconds * 10 + (text[digits] - '0');
    }
    return digits > 0 && digits < text.size() && text[digits] == '\n' ? seconds : 0;
}

bool RecordGoodSync(const std::string& dir, int64_t when, std::string& error) {
    return WriteFilesAllOrNothing(dir, {{kLastGoodFileName, std::to_string(when) + "\n"}}, error);
}

// A run that ended with every scale in step records when, for a monitor's "no good sync for two
// days"; a record that cannot be written is said as the state's error, for the monitor would
// then raise a false alarm.
void RecordIfGood(const std::string& dir, SyncResult& result) {
    if (result.interrupted || !result.stateError.empty()) return;
    for (const ScaleSync& scale : result.scales) {
        if (!EndedAsAsked(scale.status)) return;
    }
    int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    std::string error;
    if (!RecordGoodSync(dir, now, error)) {
        result.stateError = "the end of this good run could not be recorded in " + dir + ": " +
                            error + "; the scales are in step";
        return;
    }
    result.lastGoodSync = now;
}

}  // namespace vudaduv::fleet
