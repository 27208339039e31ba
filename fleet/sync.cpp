// The sync as a run of phases, one method each (SyncRun): load (the state directory, each
// scale's state, the room check), read (the probe, and a read in full where it differs), plan,
// send, and record (the state written with what came back as foreseen only). The rules of each
// phase live beside it: the probe in sync_probe.cpp, the plan and its removal cap in
// sync_plan.cpp, the verdict in sync_verdict.cpp, every file of the state directory in
// state_dir.cpp.
//
// The state directory's ".pending" file names, scale by scale, the records of a send that have
// not yet been confirmed. It is written before the send and rewritten once the images are
// (WritePendingFile, state_dir.cpp: SyncRun::Send, then SyncRun::Record); a run that finds records
// of a scale there (after a kill, a power cut, a scale that failed) reads them back first, so that
// it sends only what is still missing. One file and one flush for the whole fleet: a thousand
// scales cost what one does.
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
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <set>

#include "state_dir.h"
#include "sync_work.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

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

// One run of the sync over distinct scales; places gives each one's place in the caller's
// addresses, for the observer. Each phase returns false when the run ends there.
class SyncRun {
  public:
    SyncRun(const WantedList& list, const std::vector<std::string>& addresses,
            const std::vector<std::size_t>& places, const SyncOptions& options)
        : list_(list),
          addresses_(addresses),
          places_(places),
          options_(options),
          start_(std::chrono::steady_clock::now()),
          stateText_(options.stateCharset) {}

    SyncResult Run();

  private:
    bool Load();
    bool NameScale(std::size_t i, std::map<std::string, std::string>& addressOfFile);
    void LoadScale(ScaleWork& work, ScaleSync& result);
    SyncRoom RoomOfRun() const;
    void Read();
    void ReadScales(SyncPhase phase);
    bool Plan();
    void QueueJobs();
    bool Send();
    void Judge(const std::vector<transport::ScaleResult>& sent, SentReplies& replies);
    void Record();
    void KeepUnconfirmed();
    uint32_t ElapsedMs() const;
    std::vector<transport::ScaleResult> Exchange(
        const std::vector<transport::ScaleJob>& jobs, const std::vector<std::size_t>& index,
        SyncPhase phase,
        std::function<void(std::size_t, std::size_t, std::string&&)> replyTaken = {});

    const WantedList& list_;
    const std::vector<std::string>& addresses_;
    const std::vector<std::size_t>& places_;
    const SyncOptions& options_;
    std::chrono::steady_clock::time_point start_;
    SyncResult result_;
    std::unique_ptr<FileLock> lock_;
    StateDirAsRead found_;  // the state directory's own files as this run found them
    std::vector<ScaleWork> work_;
    Interned interned_;
    // The send: its jobs, the scale of each, and what each job leaves to write and pending.
    std::vector<transport::ScaleJob> jobs_;
    std::vector<std::size_t> index_;
    Charsets charsets_;  // as they will be written
    StateText stateText_;
    std::deque<std::string> lineTexts_;  // the journal lines of scales that took in pending reads
    std::vector<ScaleStateWrite> writes_;
    std::vector<KeyList> open_;
};

SyncResult SyncRun::Run() {
    if (!Load()) return std::move(result_);
    Read();
    if (StopAsked(options_)) {
        EndAfterReads(work_, result_);
        ForeseeFromState(list_, options_, work_, result_.scales);
        return std::move(result_);
    }
    if (!Plan()) return std::move(result_);
    QueueJobs();
    if (options_.dryRun || !Send()) return std::move(result_);
    Record();
    return std::move(result_);
}

uint32_t SyncRun::ElapsedMs() const {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
}

// ---- Load --------------------------------------------------------------------------------------

