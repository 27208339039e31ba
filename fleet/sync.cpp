// The sync: what each scale holds (its state image, or a read), the records that differ sent
// and read back, and the state image updated with what came back as foreseen only.
//
// Beside each scale's image, a ".pending" file names the records of a send that has not yet
// been confirmed. It is written before the send and taken away once the image is; a run that
// finds one (after a kill, a power cut, a scale that failed) reads those records back first,
// so that it sends only what is still missing.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "fleet_internal.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

constexpr const char* kLockFileName = ".lock";
constexpr const char* kPendingSuffix = ".pending";

// One scale on its way through the sync.
struct ScaleWork {
    std::string file;  // its image's name in the state directory
    Image held;
    bool fullRead = false;
    std::vector<RecordKey> reads;  // what is read before the plan
    struct Change {
        RecordKey key;
        std::string dataLine;
        std::string foreseen;  // "" for a removal
    };
    std::vector<Change> changes;
    ReadList readBack;
    std::size_t writeCommands = 0;
    std::vector<std::size_t> commandsOfChange;
    bool ready = false;  // it may be sent to
};

std::string WritePending(const std::vector<ScaleWork::Change>& changes) {
    std::string text;
    for (const auto& change : changes) {
        text += std::to_string(change.key.type) + " " + std::to_string(change.key.number) + "\n";
    }
    return text;
}

std::vector<RecordKey> ReadPending(const std::string& text) {
    std::vector<RecordKey> keys;
    std::istringstream in(text);
    RecordKey key;
    while (in >> key.type >> key.number) keys.push_back(key);
    return keys;
}

// What the scale's state image and pending file say, or the slots to read when it has none.
void LoadState(const std::string& dir, const WantedList& list, const SyncOptions& options,
               ScaleWork& work, ScaleSync& result) {
    std::string bytes;
    std::string error;
    std::string path = JoinPath(dir, work.file);
    bool haveState = !options.readScales && ReadFileIfThere(path, bytes, error) &&
                     ReadImageText(path, bytes, work.held, error);
    if (!error.empty()) result.notes.push_back(error + " (read from the scale instead)");
    if (!haveState) {
        work.fullRead = true;
        work.held.clear();
        PullRequest request;
        request.types = options.listTypes;
        std::set<RecordKey> slots;
        for (const RecordKey& key : SlotsOf(request)) slots.insert(key);
        for (const auto& record : list) slots.insert(record.first);
        work.reads.assign(slots.begin(), slots.end());
        return;
    }
    std::string pending;
    if (ReadFileIfThere(path + kPendingSuffix, pending, error)) work.reads = ReadPending(pending);
}

std::string Cause(const transport::ScaleResult& scale, std::size_t commands) {
    return std::string(transport::TransportCodeCause(scale.code)) + " (" +
           std::to_string(scale.replies.size()) + " of " + std::to_string(commands) +
           " command line(s) answered)";
}

// Takes in what the reads before the plan gave; false when the scale could not be read.
bool TakeReads(const ReadList& reads, const transport::ScaleResult& scale, bool en,
               ScaleWork& work, ScaleSync& result) {
    ReadOutcome outcome = ReadReplies(reads, scale.replies, 0, en);
    if (scale.code != WQDS_OK) {
        result.failure = "could not be read: " + Cause(scale, reads.commands->size());
        return false;
    }
    for (const RecordKey& key : outcome.answered) work.held.erase(key);
    for (auto& record : outcome.image) work.held[record.first] = record.second;
    for (const std::string& broken : outcome.broken) result.notes.push_back(broken);
    result.fromScale = work.fullRead;
    return true;
}

bool InListTypes(const SyncOptions& options, uint32_t type) {
    return std::find(options.listTypes.begin(), options.listTypes.end(), type) !=
           options.listTypes.end();
}

