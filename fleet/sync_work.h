// What the phases of a sync hand each other: each scale on its way through the run (ScaleWork),
// the group of scales that hold one image and share its plan and commands (Group), and what the
// replies of a scale confirmed (Verdict). The run (sync.cpp) drives the phases; the probe
// (sync_probe.cpp), the plan (sync_plan.cpp) and the verdict (sync_verdict.cpp) each keep their
// own rules; the state directory is state_dir.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fleet_internal.h"
#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

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

// ---- The probe and the reads before the plan (sync_probe.cpp) ----------------------------------

// The image read from its text and its journal's, parsed once for every scale whose texts are
// the same; nullptr with error when they are no image and journal.
std::shared_ptr<const Image> InternImage(Interned& interned, const std::string& path,
                                         std::pair<std::string, std::string> texts,
                                         std::string& error);

// What the scale holds is not known: every slot of the list's types is read, and every record
// of the list.
void ReadInFull(const WantedList& list, const SyncOptions& options, ScaleWork& work);

// Takes in what the reads before the plan gave; false when the scale could not be read. A probe
// that differs marks the scale for a read in full (drift).
bool TakeReads(const ReadList& reads, const transport::ScaleResult& scale, bool en,
               Interned& interned, ScaleWork& work, ScaleSync& result);

// The probe of a scale whose state is trusted: up to count records the state names, of the
// list's types, and one slot it says is empty, none of them pending. Drawn afresh each run.
class ProbeDraw {
  public:
    explicit ProbeDraw(const SyncOptions& options);

    void AddTo(ScaleWork& work);

  private:
    const std::vector<RecordKey>& HeldKeys(const Image& image);
    void AddEmptySlot(ScaleWork& work, const std::set<RecordKey>& chosen);

    std::size_t count_;
    std::vector<RecordKey> slots_;
    std::set<uint32_t> types_;
    std::mt19937_64 random_;
    std::map<const Image*, std::vector<RecordKey>> heldKeys_;
};

// ---- The plan (sync_plan.cpp) ------------------------------------------------------------------

// Why a list is refused before anything is read: empty while removals are asked under a cap.
// "" when it may be synced.
std::string EmptyListRefusal(const WantedList& list, const SyncOptions& options);

// One group for the scales that hold the same image, planned once. The scales of a plan over
// the removal cap are refused: nothing is sent to them.
void PlanGroups(const WantedList& list, const SyncOptions& options, std::vector<ScaleWork>& work,
                std::vector<ScaleSync>& results);

// A scale that got no plan of its own keeps the figures its state foresees.
void ForeseeFromState(const WantedList& list, const SyncOptions& options,
                      const std::vector<ScaleWork>& work, std::vector<ScaleSync>& results);

// ---- The verdict (sync_verdict.cpp) ------------------------------------------------------------

// "why (3 of 10 command line(s) answered)".
std::string Cause(const transport::ScaleResult& scale, std::size_t commands);

// What the scale's replies confirm, taken from a scale of the group that answered alike when
// there is one.
const Verdict& VerdictOf(const SyncOptions& options, Group& group,
                         const std::vector<std::string>& replies);

// The confirmed changes counted; the others stay pending.
std::vector<RecordKey> Commit(const Group& group, const Verdict& verdict, ScaleSync& result);

// The word for a scale that was served: what its figures say happened.
SyncStatus StatusOf(const ScaleSync& scale, const ScaleWork& work, bool dryRun);

// A scale the stop cut short (its exchange ended with WQDS_INTERNAL) or kept from being served.
void MarkInterrupted(ScaleSync& scale, const std::string& why);

// Stopped after the reads: nothing is sent, the state stays as it was, and every scale that had
// not failed on its own is interrupted.
void EndAfterReads(const std::vector<ScaleWork>& work, SyncResult& result);

// How the scale's state is to be written once its verdict is drawn. lineTexts keeps the
// journal lines of scales that took in pending reads, for the write's views.
ScaleWrite HowToWrite(const ScaleWork& work, const Verdict& verdict, const std::string& charset,
                      const SyncOptions& options, StateText& stateText,
                      std::deque<std::string>& lineTexts);

// The replies of the scales sent to, taken as they come: the replies the scales of a group give
// alike are kept once, in the group; a scale keeps replies of its own only once it answers
// otherwise, from the first it shares. Thousands of scales that answer a thousand lines alike
// hold one copy of them, not one each.
class SentReplies {
  public:
    explicit SentReplies(std::vector<Group*> groupOfJob)
        : groupOfJob_(std::move(groupOfJob)), scales_(groupOfJob_.size()) {}

    void Take(std::size_t job, std::size_t line, std::string&& reply);

    // The job's replies, whole; scratch holds them when they are a part of the group's.
    const std::vector<std::string>& Of(std::size_t job, std::vector<std::string>& scratch) const;

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

}  // namespace vudaduv::fleet
