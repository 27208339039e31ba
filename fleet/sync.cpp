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
//
// The state is trusted only as far as the scale bears it out: every run reads back a few of the
// records each state image names, and one slot it says is empty. A scale that does not answer
// fails; one whose sample differs is read in full before its plan. A plan that would empty more
// of a scale than the removal cap allows leaves that scale untouched.
#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <unordered_map>

#include "fleet_internal.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

constexpr const char* kLockFileName = ".lock";
constexpr const char* kTrialFileName = ".room.new";  // with the temporaries' ending: never kept
constexpr std::uintmax_t kTrialBytes = 64 * 1024;

struct Change {
    RecordKey key;
    std::string dataLine;
    std::string foreseen;  // "" for a removal
};

// What the replies of one scale of a group gave, for the next whose replies are the same.
struct Verdict {
    std::vector<std::string> replies;
    std::vector<bool> written;  // every write of the change answered as a scale answers
    std::vector<bool> confirmed;
    std::vector<std::string> notes;
    std::string text;         // the image once the confirmed changes are in
    std::string journal;      // the confirmed changes as journal lines
    bool journalable = true;  // every one has a line (an emptied record: its line of nothing)
};

// What the scales that hold one image share: the plan against the list and its commands.
struct Group {
    std::shared_ptr<const Image> held;
    ScaleSync plan;                     // the figures
    std::shared_ptr<SyncPlan> planned;  // the changes as the caller sees them
    std::vector<Change> changes;
    std::vector<std::size_t> commandsOfChange;
    std::size_t writeCommands = 0;
    ReadList readBack;
    transport::CommandList commands;
    std::vector<Verdict> verdicts;   // a few: scales mostly answer alike
    KeyList changeKeys;              // of the changes, in order: what its scales leave pending
    std::vector<std::string> alike;  // the replies its scales gave alike, as they came
};

// One scale on its way through the sync.
struct ScaleWork {
    std::string file;  // its image's name in the state directory
    std::shared_ptr<const Image> held;
    std::shared_ptr<const Image> stateHeld;  // what its state said, kept when a read in full
                                             // replaced held (nullptr: the state knew nothing)
    std::size_t stateBytes = 0;              // of its state image, as read
    bool imageThere = false;                 // its state image was read
    bool journalThere = false;        // a journal lies beside its image (of it, or left by a crash)
    std::uintmax_t journalBytes = 0;  // of the journal, the bytes that count, as read
    std::vector<RecordKey> taken;     // the pending records whose reads were taken in
    bool fullRead = false;
    bool drift = false;            // its probe differed from the state: read in full
    bool stateAsRead = false;      // held is its state image as read, nothing taken in since
    std::vector<RecordKey> reads;  // what is read before the plan: pending records, then probes
    std::size_t probes = 0;        // the last this many of reads are the probe
    std::shared_ptr<Group> group;
    bool ready = false;  // it may be sent to
};

// The images of the scales, each distinct one parsed and held once, by the texts it came from:
// its image's and its journal's.
using Interned = std::map<std::pair<std::string, std::string>, std::shared_ptr<const Image>>;

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

// The image read from its text and its journal's, parsed once for every scale whose texts are
// the same; nullptr with error when they are no image and journal.
std::shared_ptr<const Image> InternImage(Interned& interned, const std::string& path,
                                         std::string text, std::string journal,
                                         std::string& error) {
    std::pair<std::string, std::string> texts{std::move(text), std::move(journal)};
    auto known = interned.find(texts);
    if (known != interned.end()) return known->second;
    auto image = std::make_shared<Image>();
    if (!ReadImageText(path, texts.first, *image, error) ||
        !ApplyJournal(JournalFileName(path), texts.second, *image, error)) {
        return nullptr;
    }
    interned.emplace(std::move(texts), image);
    return image;
}

// The slots of the list's types, every item from 0 as the scale keeps them.
std::vector<RecordKey> SlotsOfListTypes(const SyncOptions& options) {
    PullRequest request;
    request.types = options.listTypes;
    request.firstItem = 0;
    return SlotsOf(request);
}

// What the scale holds is not known: every slot of the list's types is read, and every record
// of the list.
void ReadInFull(const WantedList& list, const SyncOptions& options, ScaleWork& work) {
    if (!work.fullRead) work.stateHeld = work.held;
    work.fullRead = true;
    work.stateAsRead = false;
    work.held = std::make_shared<const Image>();
    work.probes = 0;
    std::set<RecordKey> slots;
    for (const RecordKey& key : SlotsOfListTypes(options)) slots.insert(key);
    for (const auto& record : list) slots.insert(record.first);
    work.reads.assign(slots.begin(), slots.end());
}

// The character set of each image that is not in GBK, by its file name.
using Charsets = std::map<std::string, std::string>;

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

// The bytes of a state image in GBK; false with error when its character set cannot be read.
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

// The images' texts as their files hold them: in the state's character set where that set has
// a place for every character (converted there and back alike), else in GBK. Scales that hold
// alike are converted once.
class StateText {
  public:
    explicit StateText(const StateCharset& charset) : charset_(charset) {}

    // The text to write and its character set ("" for GBK).
    const std::pair<std::string, std::string>& Of(const std::string& gbk) {
        auto known = converted_.find(gbk);
        if (known != converted_.end()) return known->second;
        std::pair<std::string, std::string> file{gbk, ""};
        std::string text;
        std::string back;
        if (!charset_.name.empty() && charset_.fromGbk && charset_.toGbk &&
            charset_.fromGbk(charset_.name, gbk, text) &&
            charset_.toGbk(charset_.name, text, back) && back == gbk) {
            file = {std::move(text), charset_.name};
        }
        return converted_.emplace(gbk, std::move(file)).first->second;
    }