// The refusal of an empty list, the lock, the state directory's files and each scale's state,
// then the room check; false when the run ends before any scale is read.
bool SyncRun::Load() {
    std::string refusal = EmptyListRefusal(list_, options_);
    if (!refusal.empty()) {
        result_.refused = true;
        result_.errorKind = SyncError::kRefused;
        result_.error = refusal;
        return false;
    }
    bool held = false;
    lock_ = LockStateDir(options_.stateDir, result_.error, held);
    if (!lock_) {
        result_.errorKind = held ? SyncError::kLocked : SyncError::kState;
        return false;
    }
    result_.lastGoodSync = LastGoodSync(options_.stateDir);
    found_ = ReadStateDir(options_.stateDir);
    charsets_ = found_.charsets;
    work_.resize(addresses_.size());
    result_.scales.resize(addresses_.size());
    std::map<std::string, std::string> addressOfFile;
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
        result_.scales[i].address = addresses_[i];
        if (NameScale(i, addressOfFile)) LoadScale(work_[i], result_.scales[i]);
    }
    if (!options_.dryRun &&
        !CheckRoomForState(options_.stateDir, RoomForSync(RoomOfRun()), result_.error)) {
        result_.errorKind = SyncError::kState;
        return false;
    }
    return true;
}

// The scale's image file; false (the scale failed) when its address cannot be read or another
// scale's image has that name.
bool SyncRun::NameScale(std::size_t i, std::map<std::string, std::string>& addressOfFile) {
    ScaleSync& result = result_.scales[i];
    work_[i].file = ImageFileName(addresses_[i], options_.settings.defaultPort);
    if (work_[i].file.empty()) {
        result.failure = "the address cannot be read";
        result.status = SyncStatus::kFailed;
        return false;
    }
    // Two jobs on one image would each take the other's records for confirmed: distinct
    // scales whose names make one file name are not served.
    auto [first, fresh] = addressOfFile.emplace(work_[i].file, addresses_[i]);
    if (!fresh) {
        result.failure = "its state image " + work_[i].file + " is that of " + first->second;
        result.status = SyncStatus::kFailed;
        return false;
    }
    work_[i].ready = true;
    return true;
}

// What the scale's state image and pending records say, or the slots to read when it has none.
void SyncRun::LoadScale(ScaleWork& work, ScaleSync& result) {
    const Pending& pending = found_.pending;
    auto open = pending.find(work.file);
    ScaleFiles files =
        ReadScaleFiles(options_.stateDir, work.file, !options_.readScales,
                       open == pending.end() ? kWholeJournal : open->second.journalBytes);
    work.journalThere = files.journalThere;
    std::string error = files.error;
    if (files.imageThere) {
        work.imageThere = true;
        work.stateBytes = files.image.size();
        work.journalBytes = files.journal.size();
        if (options_.digestState) result.stateDigest = DigestOf(files.image + files.journal);
        if (StateImageToGbk(options_, found_.charsets, work.file, files.image, error) &&
            StateImageToGbk(options_, found_.charsets, work.file, files.journal, error)) {
            work.held = InternImage(interned_, JoinPath(options_.stateDir, work.file),
                                    {std::move(files.image), std::move(files.journal)}, error);
        }
    }
    if (!error.empty()) result.notes.push_back(error + " (read from the scale instead)");
    if (!work.held) {
        ReadInFull(list_, options_, work);
        return;
    }
    if (open != pending.end()) work.reads = KeysIn(open->second.keys);
    work.stateAsRead = work.reads.empty();
}

// What the run may write in the state directory, from what LoadScale found there.
SyncRoom SyncRun::RoomOfRun() const {
    SyncRoom room;
    room.listImageBytes = WriteImage(ImageOf(list_)).size();
    room.listRecords = list_.size();
    room.pendingBytes = found_.pendingText.size();
    std::set<const Image*> states;
    for (const ScaleWork& scale : work_) {
        if (scale.file.empty()) continue;
        room.stateBytes.push_back(scale.stateBytes + scale.journalBytes);
        room.longestFileName = std::max(room.longestFileName, scale.file.size());
        // A scale read in full may come back as any state: it counts as one of its own.
        if (!scale.held || states.insert(scale.held.get()).second) ++room.distinctStates;
    }
    return room;
}