void PlanChanges(const WantedList& list, const SyncOptions& options, ScaleWork& work,
                 ScaleSync& result) {
    for (const auto& record : list) {
        auto held = work.held.find(record.first);
        if (held != work.held.end() && SameRecord(held->second, record.second.line)) {
            ++result.unchanged;
            continue;
        }
        work.changes.push_back({record.first, record.second.dataLine, record.second.line});
        result.toSend.push_back(record.second.dataLine);
        ++result.sent;
    }
    if (!options.removeMissing) return;
    for (const auto& record : work.held) {
        std::string removal = RemovalLine(record.first);
        if (list.count(record.first) != 0 || removal.empty() ||
            !InListTypes(options, record.first.type)) {
            continue;
        }
        work.changes.push_back({record.first, removal, ""});
        result.toRemove.push_back(removal);
        ++result.removed;
    }
}

// The writes of the changes, then (when asked) the reads of the same records.
transport::CommandList BuildSyncCommands(const SyncOptions& options, ScaleWork& work) {
    auto commands = std::make_shared<std::vector<std::string>>();
    std::vector<RecordKey> keys;
    for (const auto& change : work.changes) {
        std::vector<std::string> writes =
            BuildCommandList(change.key.type, {change.dataLine}, options.en);
        work.commandsOfChange.push_back(writes.size());
        commands->insert(commands->end(), writes.begin(), writes.end());
        keys.push_back(change.key);
    }
    work.writeCommands = commands->size();
    if (options.readBackSent) {
        work.readBack = BuildReadList(keys, options.en);
        commands->insert(commands->end(), work.readBack.commands->begin(),
                         work.readBack.commands->end());
    }
    return commands;
}

// Which changes the scale confirmed: every write answered as a scale answers and, when read
// back, the record as foreseen (a removal: nothing).
std::vector<bool> Confirmations(const SyncOptions& options, const ScaleWork& work,
                                const transport::ScaleResult& scale, ScaleSync& result) {
    std::vector<bool> confirmed(work.changes.size(), false);
    std::size_t at = 0;
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        bool answered = at + work.commandsOfChange[i] <= scale.replies.size();
        for (std::size_t n = 0; answered && n < work.commandsOfChange[i]; ++n) {
            answered = model::IsScaleAnswer(scale.replies[at + n]);
        }
        at += work.commandsOfChange[i];
        confirmed[i] = answered;
    }
    if (!options.readBackSent) return confirmed;
    ReadOutcome back = ReadReplies(work.readBack, scale.replies, work.writeCommands, options.en);
    std::set<RecordKey> answered(back.answered.begin(), back.answered.end());
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        const auto& change = work.changes[i];
        auto line = back.image.find(change.key);
        bool asForeseen = change.foreseen.empty()
                              ? line == back.image.end()
                              : line != back.image.end() && SameRecord(line->second, change.foreseen);
        if (confirmed[i] && answered.count(change.key) != 0 && !asForeseen) {
            result.notes.push_back(KeyName(change.key) + ": came back as " +
                                   (line == back.image.end() ? std::string("nothing")
                                                             : model::Quoted(line->second)));
        }
        confirmed[i] = confirmed[i] && answered.count(change.key) != 0 && asForeseen;
    }
    for (const std::string& broken : back.broken) result.notes.push_back(broken);
    return confirmed;
}

// The state image takes the confirmed changes; the pending file keeps the others.
void Commit(const std::string& dir, const std::vector<bool>& confirmed, ScaleWork& work,
            ScaleSync& result) {
    std::vector<ScaleWork::Change> open;
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        const auto& change = work.changes[i];
        if (!confirmed[i]) {
            open.push_back(change);
            continue;
        }
        ++result.confirmed;
        if (change.foreseen.empty()) {
            work.held.erase(change.key);
        } else {
            work.held[change.key] = change.foreseen;
        }
    }
    std::string error;
    std::string pendingFile = work.file + kPendingSuffix;
    if (!WriteFilesAllOrNothing(dir, {{work.file, WriteImage(work.held)}}, error)) {
        result.failure = "the state image could not be written: " + error;
        return;
    }
    if (open.empty()) {
        RemoveFileIfThere(JoinPath(dir, pendingFile));
    } else if (!WriteFilesAllOrNothing(dir, {{pendingFile, WritePending(open)}}, error)) {
        result.notes.push_back("the pending records could not be written: " + error);
    }
    if (result.failure.empty() && !open.empty()) {
        result.failure = std::to_string(open.size()) + " of " +
                         std::to_string(work.changes.size()) +
                         " record(s) not confirmed by the scale";
    }
}