  private:
    const StateCharset& charset_;
    std::unordered_map<std::string, std::pair<std::string, std::string>> converted_;
};

// What the scale's state image and pending file say, or the slots to read when it has none.
void LoadState(const std::string& dir, const WantedList& list, const SyncOptions& options,
               const Pending& pending, const Charsets& charsets, Interned& interned,
               ScaleWork& work, ScaleSync& result) {
    std::string bytes;
    std::string journal;
    std::string error;
    std::string path = JoinPath(dir, work.file);
    std::string journalPath = JoinPath(dir, JournalFileName(work.file));
    auto open = pending.find(work.file);
    work.journalThere = ReadFileIfThere(journalPath, journal, error);
    if (!options.readScales && error.empty() && ReadFileIfThere(path, bytes, error)) {
        work.imageThere = true;
        work.stateBytes = bytes.size();
        // Beyond the length recorded before an unconfirmed send, the lines are not yet state.
        journal.resize(JournalBytesThatCount(
            journal, open == pending.end() ? kWholeJournal : open->second.journalBytes));
        work.journalBytes = journal.size();
        if (options.digestState) result.stateDigest = DigestOf(bytes + journal);
        if (StateImageToGbk(options, charsets, work.file, bytes, error) &&
            StateImageToGbk(options, charsets, work.file, journal, error)) {
            work.held = InternImage(interned, path, std::move(bytes), std::move(journal), error);
        }
    }
    if (!error.empty()) result.notes.push_back(error + " (read from the scale instead)");
    if (!work.held) {
        ReadInFull(list, options, work);
        return;
    }
    if (open != pending.end()) work.reads = KeysIn(open->second.keys);
    work.stateAsRead = work.reads.empty();
}

std::string Cause(const transport::ScaleResult& scale, std::size_t commands) {
    return std::string(transport::TransportCodeCause(scale.code)) + " (" +
           std::to_string(scale.answered) + " of " + std::to_string(commands) +
           " command line(s) answered)";
}

// How many of the probed slots the scale holds otherwise than the state says: a record it lacks
// or holds unlike, or a record in a slot the state says is empty.
std::size_t DifferingProbes(const ScaleWork& work, const ReadOutcome& outcome, std::size_t probed) {
    std::set<std::string> broken;  // the names of records that did not come back whole
    for (const std::string& why : outcome.broken) broken.insert(why.substr(0, why.find(':')));
    std::size_t differing = 0;
    for (std::size_t i = work.reads.size() - probed; i < work.reads.size(); ++i) {
        const RecordKey& key = work.reads[i];
        auto state = work.held->find(key);
        auto scale = outcome.image.find(key);
        bool same = state == work.held->end()
                        ? scale == outcome.image.end() && broken.count(KeyName(key)) == 0
                        : scale != outcome.image.end() && SameRecord(state->second, scale->second);
        differing += same ? 0 : 1;
    }
    return differing;
}

// Takes in what the reads before the plan gave; false when the scale could not be read. A probe
// that differs marks the scale for a read in full (drift).
bool TakeReads(const ReadList& reads, const transport::ScaleResult& scale, bool en,
               Interned& interned, ScaleWork& work, ScaleSync& result) {
    ReadOutcome outcome = ReadReplies(reads, scale.replies, 0, en);
    result.code = scale.code;
    if (scale.code != WQDS_OK) {
        result.failure = "could not be read: " + Cause(scale, reads.commands->size());
        return false;
    }
    if (!outcome.failure.empty()) {
        result.failure = "could not be read: " + outcome.failure;
        return false;
    }
    for (const std::string& broken : outcome.broken) result.notes.push_back(broken);
    result.fromScale = work.fullRead;
    if (work.probes > 0) {
        result.probed = work.probes;
        result.differing = DifferingProbes(work, outcome, work.probes);
        if (result.differing > 0) {
            work.drift = true;
            return true;
        }
        work.reads.resize(work.reads.size() - work.probes);
        work.probes = 0;
    }
    // The probed records agreed with the state: only what the pending reads gave is taken in,
    // so that scales that hold alike keep sharing one image.
    std::set<RecordKey> taken(work.reads.begin(), work.reads.end());
    if (taken.empty()) return true;
    work.taken.assign(taken.begin(), taken.end());
    Image held = *work.held;
    for (const RecordKey& key : outcome.answered) {
        if (taken.count(key) != 0) held.erase(key);
    }
    for (auto& record : outcome.image) {
        if (taken.count(record.first) != 0) held[record.first] = record.second;
    }
    std::pair<std::string, std::string> texts{WriteImage(held), ""};
    auto known = interned.find(texts);
    if (known != interned.end()) {
        work.held = known->second;
    } else {
        work.held = std::make_shared<const Image>(std::move(held));
        interned.emplace(std::move(texts), work.held);
    }
    return true;
}

// The probe of a scale whose state is trusted: up to count records the state names, of the
// list's types, and one slot it says is empty, none of them pending. Drawn afresh each run.
class ProbeDraw {
  public:
    ProbeDraw(const SyncOptions& options)
        : count_(options.probe),
          slots_(SlotsOfListTypes(options)),
          random_(std::random_device{}()) {
        types_.insert(options.listTypes.begin(), options.listTypes.end());
    }