// ---- Read --------------------------------------------------------------------------------------

// The probe drawn, then every scale read at once; the scales whose probe differed are read in
// full after.
void SyncRun::Read() {
    result_.probed = options_.probe > 0;
    ProbeDraw probe(options_);
    for (ScaleWork& scale : work_) {
        if (scale.ready) probe.AddTo(scale);
    }
    ReadScales(SyncPhase::kReading);
    if (!StopAsked(options_)) ReadScales(SyncPhase::kReadingInFull);
    interned_.clear();
    for (ScaleSync& scale : result_.scales) {
        if (!scale.failure.empty()) scale.status = SyncStatus::kFailed;
    }
}

// Reads what every scale still to be read holds, all at once: the pending records and the probe
// of every scale (phase kReading), or every slot of the scales whose probe differed
// (kReadingInFull).
void SyncRun::ReadScales(SyncPhase phase) {
    std::vector<transport::ScaleJob> jobs;
    std::vector<ReadList> lists;
    std::vector<std::size_t> index;
    bool inFull = phase == SyncPhase::kReadingInFull;
    for (std::size_t i = 0; i < work_.size(); ++i) {
        if (!work_[i].ready || (inFull && !work_[i].drift)) continue;
        lists.push_back(model::BuildReadRequests(work_[i].reads, options_.en));
        jobs.push_back({addresses_[i], lists.back().commands});
        index.push_back(i);
    }
    if (jobs.empty()) return;
    std::vector<transport::ScaleResult> read = Exchange(jobs, index, phase);
    for (std::size_t j = 0; j < read.size(); ++j) {
        std::size_t i = index[j];
        ScaleWork& work = work_[i];
        result_.scales[i].milliseconds = read[j].milliseconds;
        work.ready = TakeReads(lists[j], read[j], options_.en, interned_, work, result_.scales[i]);
        if (work.ready && work.drift && !inFull) ReadInFull(list_, options_, work);
    }
}

// One exchange with the scales of index, told to the observer as the scales of the addresses.
std::vector<transport::ScaleResult> SyncRun::Exchange(
    const std::vector<transport::ScaleJob>& jobs, const std::vector<std::size_t>& index,
    SyncPhase phase, std::function<void(std::size_t, std::size_t, std::string&&)> replyTaken) {
    uint32_t startedMs = ElapsedMs();
    std::vector<std::size_t> places = PlacesOf(index, places_);
    std::size_t commands = 0;
    for (const auto& job : jobs) commands += job.commands ? job.commands->size() : 0;
    if (options_.phaseStarted) options_.phaseStarted(phase, jobs.size(), commands);
    transport::SendObserver observer;
    observer.stop = options_.observer.stop;
    observer.replyTaken = std::move(replyTaken);
    if (options_.observer.lineAnswered) {
        observer.lineAnswered = [&](std::size_t job, std::size_t answered) {
            options_.observer.lineAnswered(places[job], answered);
        };
    }
    if (options_.observer.scaleDone) {
        observer.scaleDone = [&](std::size_t job, const transport::ScaleResult& result) {
            options_.observer.scaleDone(places[job], result);
        };
    }
    std::vector<transport::ScaleResult> results =
        transport::SendToScales(jobs, options_.settings, observer);
    for (auto& result : results) result.milliseconds += startedMs;
    return results;
}

// ---- Plan --------------------------------------------------------------------------------------

// Every scale planned, the others' figures foreseen from their states; false when the caller
// refuses the plans (a saved plan gone stale).
bool SyncRun::Plan() {
    PlanGroups(list_, options_, work_, result_.scales);
    ForeseeFromState(list_, options_, work_, result_.scales);
    if (!options_.approvePlans) return true;
    std::string stale = options_.approvePlans(result_.scales);
    if (stale.empty()) return true;
    result_.refused = true;
    result_.errorKind = SyncError::kRefused;
    result_.error = stale;
    return false;
}

