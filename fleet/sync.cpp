// The sync: what each scale holds (its state image, or a read), the records that differ sent
// and read back, and the state image updated with what came back as foreseen only.
//
// The state directory's ".pending" file names, scale by scale, the records of a send that have
// not yet been confirmed. It is written before the send and rewritten once the images are; a
// run that finds records of a scale there (after a kill, a power cut, a scale that failed)
// reads them back first, so that it sends only what is still missing. One file and one flush
// for the whole fleet: a thousand scales cost what one does.
//
// Scales that hold alike (their state files byte for byte, or what their reads gave) share one
// image, one plan and one command list; the first scale of such a group whose replies are the
// same as another's takes that one's verdict and new image as they are. A fleet that holds one
// list costs about what one scale does, beside the round trips.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "fleet_internal.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

constexpr const char* kLockFileName = ".lock";
constexpr const char* kPendingFileName = ".pending";

// The pending records of each scale, by the name of its image.
using Pending = std::map<std::string, std::vector<RecordKey>>;

struct Change {
    RecordKey key;
    std::string dataLine;
    std::string foreseen;  // "" for a removal
};

// What the replies of one scale of a group gave, for the next whose replies are the same.
struct Verdict {
    std::vector<std::string> replies;
    std::vector<bool> confirmed;
    std::vector<std::string> notes;
    std::string text;  // the image once the confirmed changes are in
};

// What the scales that hold one image share: the plan against the list and its commands.
struct Group {
    std::shared_ptr<const Image> held;
    ScaleSync plan;  // the figures and the lines to send and remove
    std::vector<Change> changes;
    std::vector<std::size_t> commandsOfChange;
    std::size_t writeCommands = 0;
    ReadList readBack;
    transport::CommandList commands;
    std::vector<Verdict> verdicts;  // a few: scales mostly answer alike
};

// One scale on its way through the sync.
struct ScaleWork {
    std::string file;  // its image's name in the state directory
    std::shared_ptr<const Image> held;
    bool fullRead = false;
    std::vector<RecordKey> reads;  // what is read before the plan
    std::shared_ptr<Group> group;
    bool ready = false;  // it may be sent to
};

// The images of the scales, each distinct one parsed and held once, by the text it came from.
using Interned = std::map<std::string, std::shared_ptr<const Image>>;

std::string WritePending(const Pending& pending) {
    std::string text;
    for (const auto& scale : pending) {
        for (const RecordKey& key : scale.second) {
            text += scale.first + " " + std::to_string(key.type) + " " +
                    std::to_string(key.number) + "\n";
        }
    }
    return text;
}

Pending ReadPending(const std::string& text) {
    Pending pending;
    std::istringstream in(text);
    std::string file;
    RecordKey key;
    while (in >> file >> key.type >> key.number) pending[file].push_back(key);
    return pending;
}

std::vector<RecordKey> KeysOf(const std::vector<Change>& changes) {
    std::vector<RecordKey> keys;
    for (const auto& change : changes) keys.push_back(change.key);
    return keys;
}

bool WritePendingFile(const std::string& dir, const Pending& pending, std::string& error) {
    if (!pending.empty()) {
        return WriteFilesAllOrNothing(dir, {{kPendingFileName, WritePending(pending)}}, error);
    }
    RemoveFileIfThere(JoinPath(dir, kPendingFileName));
    return true;
}

// The image read from text, parsed once for every scale whose text is the same; nullptr with
// error when the text is no image.
std::shared_ptr<const Image> InternImage(Interned& interned, const std::string& path,
                                         std::string text, std::string& error) {
    auto known = interned.find(text);
    if (known != interned.end()) return known->second;
    auto image = std::make_shared<Image>();
    if (!ReadImageText(path, text, *image, error)) return nullptr;
    interned.emplace(std::move(text), image);
    return image;
}

// What the scale's state image and pending file say, or the slots to read when it has none.
void LoadState(const std::string& dir, const WantedList& list, const SyncOptions& options,
               const Pending& pending, Interned& interned, ScaleWork& work, ScaleSync& result) {
    std::string bytes;
    std::string error;
    std::string path = JoinPath(dir, work.file);
    if (!options.readScales && ReadFileIfThere(path, bytes, error)) {
        work.held = InternImage(interned, path, std::move(bytes), error);
    }
    if (!error.empty()) result.notes.push_back(error + " (read from the scale instead)");
    if (!work.held) {
        work.fullRead = true;
        work.held = std::make_shared<const Image>();
        PullRequest request;
        request.types = options.listTypes;
        std::set<RecordKey> slots;
        for (const RecordKey& key : SlotsOf(request)) slots.insert(key);
        for (const auto& record : list) slots.insert(record.first);
        work.reads.assign(slots.begin(), slots.end());
        return;
    }
    auto open = pending.find(work.file);
    if (open != pending.end()) work.reads = open->second;
}