    void AddTo(ScaleWork& work) {
        if (count_ == 0 || work.fullRead) return;
        std::set<RecordKey> chosen(work.reads.begin(), work.reads.end());  // pending: read anyway
        std::size_t before = work.reads.size();
        const std::vector<RecordKey>& held = HeldKeys(*work.held);
        // Floyd's draw of distinct places; a pending record drawn is passed over.
        std::size_t want = std::min(count_, held.size());
        std::set<std::size_t> places;
        for (std::size_t top = held.size() - want; top < held.size(); ++top) {
            std::size_t place = std::uniform_int_distribution<std::size_t>(0, top)(random_);
            places.insert(places.count(place) != 0 ? top : place);
        }
        for (std::size_t place : places) {
            if (chosen.insert(held[place]).second) work.reads.push_back(held[place]);
        }
        if (!slots_.empty()) {
            std::size_t start =
                std::uniform_int_distribution<std::size_t>(0, slots_.size() - 1)(random_);
            for (std::size_t step = 0; step < slots_.size(); ++step) {
                const RecordKey& slot = slots_[(start + step) % slots_.size()];
                if (work.held->count(slot) == 0 && chosen.count(slot) == 0) {
                    work.reads.push_back(slot);
                    break;
                }
            }
        }
        work.probes = work.reads.size() - before;
    }

  private:
    // The keys of the list's types in an image, listed once for all the scales that hold it.
    const std::vector<RecordKey>& HeldKeys(const Image& image) {
        std::vector<RecordKey>& keys = heldKeys_[&image];
        if (keys.empty()) {
            for (const auto& record : image) {
                if (types_.count(record.first.type) != 0) keys.push_back(record.first);
            }
        }
        return keys;
    }

    std::size_t count_;
    std::vector<RecordKey> slots_;
    std::set<uint32_t> types_;
    std::mt19937_64 random_;
    std::map<const Image*, std::vector<RecordKey>> heldKeys_;
};

bool InListTypes(const SyncOptions& options, uint32_t type) {
    return std::find(options.listTypes.begin(), options.listTypes.end(), type) !=
           options.listTypes.end();
}

void PlanChanges(const WantedList& list, const SyncOptions& options, Group& work) {
    ScaleSync& result = work.plan;
    for (const auto& record : list) {
        // A record no image line can hold is neither sent nor removed: the check named it.
        if (!record.second.unkeepable.empty()) continue;
        auto held = work.held->find(record.first);
        if (held != work.held->end() && SameRecord(held->second, record.second.line)) {
            ++result.unchanged;
            continue;
        }
        work.changes.push_back({record.first, record.second.dataLine, record.second.line});
        work.planned->push_back({record.first, record.second.dataLine, false});
        ++result.sent;
    }
    if (!options.removeMissing) return;
    std::size_t heldOfTypes = 0;
    for (const auto& record : *work.held) {
        heldOfTypes += InListTypes(options, record.first.type) ? 1 : 0;
    }
    result.removalCap = MaxRemovals(options.maxRemove, heldOfTypes);
    for (const auto& record : *work.held) {
        std::string removal = RemovalLine(record.first);
        if (list.count(record.first) != 0 || removal.empty() ||
            !InListTypes(options, record.first.type)) {
            continue;
        }
        work.changes.push_back({record.first, removal, ""});
        work.planned->push_back({record.first, removal, true});
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
    std::set<RecordKey> sorted(keys.begin(), keys.end());
    work.changeKeys = MakeKeyList({sorted.begin(), sorted.end()});
    if (options.readBackSent) {
        work.readBack = model::BuildReadRequests(keys, options.en);
        commands->insert(commands->end(), work.readBack.commands->begin(),
                         work.readBack.commands->end());
    }
    return commands;
}

// Which changes the scale confirmed: every write answered as a scale answers and, when read
// back, the record as foreseen (a removal: nothing).
std::vector<bool> Confirmations(const SyncOptions& options, const Group& work,
                                const std::vector<std::string>& replies, std::vector<bool>& written,
                                std::vector<std::string>& notes) {
    std::vector<bool> confirmed(work.changes.size(), false);
    std::size_t at = 0;
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        bool answered = at + work.commandsOfChange[i] <= replies.size();
        for (std::size_t n = 0; answered && n < work.commandsOfChange[i]; ++n) {
            answered = model::IsScaleAnswer(replies[at + n]);
        }
        at += work.commandsOfChange[i];
        confirmed[i] = answered;
    }
    written = confirmed;
    if (!options.readBackSent) return confirmed;
    ReadOutcome back = ReadReplies(work.readBack, replies, work.writeCommands, options.en);
    std::set<RecordKey> answered(back.answered.begin(), back.answered.end());
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        const auto& change = work.changes[i];
        auto line = back.image.find(change.key);
        bool asForeseen = model::CameBackAsForeseen(
            change.foreseen, line == back.image.end() ? nullptr : &line->second);
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

// A record's line in a journal: its upload line, or for a record emptied the upload line that
// holds nothing. "" for a record that has no such line (type 7 data, the key table).
std::string JournalLine(const RecordKey& key, const std::string& line) {
    if (!line.empty()) return line + "\n";
    std::string removal = RemovalLine(key);
    if (removal.empty()) return "";
    std::string empty = model::UploadPrefix(key.type) + removal;
    return HoldsNothing(empty) ? empty + "\n" : "";
}

// What the scale's replies confirm, taken from a scale of the group that answered alike when
// there is one.
const Verdict& VerdictOf(const SyncOptions& options, Group& group,
                         const std::vector<std::string>& replies) {
    for (const Verdict& verdict : group.verdicts) {
        if (verdict.replies == replies) return verdict;
    }
    Verdict verdict;
    verdict.replies = replies;
    verdict.confirmed = Confirmations(options, group, replies, verdict.written, verdict.notes);
    verdict.text = CommittedImage(*group.held, group.changes, verdict.confirmed);
    for (std::size_t i = 0; i < group.changes.size(); ++i) {
        if (!verdict.confirmed[i]) continue;
        std::string line = JournalLine(group.changes[i].key, group.changes[i].foreseen);
        verdict.journalable = verdict.journalable && !line.empty();
        verdict.journal += line;
    }
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
        result.written += verdict.written[i] ? 1 : 0;
        if (verdict.confirmed[i]) {
            ++result.confirmed;
            result.removalsConfirmed += group.changes[i].foreseen.empty() ? 1 : 0;
        } else {
            open.push_back(group.changes[i].key);
        }
    }
    result.pending = open.size();
    result.notes.insert(result.notes.end(), verdict.notes.begin(), verdict.notes.end());
    if (!open.empty()) {
        result.failure = std::to_string(open.size()) + " of " +
                         std::to_string(group.changes.size()) +
                         " record(s) not confirmed by the scale";
    }
    return open;
}