// ---- Send --------------------------------------------------------------------------------------

// A job for each scale that may be sent to, its changes added to the pending records (a dry run
// only gives each its status).
void SyncRun::QueueJobs() {
    for (std::size_t i = 0; i < work_.size(); ++i) {
        if (!work_[i].ready) continue;
        if (options_.dryRun) {
            result_.scales[i].status = StatusOf(result_.scales[i], work_[i], true);
            continue;
        }
        const Group& group = *work_[i].group;
        // The old pending records stay named until what their reads gave is written, and the
        // journal's length now marks where this send's lines will begin.
        PendingScale& open = found_.pending[work_[i].file];
        if (!open.keys) {
            open.keys = group.changeKeys;
        } else if (group.changeKeys) {
            std::set<RecordKey> keys(open.keys->begin(), open.keys->end());
            keys.insert(group.changeKeys->begin(), group.changeKeys->end());
            open.keys = MakeKeyList({keys.begin(), keys.end()});
        }
        open.journalBytes = work_[i].journalBytes;
        if (!open.keys) found_.pending.erase(work_[i].file);
        jobs_.push_back({addresses_[i], group.commands});
        index_.push_back(i);
    }
}

// .pending written first (a kill after it leaves the records for the next run to read back),
// then every scale sent to at once; false when .pending could not be written.
bool SyncRun::Send() {
    std::string error;
    if (!WritePendingFile(options_.stateDir, found_.pending, result_.stateBytesWritten, error)) {
        result_.errorKind = SyncError::kState;
        result_.error = "the state could not be written (nothing was sent): " + error;
        return false;
    }
    std::vector<Group*> groupOfJob;
    for (std::size_t i : index_) groupOfJob.push_back(work_[i].group.get());
    SentReplies replies(std::move(groupOfJob));
    std::vector<transport::ScaleResult> sent =
        Exchange(jobs_, index_, SyncPhase::kSending,
                 [&replies](std::size_t job, std::size_t line, std::string&& reply) {
                     replies.Take(job, line, std::move(reply));
                 });
    Judge(sent, replies);
    return true;
}

// Each scale's verdict, status and the write of its state.
void SyncRun::Judge(const std::vector<transport::ScaleResult>& sent, SentReplies& replies) {
    bool stopped = StopAsked(options_);
    writes_.resize(sent.size());
    open_.resize(sent.size());
    for (std::size_t j = 0; j < sent.size(); ++j) {
        const ScaleWork& work = work_[index_[j]];
        ScaleSync& scale = result_.scales[index_[j]];
        std::vector<std::string> scratch;
        const Verdict& verdict = VerdictOf(options_, *work.group, replies.Of(j, scratch));
        replies.Release(j);
        std::vector<RecordKey> unconfirmed = Commit(*work.group, verdict, scale);
        // A scale that confirmed nothing (one that did not answer) leaves its group's list.
        open_[j] = unconfirmed.size() == work.group->changes.size()
                       ? work.group->changeKeys
                       : MakeKeyList(std::move(unconfirmed));
        scale.code = sent[j].code;
        scale.milliseconds = sent[j].milliseconds;
        if (sent[j].code != WQDS_OK) scale.failure = Cause(sent[j], jobs_[j].commands->size());
        scale.status = StatusOf(scale, work, false);
        if (stopped && sent[j].code == WQDS_INTERNAL) {
            MarkInterrupted(scale, "interrupted while it was sent to");
        }
        auto charset = found_.charsets.find(work.file);
        ScaleWrite write =
            HowToWrite(work, verdict, charset == found_.charsets.end() ? "" : charset->second,
                       options_, stateText_, lineTexts_);
        writes_[j] = {work.file, work.journalBytes, work.journalThere, write};
        if (write.how != StateWrite::kReplace) continue;
        if (write.charset.empty()) {
            charsets_.erase(work.file);
        } else {
            charsets_[work.file] = write.charset;
        }
    }
    result_.interrupted = stopped;
}