// Reads what every scale still to be read holds, all at once.
void ReadScales(const std::vector<std::string>& addresses, const SyncOptions& options,
                std::vector<ScaleWork>& work, std::vector<ScaleSync>& results) {
    std::vector<transport::ScaleJob> jobs;
    std::vector<ReadList> lists;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready) continue;
        lists.push_back(BuildReadList(work[i].reads, options.en));
        jobs.push_back({addresses[i], lists.back().commands});
        index.push_back(i);
    }
    std::vector<transport::ScaleResult> read = transport::SendToScales(jobs, options.settings);
    for (std::size_t j = 0; j < read.size(); ++j) {
        std::size_t i = index[j];
        work[i].ready = TakeReads(lists[j], read[j], options.en, work[i], results[i]);
    }
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
    return (std::filesystem::path(dir) / name).string();
}

bool ReadFileIfThere(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code code;
    if (!std::filesystem::exists(path, code)) return false;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = path + ": cannot be read";
        return false;
    }
    bytes = all.str();
    return true;
}

void RemoveFileIfThere(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

SyncResult Sync(const WantedList& list, const std::vector<std::string>& addresses,
                const SyncOptions& options) {
    SyncResult result;
    std::error_code code;
    std::filesystem::create_directories(options.stateDir, code);
    if (code) {
        result.error = options.stateDir + ": " + code.message();
        return result;
    }
    std::unique_ptr<FileLock> lock = TryLockFile(JoinPath(options.stateDir, kLockFileName),
                                                 result.error);
    if (!lock) return result;

    std::vector<ScaleWork> work(addresses.size());
    result.scales.resize(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        result.scales[i].address = addresses[i];
        work[i].file = ImageFileName(addresses[i], options.settings.defaultPort);
        if (work[i].file.empty()) {
            result.scales[i].failure = "the address cannot be read";
            continue;
        }
        work[i].ready = true;
        LoadState(options.stateDir, list, options, work[i], result.scales[i]);
    }
    ReadScales(addresses, options, work, result.scales);

    std::vector<transport::ScaleJob> jobs;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready) continue;
        PlanChanges(list, options, work[i], result.scales[i]);
        if (options.dryRun) continue;
        std::string error;
        if (!work[i].changes.empty() &&
            !WriteFilesAllOrNothing(options.stateDir,
                                    {{work[i].file + kPendingSuffix, WritePending(work[i].changes)}},
                                    error)) {
            result.scales[i].failure = "the state could not be written: " + error;
            continue;
        }
        jobs.push_back({addresses[i], BuildSyncCommands(options, work[i])});
        index.push_back(i);
    }
    if (options.dryRun) return result;
    std::vector<transport::ScaleResult> sent = transport::SendToScales(jobs, options.settings,
                                                                       options.observer);
    for (std::size_t j = 0; j < sent.size(); ++j) {
        std::size_t i = index[j];
        ScaleSync& scale = result.scales[i];
        std::vector<bool> confirmed = Confirmations(options, work[i], sent[j], scale);
        Commit(options.stateDir, confirmed, work[i], scale);
        if (sent[j].code != WQDS_OK) scale.failure = Cause(sent[j], jobs[j].commands->size());
    }
    return result;
}

}  // namespace vudaduv::fleet