// A plan that empties more records than the cap allows: a cut list, not a day's changes.
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

// Why a scale was left untouched by the cap: what it would have lost and what the cap allows.
std::string RefusalCause(const ScaleSync& scale) {
    return "its plan removes " + std::to_string(scale.removed) +
           " record(s), more than its removal cap of " + std::to_string(scale.removalCap) +
           " allows; nothing sent";
}

bool ExceedsRemovalCap(const SyncOptions& options, const ScaleSync& plan) {
    return options.removeMissing && plan.removed > plan.removalCap;
}

// One group for the scales that hold the same image, planned once. The scales of a plan over
// the removal cap are refused: nothing is sent to them.
void PlanGroups(const WantedList& list, const SyncOptions& options, std::vector<ScaleWork>& work,
                std::vector<ScaleSync>& results) {
    std::map<const Image*, std::shared_ptr<Group>> groups;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready) continue;
        std::shared_ptr<Group>& group = groups[work[i].held.get()];
        if (!group) {
            group = std::make_shared<Group>();
            group->held = work[i].held;
            group->planned = std::make_shared<SyncPlan>();
            PlanChanges(list, options, *group);
            if (!options.dryRun && !ExceedsRemovalCap(options, group->plan)) {
                group->commands = BuildSyncCommands(options, *group);
            }
        }
        work[i].group = group;
        ScaleSync& result = results[i];
        result.sent = group->plan.sent;
        result.unchanged = group->plan.unchanged;
        result.removed = group->plan.removed;
        result.removalCap = group->plan.removalCap;
        result.plan = group->planned;
        if (ExceedsRemovalCap(options, group->plan)) {
            result.status = SyncStatus::kRefusedCap;
            result.failure = RefusalCause(result);
            work[i].ready = false;
        }
    }
}

// A scale that got no plan of its own (it could not be reached or read, or the run stopped
// before its plan) keeps the figures its state foresees, so that the next run's work shows:
// the changes planned against what its state says it holds, all of them pending (none when the
// plan is over the removal cap: the next run sends it nothing either). Scales whose states hold
// alike are planned once; their plan stays nullptr, as nothing was planned to be sent now.
void ForeseeFromState(const WantedList& list, const SyncOptions& options,
                      const std::vector<ScaleWork>& work, std::vector<ScaleSync>& results) {
    std::map<const Image*, std::shared_ptr<Group>> groups;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::shared_ptr<const Image>& state =
            work[i].fullRead ? work[i].stateHeld : work[i].held;
        if (work[i].group || !state) continue;
        std::shared_ptr<Group>& group = groups[state.get()];
        if (!group) {
            group = std::make_shared<Group>();
            group->held = state;
            group->planned = std::make_shared<SyncPlan>();
            PlanChanges(list, options, *group);
        }
        ScaleSync& result = results[i];
        result.foreseen = true;
        result.sent = group->plan.sent;
        result.unchanged = group->plan.unchanged;
        result.removed = group->plan.removed;
        result.removalCap = group->plan.removalCap;
        result.pending =
            ExceedsRemovalCap(options, group->plan) ? 0 : group->plan.sent + group->plan.removed;
    }
}

bool StopAsked(const SyncOptions& options) {
    return options.observer.stop != nullptr && options.observer.stop->load();
}

// The places in the caller's addresses of the scales of index.
std::vector<std::size_t> PlacesOf(const std::vector<std::size_t>& index,
                                  const std::vector<std::size_t>& places) {
    std::vector<std::size_t> out;
    for (std::size_t i : index) out.push_back(places[i]);
    return out;
}

// The replies of the scales sent to, taken as they come: the replies the scales of a group give
// alike are kept once, in the group; a scale keeps replies of its own only once it answers
// otherwise, from the first it shares. Thousands of scales that answer a thousand lines alike
// hold one copy of them, not one each.
class SentReplies {
  public:
    explicit SentReplies(std::vector<Group*> groupOfJob)
        : groupOfJob_(std::move(groupOfJob)), scales_(groupOfJob_.size()) {}

    void Take(std::size_t job, std::size_t line, std::string&& reply) {
        Scale& scale = scales_[job];
        std::vector<std::string>& alike = groupOfJob_[job]->alike;
        scale.count = line + 1;
        if (scale.apart) {
            scale.own.push_back(std::move(reply));
        } else if (line == alike.size()) {
            alike.push_back(std::move(reply));
        } else if (line > alike.size() || alike[line] != reply) {
            scale.apart = true;
            std::size_t shared = std::min(line, alike.size());
            scale.own.assign(alike.begin(), alike.begin() + static_cast<std::ptrdiff_t>(shared));
            scale.own.push_back(std::move(reply));
        }
    }

    // The job's replies, whole; scratch holds them when they are a part of the group's.
    const std::vector<std::string>& Of(std::size_t job, std::vector<std::string>& scratch) const {
        const Scale& scale = scales_[job];
        if (scale.apart) return scale.own;
        const std::vector<std::string>& alike = groupOfJob_[job]->alike;
        if (scale.count == alike.size()) return alike;
        scratch.assign(alike.begin(), alike.begin() + static_cast<std::ptrdiff_t>(scale.count));
        return scratch;
    }

    // Once its verdict is drawn a scale's own replies go.
    void Release(std::size_t job) { std::vector<std::string>().swap(scales_[job].own); }