std::string Cause(const transport::ScaleResult& scale, std::size_t commands) {
    return std::string(transport::TransportCodeCause(scale.code)) + " (" +
           std::to_string(scale.replies.size()) + " of " + std::to_string(commands) +
           " command line(s) answered)";
}

// Takes in what the reads before the plan gave; false when the scale could not be read.
bool TakeReads(const ReadList& reads, const transport::ScaleResult& scale, bool en,
               Interned& interned, ScaleWork& work, ScaleSync& result) {
    ReadOutcome outcome = ReadReplies(reads, scale.replies, 0, en);
    if (scale.code != WQDS_OK) {
        result.failure = "could not be read: " + Cause(scale, reads.commands->size());
        return false;
    }
    for (const std::string& broken : outcome.broken) result.notes.push_back(broken);
    result.fromScale = work.fullRead;
    if (outcome.answered.empty()) return true;
    Image held = *work.held;
    for (const RecordKey& key : outcome.answered) held.erase(key);
    for (auto& record : outcome.image) held[record.first] = record.second;
    std::string text = WriteImage(held);
    auto known = interned.find(text);
    if (known != interned.end()) {
        work.held = known->second;
    } else {
        work.held = std::make_shared<const Image>(std::move(held));
        interned.emplace(std::move(text), work.held);
    }
    return true;
}

bool InListTypes(const SyncOptions& options, uint32_t type) {
    return std::find(options.listTypes.begin(), options.listTypes.end(), type) !=
           options.listTypes.end();
}

void PlanChanges(const WantedList& list, const SyncOptions& options, Group& work) {
    ScaleSync& result = work.plan;
    for (const auto& record : list) {
        auto held = work.held->find(record.first);
        if (held != work.held->end() && SameRecord(held->second, record.second.line)) {
            ++result.unchanged;
            continue;
        }
        work.changes.push_back({record.first, record.second.dataLine, record.second.line});
        result.toSend.push_back(record.second.dataLine);
        ++result.sent;
    }
    if (!options.removeMissing) return;
    for (const auto& record : *work.held) {
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
transport::CommandList BuildSyncCommands(const SyncOptions& options, Group& work) {
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
std::vector<bool> Confirmations(const SyncOptions& options, const Group& work,
                                const transport::ScaleResult& scale,
                                std::vector<std::string>& notes) {
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
        bool asForeseen = change.foreseen.empty() ? line == back.image.end()
                                                  : line != back.image.end() &&
                                                        SameRecord(line->second, change.foreseen);
        if (confirmed[i] && answered.count(change.key) != 0 && !asForeseen) {
            notes.push_back(
                KeyName(change.key) + ": came back as " +
                (line == back.image.end() ? std::string("nothing") : model::Quoted(line->second)));
        }
        confirmed[i] = confirmed[i] && answered.count(change.key) != 0 && asForeseen;
    }
    for (const std::string& broken : back.broken) notes.push_back(broken);
    return confirmed;
}

// The text of the held image once the confirmed changes are in.
std::string CommittedImage(const Image& held, const std::vector<Change>& changes,
                           const std::vector<bool>& confirmed) {
    std::map<RecordKey, const std::string*> taken;  // nullptr: emptied
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (confirmed[i])
            taken[changes[i].key] = changes[i].foreseen.empty() ? nullptr : &changes[i].foreseen;
    }
    std::string text;
    auto change = taken.begin();
    auto emit = [&text](const std::string* line) {
        if (line == nullptr) return;
        text += *line;
        text += '\n';
    };
    for (const auto& record : held) {
        for (; change != taken.end() && change->first < record.first; ++change)
            emit(change->second);
        if (change != taken.end() && change->first == record.first) {
            emit(change->second);
            ++change;
        } else {
            emit(&record.second);
        }
    }
    for (; change != taken.end(); ++change) emit(change->second);
    return text;
}

// What the scale's replies confirm, taken from a scale of the group that answered alike when
// there is one.
const Verdict& VerdictOf(const SyncOptions& options, Group& group,
                         const transport::ScaleResult& scale) {
    for (const Verdict& verdict : group.verdicts) {
        if (verdict.replies == scale.replies) return verdict;
    }
    Verdict verdict;
    verdict.replies = scale.replies;
    verdict.confirmed = Confirmations(options, group, scale, verdict.notes);
    verdict.text = CommittedImage(*group.held, group.changes, verdict.confirmed);
    // A scale that answered unlike the others is kept apart; only the first few are remembered.
    constexpr std::size_t kRemembered = 4;
    if (group.verdicts.size() == kRemembered) group.verdicts.erase(group.verdicts.begin());
    group.verdicts.push_back(std::move(verdict));
    return group.verdicts.back();
}

// The confirmed changes counted; the others stay pending.
std::vector<RecordKey> Commit(const Group& group, const Verdict& verdict, ScaleSync& result) {
    std::vector<RecordKey> open;
    for (std::size_t i = 0; i < group.changes.size(); ++i) {
        if (verdict.confirmed[i]) {
            ++result.confirmed;
        } else {
            open.push_back(group.changes[i].key);
        }
    }
    result.notes.insert(result.notes.end(), verdict.notes.begin(), verdict.notes.end());
    if (!open.empty()) {
        result.failure = std::to_string(open.size()) + " of " +
                         std::to_string(group.changes.size()) +
                         " record(s) not confirmed by the scale";
    }
    return open;
}

// One group for the scales that hold the same image, planned once.
void PlanGroups(const WantedList& list, const SyncOptions& options, std::vector<ScaleWork>& work,
                std::vector<ScaleSync>& results) {
    std::map<const Image*, std::shared_ptr<Group>> groups;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready) continue;
        std::shared_ptr<Group>& group = groups[work[i].held.get()];
        if (!group) {
            group = std::make_shared<Group>();
            group->held = work[i].held;
            PlanChanges(list, options, *group);
            if (!options.dryRun) group->commands = BuildSyncCommands(options, *group);
        }
        work[i].group = group;
        ScaleSync& result = results[i];
        result.sent = group->plan.sent;
        result.unchanged = group->plan.unchanged;
        result.removed = group->plan.removed;
        result.toSend = group->plan.toSend;
        result.toRemove = group->plan.toRemove;
    }
}

