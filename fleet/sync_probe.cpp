// The probe and the reads before the plan: what each scale holds, taken from its state and
// borne out by a few of its records read back (one slot the state says is empty among them),
// or read in full when the state knows nothing or the probe differs. Kept apart from the run
// so that a new probe policy changes this file alone.
#include <algorithm>
#include <random>
#include <set>

#include "sync_work.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

// The slots of the list's types, every item from 0 as the scale keeps them.
std::vector<RecordKey> SlotsOfListTypes(const SyncOptions& options) {
    PullRequest request;
    request.types = options.listTypes;
    request.firstItem = 0;
    return SlotsOf(request);
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

}  // namespace

std::shared_ptr<const Image> InternImage(Interned& interned, const std::string& path,
                                         std::pair<std::string, std::string> texts,
                                         std::string& error) {
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

ProbeDraw::ProbeDraw(const SyncOptions& options)
    : count_(options.probe), slots_(SlotsOfListTypes(options)), random_(std::random_device{}()) {
    types_.insert(options.listTypes.begin(), options.listTypes.end());
}

void ProbeDraw::AddTo(ScaleWork& work) {
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
    AddEmptySlot(work, chosen);
    work.probes = work.reads.size() - before;
}

// One slot of the list's types that the state says is empty, from a place drawn at random.
void ProbeDraw::AddEmptySlot(ScaleWork& work, const std::set<RecordKey>& chosen) {
    if (slots_.empty()) return;
    std::size_t start = std::uniform_int_distribution<std::size_t>(0, slots_.size() - 1)(random_);
    for (std::size_t step = 0; step < slots_.size(); ++step) {
        const RecordKey& slot = slots_[(start + step) % slots_.size()];
        if (work.held->count(slot) == 0 && chosen.count(slot) == 0) {
            work.reads.push_back(slot);
            return;
        }
    }
}

// The keys of the list's types in an image, listed once for all the scales that hold it.
const std::vector<RecordKey>& ProbeDraw::HeldKeys(const Image& image) {
    std::vector<RecordKey>& keys = heldKeys_[&image];
    if (keys.empty()) {
        for (const auto& record : image) {
            if (types_.count(record.first.type) != 0) keys.push_back(record.first);
        }
    }
    return keys;
}

}  // namespace vudaduv::fleet