  private:
    struct Scale {
        std::size_t count = 0;
        bool apart = false;
        std::vector<std::string> own;
    };
    std::vector<Group*> groupOfJob_;
    std::vector<Scale> scales_;
};

// One exchange with the scales of index, told to the observer as the scales of the addresses.
std::vector<transport::ScaleResult> Exchange(
    const std::vector<transport::ScaleJob>& jobs, const std::vector<std::size_t>& index,
    SyncPhase phase, const SyncOptions& options, uint32_t startedMs,
    std::function<void(std::size_t, std::size_t, std::string&&)> replyTaken = {}) {
    std::size_t commands = 0;
    for (const auto& job : jobs) commands += job.commands ? job.commands->size() : 0;
    if (options.phaseStarted) options.phaseStarted(phase, jobs.size(), commands);
    transport::SendObserver observer;
    observer.stop = options.observer.stop;
    observer.replyTaken = std::move(replyTaken);
    if (options.observer.lineAnswered) {
        observer.lineAnswered = [&](std::size_t job, std::size_t answered) {
            options.observer.lineAnswered(index[job], answered);
        };
    }
    if (options.observer.scaleDone) {
        observer.scaleDone = [&](std::size_t job, const transport::ScaleResult& result) {
            options.observer.scaleDone(index[job], result);
        };
    }
    std::vector<transport::ScaleResult> results =
        transport::SendToScales(jobs, options.settings, observer);
    for (auto& result : results) result.milliseconds += startedMs;
    return results;
}

// Reads what every scale still to be read holds, all at once: the pending records and the probe
// of every scale (phase kReading), or every slot of the scales whose probe differed
// (kReadingInFull).
void ReadScales(const WantedList& list, const std::vector<std::string>& addresses,
                const std::vector<std::size_t>& places, const SyncOptions& options, SyncPhase phase,
                uint32_t startedMs, Interned& interned, std::vector<ScaleWork>& work,
                std::vector<ScaleSync>& results) {
    std::vector<transport::ScaleJob> jobs;
    std::vector<ReadList> lists;
    std::vector<std::size_t> index;
    bool inFull = phase == SyncPhase::kReadingInFull;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready || (inFull && !work[i].drift)) continue;
        lists.push_back(model::BuildReadRequests(work[i].reads, options.en));
        jobs.push_back({addresses[i], lists.back().commands});
        index.push_back(i);
    }
    if (jobs.empty()) return;
    std::vector<transport::ScaleResult> read =
        Exchange(jobs, PlacesOf(index, places), phase, options, startedMs);
    for (std::size_t j = 0; j < read.size(); ++j) {
        std::size_t i = index[j];
        results[i].milliseconds = read[j].milliseconds;
        work[i].ready = TakeReads(lists[j], read[j], options.en, interned, work[i], results[i]);
        if (work[i].ready && work[i].drift && !inFull) ReadInFull(list, options, work[i]);
    }
}

// The word for a scale that was served: what its figures say happened.
SyncStatus StatusOf(const ScaleSync& scale, const ScaleWork& work, bool dryRun) {
    if (!scale.failure.empty()) return SyncStatus::kFailed;
    if (dryRun) return scale.sent + scale.removed > 0 ? SyncStatus::kPlanned : SyncStatus::kInStep;
    if (work.drift) return SyncStatus::kDriftRepaired;
    return scale.sent + scale.removed > 0 ? SyncStatus::kSynced : SyncStatus::kInStep;
}

// A scale the stop cut short (its exchange ended with WQDS_INTERNAL) or kept from being served.
void MarkInterrupted(ScaleSync& scale, const std::string& why) {
    scale.status = SyncStatus::kInterrupted;
    scale.failure = why;
}

// Stopped after the reads: nothing is sent, the state stays as it was, and every scale that had
// not failed on its own is interrupted.
void EndAfterReads(const std::vector<ScaleWork>& work, SyncResult& result) {
    result.interrupted = true;
    for (std::size_t i = 0; i < work.size(); ++i) {
        ScaleSync& scale = result.scales[i];
        if (scale.status == SyncStatus::kRefusedCap) continue;
        if (work[i].ready) {
            MarkInterrupted(scale, "interrupted before anything was sent");
        } else if (scale.code == WQDS_INTERNAL) {
            MarkInterrupted(scale, "interrupted while it was read");
        }
    }
}

// What the run may write in the state directory, from what LoadState found there.
SyncRoom RoomOfRun(const WantedList& list, const std::vector<ScaleWork>& work,
                   std::uintmax_t pendingBytes) {
    SyncRoom room;
    room.listImageBytes = WriteImage(ImageOf(list)).size();
    room.listRecords = list.size();
    room.pendingBytes = pendingBytes;
    std::set<const Image*> states;
    for (const ScaleWork& scale : work) {
        if (scale.file.empty()) continue;
        room.stateBytes.push_back(scale.stateBytes + scale.journalBytes);
        room.longestFileName = std::max(room.longestFileName, scale.file.size());
        // A scale read in full may come back as any state: it counts as one of its own.
        if (!scale.held || states.insert(scale.held.get()).second) ++room.distinctStates;
    }
    return room;
}

// Whether the state directory takes what this run may write, asked before any scale is read so
// that a full disk is found at once, not after the whole read: the free space is compared with
// the room needed, then a trial file is written and removed (nothing is left behind).
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

}  // namespace

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

std::size_t MaxRemovals(const RemovalCap& cap, std::size_t held) {
    switch (cap.kind) {
        case RemovalCap::kAll:
            return held;
        case RemovalCap::kCount:
            return cap.value;
        default:
            return std::max<std::size_t>(1, held / 100 * cap.value + held % 100 * cap.value / 100);
    }
}