// Reads what every scale still to be read holds, all at once.
void ReadScales(const std::vector<std::string>& addresses, const SyncOptions& options,
                Interned& interned, std::vector<ScaleWork>& work, std::vector<ScaleSync>& results) {
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
        work[i].ready = TakeReads(lists[j], read[j], options.en, interned, work[i], results[i]);
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
    std::unique_ptr<FileLock> lock =
        TryLockFile(JoinPath(options.stateDir, kLockFileName), result.error);
    if (!lock) return result;

    std::string pendingText;
    std::string error;
    Pending pending;
    if (ReadFileIfThere(JoinPath(options.stateDir, kPendingFileName), pendingText, error)) {
        pending = ReadPending(pendingText);
    }
    std::vector<ScaleWork> work(addresses.size());
    result.scales.resize(addresses.size());
    std::map<std::string, std::string> addressOfFile;
    Interned interned;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        result.scales[i].address = addresses[i];
        work[i].file = ImageFileName(addresses[i], options.settings.defaultPort);
        if (work[i].file.empty()) {
            result.scales[i].failure = "the address cannot be read";
            continue;
        }
        // Two jobs on one image would each take the other's records for confirmed.
        auto [first, fresh] = addressOfFile.emplace(work[i].file, addresses[i]);
        if (!fresh) {
            result.scales[i].failure = "the same scale as " + first->second + " (served once)";
            continue;
        }
        work[i].ready = true;
        LoadState(options.stateDir, list, options, pending, interned, work[i], result.scales[i]);
    }
    ReadScales(addresses, options, interned, work, result.scales);
    interned.clear();
    PlanGroups(list, options, work, result.scales);

    std::vector<transport::ScaleJob> jobs;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready || options.dryRun) continue;
        const Group& group = *work[i].group;
        // What a scale that was read holds is known now: its old pending records are not.
        pending.erase(work[i].file);
        if (!group.changes.empty()) pending[work[i].file] = KeysOf(group.changes);
        jobs.push_back({addresses[i], group.commands});
        index.push_back(i);
    }
    if (options.dryRun) return result;
    if (!WritePendingFile(options.stateDir, pending, error)) {
        result.error = "the state could not be written: " + error;
        return result;
    }
    std::vector<transport::ScaleResult> sent =
        transport::SendToScales(jobs, options.settings, options.observer);
    std::vector<std::pair<std::string, std::string>> images;
    for (std::size_t j = 0; j < sent.size(); ++j) {
        std::size_t i = index[j];
        ScaleSync& scale = result.scales[i];
        const Verdict& verdict = VerdictOf(options, *work[i].group, sent[j]);
        std::vector<RecordKey> open = Commit(*work[i].group, verdict, scale);
        pending.erase(work[i].file);
        if (!open.empty()) pending[work[i].file] = open;
        if (sent[j].code != WQDS_OK) scale.failure = Cause(sent[j], jobs[j].commands->size());
        images.push_back({work[i].file, verdict.text});
    }
    // The images first: a pending record of an image that was written is read back for nothing,
    // an image that claims what was not confirmed would be wrong.
    if (!WriteFilesAllOrNothing(options.stateDir, images, error)) {
        for (std::size_t i : index)
            result.scales[i].failure = "the state image could not be written: " + error;
        return result;
    }
    if (!WritePendingFile(options.stateDir, pending, error)) {
        for (std::size_t i : index)
            result.scales[i].notes.push_back("the pending records could not be written: " + error);
    }
    return result;
}

}  // namespace vudaduv::fleet