// ---- Record ------------------------------------------------------------------------------------

// The journals and images first: a pending record of a state that was written is read back
// for nothing, a state that claims what was not confirmed would be wrong. A failure is told
// once, for the run; each scale's records stay pending, for the next run to read back.
void SyncRun::Record() {
    std::string charsetsNow = WriteCharsets(charsets_);
    std::string error;
    if (!WriteStates(options_.stateDir, writes_,
                     charsetsNow == found_.charsetsText ? nullptr : &charsetsNow,
                     result_.stateBytesWritten, error)) {
        result_.stateError = "the state images could not be written in " + options_.stateDir +
                             ": " + error + "; the next run reads back what this one sent";
        for (std::size_t i : index_) {
            ScaleSync& scale = result_.scales[i];
            if (scale.status == SyncStatus::kInterrupted) continue;
            scale.status = SyncStatus::kFailed;
            if (scale.failure.empty()) scale.failure = "its state image could not be written";
        }
        return;
    }
    KeepUnconfirmed();
    if (!WritePendingFile(options_.stateDir, found_.pending, result_.stateBytesWritten, error)) {
        result_.stateError = "the pending records could not be written in " + options_.stateDir +
                             ": " + error + "; the next run reads back what this one sent";
    }
    RecordIfGood(options_.stateDir, result_);
}

// The pending records once the states are written: only what the scales did not confirm, and
// the journal's length that now holds every confirmed line.
void SyncRun::KeepUnconfirmed() {
    for (std::size_t j = 0; j < writes_.size(); ++j) {
        const ScaleWork& scale = work_[index_[j]];
        if (!open_[j]) {
            found_.pending.erase(scale.file);
            continue;
        }
        PendingScale& entry = found_.pending[scale.file];
        entry.keys = std::move(open_[j]);
        const ScaleWrite& write = writes_[j].write;
        entry.journalBytes = write.how == StateWrite::kAppend
                                 ? scale.journalBytes + write.lines.size()
                             : write.how == StateWrite::kNone ? scale.journalBytes
                                                              : 0;
    }
}

// Whether scales can be the identities of that many addresses: one each, each naming a first at
// or before itself that is its own first. Anything else would send a scale's outcome to an
// address that does not name it, or none at all.
bool ScalesFitAddresses(const std::vector<ScaleOfAddress>& scales, std::size_t addresses) {
    if (scales.size() != addresses) return false;
    for (std::size_t i = 0; i < scales.size(); ++i) {
        std::size_t first = scales[i].first;
        if (first > i || scales[first].first != first) return false;
    }
    return true;
}

}  // namespace

// Every scale is served once however often the addresses name it; an address that names a
// scale again gets that scale's outcome, with a note.
SyncResult Sync(const WantedList& list, const std::vector<std::string>& addresses,
                const SyncOptions& options) {
    return Sync(list, addresses, IdentifyScales(addresses, options.settings.defaultPort), options);
}

SyncResult Sync(const WantedList& list, const std::vector<std::string>& addresses,
                const std::vector<ScaleOfAddress>& identified, const SyncOptions& options) {
    if (!ScalesFitAddresses(identified, addresses.size())) return Sync(list, addresses, options);
    const std::vector<ScaleOfAddress>& scales = identified;
    std::vector<std::string> distinct;
    std::vector<std::size_t> places;
    std::vector<std::size_t> slot(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (scales[i].first != i) continue;
        slot[i] = distinct.size();
        distinct.push_back(addresses[i]);
        places.push_back(i);
    }
    SyncResult served = SyncRun(list, distinct, places, options).Run();
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