bool EndedAsAsked(SyncStatus status) {
    return status != SyncStatus::kFailed && status != SyncStatus::kRefusedCap &&
           status != SyncStatus::kInterrupted;
}

const char* SyncStatusName(SyncStatus status) {
    switch (status) {
        case SyncStatus::kInStep:
            return "in-step";
        case SyncStatus::kSynced:
            return "synced";
        case SyncStatus::kDriftRepaired:
            return "drift-repaired";
        case SyncStatus::kRefusedCap:
            return "refused-cap";
        case SyncStatus::kFailed:
            return "failed";
        case SyncStatus::kInterrupted:
            return "interrupted";
        case SyncStatus::kPlanned:
            return "planned";
    }
    return "unknown";
}

namespace {

// How a scale's state is written after the send.
enum class StateWrite {
    kNone,     // nothing taken in: its files stay as they are
    kAppend,   // the lines taken in go to the end of its journal
    kCompact,  // appended, then the image written whole and the journal, now in it, removed
    kReplace,  // the image written whole, not from its files as read; a journal beside it goes
};

struct ScaleWrite {
    StateWrite how = StateWrite::kNone;
    std::string_view lines;  // for the journal, in its image's character set
    std::string_view image;  // for kCompact and kReplace, in charset
    std::string charset;     // of the image written ("" for GBK)
};

// The journal lines of a scale: what its pending reads gave, then the changes it confirmed;
// false when one of them has no journal line.
bool JournalLinesOf(const ScaleWork& work, const Verdict& verdict, std::string& lines) {
    const Group& group = *work.group;
    std::set<RecordKey> confirmed;
    for (std::size_t i = 0; i < group.changes.size(); ++i) {
        if (verdict.confirmed[i]) confirmed.insert(group.changes[i].key);
    }
    for (const RecordKey& key : work.taken) {
        if (confirmed.count(key) != 0) continue;
        auto held = group.held->find(key);
        std::string line = JournalLine(key, held == group.held->end() ? "" : held->second);
        if (line.empty()) return false;
        lines += line;
    }
    lines += verdict.journal;
    return verdict.journalable;
}

// A journal holds lines of the state its image and its earlier lines make, in the image's
// character set; so a scale read in full, a change of character set or a record no line can
// empty writes the image whole, as does a journal that would outgrow its image (reading stays
// within twice the image, and the rewrite is paid for by the appends before it).
ScaleWrite HowToWrite(const ScaleWork& work, const Verdict& verdict, const std::string& charset,
                      const SyncOptions& options, StateText& stateText,
                      std::deque<std::string>& lineTexts) {
    const std::string* gbkLines = &verdict.journal;
    bool journalable = verdict.journalable;
    if (!work.taken.empty()) {
        lineTexts.emplace_back();
        journalable = JournalLinesOf(work, verdict, lineTexts.back());
        gbkLines = &lineTexts.back();
    }
    ScaleWrite write;
    bool whole = work.fullRead || !work.imageThere || !journalable;
    if (!whole && charset != options.stateCharset.name) {
        whole = stateText.Of(verdict.text).second != charset;
    }
    if (!whole && !gbkLines->empty()) {
        const std::pair<std::string, std::string>& lines = stateText.Of(*gbkLines);
        whole = lines.second != charset;
        write.lines = lines.first;
    }
    if (!whole && write.lines.empty()) return write;
    if (!whole && work.journalBytes + write.lines.size() <= work.stateBytes) {
        write.how = StateWrite::kAppend;
        return write;
    }
    const std::pair<std::string, std::string>& image = stateText.Of(verdict.text);
    write.how = !whole && image.second == charset ? StateWrite::kCompact : StateWrite::kReplace;
    write.image = image.first;
    write.charset = image.second;
    if (write.how == StateWrite::kReplace) write.lines = {};
    return write;
}

// Writes what the send confirmed: the journals' lines appended and flushed; then the whole
// images (and .charsets, first) beside their places, flushed and moved in. An image replaced
// while a journal lies beside it has both removed first: a scale with no image is read in full,
// one with another image's journal would be wrong. A compacted image's journal is removed once
// the image is in place: the image already holds every line of it, so that taking it in again
// after a crash changes nothing. On failure the journals are cut back to their lengths as read.
bool WriteStates(const std::string& dir, const std::vector<ScaleWork>& work,
                 const std::vector<std::size_t>& index, const std::vector<ScaleWrite>& writes,
                 const std::string* charsetsText, std::uintmax_t& written, std::string& error) {
    std::vector<std::string> appended;
    std::vector<std::uintmax_t> keep;
    bool ok = true;
    for (std::size_t j = 0; ok && j < writes.size(); ++j) {
        if (writes[j].how != StateWrite::kAppend && writes[j].how != StateWrite::kCompact) continue;
        const ScaleWork& scale = work[index[j]];
        std::string journal = JoinPath(dir, JournalFileName(scale.file));
        written += writes[j].lines.size();
        ok = AppendToFile(journal, scale.journalBytes, writes[j].lines, error);
        appended.push_back(journal);
        keep.push_back(scale.journalBytes);
    }
    if (ok && !appended.empty()) ok = FlushToDisk(appended, error);
    std::vector<std::pair<std::string, std::string_view>> files;
    if (charsetsText != nullptr) files.emplace_back(kCharsetsFileName, *charsetsText);
    for (std::size_t j = 0; j < writes.size(); ++j) {
        if (writes[j].how != StateWrite::kCompact && writes[j].how != StateWrite::kReplace)
            continue;
        files.emplace_back(work[index[j]].file, writes[j].image);
    }
    std::vector<std::string> temps;
    for (std::size_t f = 0; ok && f < files.size(); ++f) {
        temps.push_back(JoinPath(dir, files[f].first + kTempSuffix));
        written += files[f].second.size();
        ok = WriteWholeFile(temps.back(), files[f].second, error);
        if (!ok) error = temps.back() + ": " + error;
    }
    if (ok && !temps.empty()) ok = FlushToDisk(temps, error);
    if (!ok) {
        for (const std::string& temp : temps) RemoveFileIfThere(temp);
        std::string ignored;
        for (std::size_t a = 0; a < appended.size(); ++a) {
            AppendToFile(appended[a], keep[a], "", ignored);
        }
        return false;
    }
    for (std::size_t j = 0; ok && j < writes.size(); ++j) {
        const ScaleWork& scale = work[index[j]];
        if (writes[j].how == StateWrite::kReplace && scale.journalThere) {
            ok = RemoveFile(JoinPath(dir, scale.file), error) &&
                 RemoveFile(JoinPath(dir, JournalFileName(scale.file)), error);
        }
    }
    for (std::size_t f = 0; ok && f < files.size(); ++f) {
        ok = MoveIntoPlace(temps[f], JoinPath(dir, files[f].first), error);
        if (!ok) error = JoinPath(dir, files[f].first) + ": " + error;
    }
    for (std::size_t j = 0; ok && j < writes.size(); ++j) {
        if (writes[j].how != StateWrite::kCompact) continue;
        ok = RemoveFile(JoinPath(dir, JournalFileName(work[index[j]].file)), error);
    }
    if (!ok) {
        for (const std::string& temp : temps) RemoveFileIfThere(temp);
    }
    return ok;
}

// The sync of distinct scales; places gives each one's place in the caller's addresses, for the
// observer.
SyncResult SyncScales(const WantedList& list, const std::vector<std::string>& addresses,
                      const std::vector<std::size_t>& places, const SyncOptions& options) {
    SyncResult result;
    auto start = std::chrono::steady_clock::now();
    auto elapsedMs = [&start] {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
    };
    // An empty list is an export that failed or has not been written yet, not a shop that
    // sells nothing: removing what it lacks would empty every scale.
    if (options.removeMissing && list.empty() && options.maxRemove.kind != RemovalCap::kAll) {
        result.refused = true;
        result.errorKind = SyncError::kRefused;
        result.error = "the list holds no record: removing what it lacks would empty every scale";
        return result;
    }
    std::error_code code;
    std::filesystem::create_directories(FsPath(options.stateDir), code);
    if (code) {
        result.errorKind = SyncError::kState;
        result.error = options.stateDir + ": " + code.message();
        return result;
    }
    bool held = false;
    std::unique_ptr<FileLock> lock =
        TryLockFile(JoinPath(options.stateDir, kLockFileName), result.error, held);
    if (!lock) {
        result.errorKind = held ? SyncError::kLocked : SyncError::kState;
        return result;
    }

    result.lastGoodSync = LastGoodSync(options.stateDir);
    std::string pendingText;
    std::string error;
    Pending pending;
    if (ReadFileIfThere(JoinPath(options.stateDir, kPendingFileName), pendingText, error)) {
        pending = ReadPending(pendingText);
    }
    std::string charsetsText;
    Charsets charsets;
    if (ReadFileIfThere(JoinPath(options.stateDir, kCharsetsFileName), charsetsText, error)) {
        charsets = ReadCharsets(charsetsText);
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
            result.scales[i].status = SyncStatus::kFailed;
            continue;
        }
        // Two jobs on one image would each take the other's records for confirmed: distinct
        // scales whose names make one file name are not served.
        auto [first, fresh] = addressOfFile.emplace(work[i].file, addresses[i]);
        if (!fresh) {
            result.scales[i].failure =
                "its state image " + work[i].file + " is that of " + first->second;
            result.scales[i].status = SyncStatus::kFailed;
            continue;
        }
        work[i].ready = true;
        LoadState(options.stateDir, list, options, pending, charsets, interned, work[i],
                  result.scales[i]);
    }
    if (!options.dryRun &&
        !CheckRoomForState(options.stateDir, RoomForSync(RoomOfRun(list, work, pendingText.size())),
                           result.error)) {
        result.errorKind = SyncError::kState;
        return result;
    }
    result.probed = options.probe > 0;
    ProbeDraw probe(options);
    for (ScaleWork& scale : work) {
        if (scale.ready) probe.AddTo(scale);
    }
    ReadScales(list, addresses, places, options, SyncPhase::kReading, elapsedMs(), interned, work,
               result.scales);
    if (!StopAsked(options)) {
        ReadScales(list, addresses, places, options, SyncPhase::kReadingInFull, elapsedMs(),
                   interned, work, result.scales);
    }
    interned.clear();
    for (ScaleSync& scale : result.scales) {
        if (!scale.failure.empty()) scale.status = SyncStatus::kFailed;
    }
    if (StopAsked(options)) {
        EndAfterReads(work, result);
        ForeseeFromState(list, options, work, result.scales);
        return result;
    }
    PlanGroups(list, options, work, result.scales);
    ForeseeFromState(list, options, work, result.scales);
    if (options.approvePlans) {
        std::string stale = options.approvePlans(result.scales);
        if (!stale.empty()) {
            result.refused = true;
            result.errorKind = SyncError::kRefused;
            result.error = stale;
            return result;
        }
    }

    std::vector<transport::ScaleJob> jobs;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (!work[i].ready) continue;
        if (options.dryRun) {
            result.scales[i].status = StatusOf(result.scales[i], work[i], true);
            continue;
        }
        const Group& group = *work[i].group;
        // The old pending records stay named until what their reads gave is written, and the
        // journal's length now marks where this send's lines will begin.
        PendingScale& open = pending[work[i].file];
        if (!open.keys) {
            open.keys = group.changeKeys;
        } else if (group.changeKeys) {
            std::set<RecordKey> keys(open.keys->begin(), open.keys->end());
            keys.insert(group.changeKeys->begin(), group.changeKeys->end());
            open.keys = MakeKeyList({keys.begin(), keys.end()});
        }
        open.journalBytes = work[i].journalBytes;
        if (!open.keys) pending.erase(work[i].file);
        jobs.push_back({addresses[i], group.commands});
        index.push_back(i);
    }
    if (options.dryRun) return result;
    if (!WritePendingFile(options.stateDir, pending, result.stateBytesWritten, error)) {
        result.errorKind = SyncError::kState;
        result.error = "the state could not be written (nothing was sent): " + error;
        return result;
    }
    std::vector<Group*> groupOfJob;
    for (std::size_t i : index) groupOfJob.push_back(work[i].group.get());
    SentReplies replies(std::move(groupOfJob));
    std::vector<transport::ScaleResult> sent =
        Exchange(jobs, PlacesOf(index, places), SyncPhase::kSending, options, elapsedMs(),
                 [&replies](std::size_t job, std::size_t line, std::string&& reply) {
                     replies.Take(job, line, std::move(reply));
                 });
    bool stopped = StopAsked(options);
    Charsets charsetsAsRead = charsets;
    StateText stateText(options.stateCharset);
    std::deque<std::string> lineTexts;  // the journal lines of scales that took in pending reads
    std::vector<ScaleWrite> writes(sent.size());
    std::vector<KeyList> open(sent.size());
    for (std::size_t j = 0; j < sent.size(); ++j) {
        std::size_t i = index[j];
        ScaleSync& scale = result.scales[i];
        std::vector<std::string> scratch;
        const Verdict& verdict = VerdictOf(options, *work[i].group, replies.Of(j, scratch));
        replies.Release(j);
        std::vector<RecordKey> unconfirmed = Commit(*work[i].group, verdict, scale);
        // A scale that confirmed nothing (one that did not answer) leaves its group's list.
        open[j] = unconfirmed.size() == work[i].group->changes.size()
                      ? work[i].group->changeKeys
                      : MakeKeyList(std::move(unconfirmed));
        scale.code = sent[j].code;
        scale.milliseconds = sent[j].milliseconds;
        if (sent[j].code != WQDS_OK) scale.failure = Cause(sent[j], jobs[j].commands->size());
        scale.status = StatusOf(scale, work[i], false);
        if (stopped && sent[j].code == WQDS_INTERNAL) {
            MarkInterrupted(scale, "interrupted while it was sent to");
        }
        auto charset = charsetsAsRead.find(work[i].file);
        writes[j] =
            HowToWrite(work[i], verdict, charset == charsetsAsRead.end() ? "" : charset->second,
                       options, stateText, lineTexts);
        if (writes[j].how != StateWrite::kReplace) continue;
        if (writes[j].charset.empty()) {
            charsets.erase(work[i].file);
        } else {
            charsets[work[i].file] = writes[j].charset;
        }
    }
    result.interrupted = stopped;
    // The journals and images first: a pending record of a state that was written is read back
    // for nothing, a state that claims what was not confirmed would be wrong. A failure is told
    // once, for the run; each scale's records stay pending, for the next run to read back.
    std::string charsetsNow = WriteCharsets(charsets);
    if (!WriteStates(options.stateDir, work, index, writes,
                     charsetsNow == charsetsText ? nullptr : &charsetsNow, result.stateBytesWritten,
                     error)) {
        result.stateError = "the state images could not be written in " + options.stateDir + ": " +
                            error + "; the next run reads back what this one sent";
        for (std::size_t i : index) {
            ScaleSync& scale = result.scales[i];
            if (scale.status == SyncStatus::kInterrupted) continue;
            scale.status = SyncStatus::kFailed;
            if (scale.failure.empty()) scale.failure = "its state image could not be written";
        }
        return result;
    }
    for (std::size_t j = 0; j < sent.size(); ++j) {
        const ScaleWork& scale = work[index[j]];
        if (!open[j]) {
            pending.erase(scale.file);
            continue;
        }
        PendingScale& entry = pending[scale.file];
        entry.keys = std::move(open[j]);
        entry.journalBytes = writes[j].how == StateWrite::kAppend
                                 ? scale.journalBytes + writes[j].lines.size()
                             : writes[j].how == StateWrite::kNone ? scale.journalBytes
                                                                  : 0;
    }
    if (!WritePendingFile(options.stateDir, pending, result.stateBytesWritten, error)) {
        result.stateError = "the pending records could not be written in " + options.stateDir +
                            ": " + error + "; the next run reads back what this one sent";
    }
    RecordIfGood(options.stateDir, result);
    return result;
}

}  // namespace

// Every scale is served once however often the addresses name it; an address that names a
// scale again gets that scale's outcome, with a note.
SyncResult Sync(const WantedList& list, const std::vector<std::string>& addresses,
                const SyncOptions& options) {
    std::vector<ScaleOfAddress> scales = IdentifyScales(addresses, options.settings.defaultPort);
    std::vector<std::string> distinct;
    std::vector<std::size_t> places;
    std::vector<std::size_t> slot(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (scales[i].first != i) continue;
        slot[i] = distinct.size();
        distinct.push_back(addresses[i]);
        places.push_back(i);
    }
    SyncResult served = SyncScales(list, distinct, places, options);
    if (distinct.size() == addresses.size() || served.scales.empty()) return served;
    SyncResult result = std::move(served);
    std::vector<ScaleSync> once = std::move(result.scales);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        std::size_t first = scales[i].first;
        result.scales.push_back(once[slot[first]]);
        if (first == i) continue;
        result.scales.back().address = addresses[i];
        result.scales.back().notes.insert(result.scales.back().notes.begin(),
                                          SameScaleNote(addresses[i], addresses[first], scales[i]));
    }
    return result;
}

}  // namespace vudaduv::fleet
