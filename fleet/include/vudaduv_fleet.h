// The fleet: what each scale holds, kept as a scale image, and the work that keeps many scales
// in step with one list. Scale images (read, written, compared), the pull of every slot from
// many scales at once, and the sync that sends each scale only the records that differ, reads
// back what it sent and keeps a state directory that never claims what a scale did not confirm.
//
// Texts are GBK bytes, as the codec takes them; converting from and to a user's character set
// is the caller's business. Built on the model, the codec and the transport core; no thread of
// its own (the transport core runs its event loop on the calling thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vudaduv_model.h"
#include "vudaduv_transport.h"

namespace vudaduv::fleet {

// ---- Records and scale images ------------------------------------------------------------------

// The record model is the model's (model/): the fleet speaks of records in its words.
using model::FieldChange;
using model::HoldsNothing;
using model::Image;
using model::KeyName;
using model::KeyOfDataLine;
using model::KeyOfUploadLine;
using model::RecordKey;
using model::RemovalLine;
using model::SameRecord;

// The lines of an image file with their line numbers (blank lines already left out). False
// with "SOURCE:LINE: ..." for a line that begins with none of the prefixes, names a record
// twice (an empty one too, in either order) or holds a CR, an LF or a NUL, which no line of a
// file keeps as it is. Records that hold nothing are left out.
bool ReadImage(const std::string& source, const std::vector<std::string>& lines,
               const std::vector<std::size_t>& numbers, Image& image, std::string& error);
// The same over the bytes of a file (LF or CR LF line ends).
bool ReadImageText(const std::string& source, const std::string& text, Image& image,
                   std::string& error);
// One line a record, each ended by LF, in the image's order.
std::string WriteImage(const Image& image);

// ---- A state image and its journal -------------------------------------------------------------

// A sync keeps a scale's state as its image file and, beside it, a journal of the upload lines it
// took in since it last wrote the image whole: "127.0.0.1_4001.txt.journal". The state is the
// image, then the journal's lines in order, a later line replacing an earlier one of the same
// record and a line that holds nothing (HoldsNothing) removing it. Only a line ended by LF
// counts: the tail a crash cut short is no record. The journal is in its image's character set.
std::string JournalFileName(const std::string& imageFile);

// Takes the journal's lines into the image in order, as above. False with "SOURCE:LINE: ..."
// for a line that begins with none of the prefixes or holds a CR or NUL; image is then left
// part-way.
bool ApplyJournal(const std::string& source, const std::string& text, Image& image,
                  std::string& error);

// A scale's state image file as a sync takes it, in the files' own bytes: with a journal beside
// it, the image with the journal taken in (up to the length DIR/.pending records for it while a
// send to the scale is unconfirmed), written as one image (WriteImage); else the file's bytes
// as they are. journaled says which. False with the reason when a file cannot be read, or, with
// a journal, when either file is no image (ReadImageText, ApplyJournal).
bool ReadStateImageFile(const std::string& path, std::string& bytes, bool& journaled,
                        std::string& error);

// ---- What a list asks for --------------------------------------------------------------------

// A record as a list asks for it: the data line to send (as the library takes it, up to a NUL),
// and the upload line it comes back as (what the check foresees: the codec's clamps and cuts
// applied). A record whose upload line would hold a line break, a CR or a NUL cannot be kept in
// an image, nor one that comes back split: unkeepable says why ("holds a CR, which an image
// line cannot hold"; "its line has no GBK form" for a record left alone); such a record
// is neither sent nor removed, and ImageOf leaves it out.
struct Wanted {
    std::string dataLine;
    std::string line;
    std::string unkeepable;
};
using WantedList = std::map<RecordKey, Wanted>;

// The records of data lines of one stored record type; a later line of the same record wins.
// Lines the codec leaves out, and records that come back as nothing, ask for no record; a
// record that no image line can hold, or whose read-back splits it (model::WhyComesBackSplit),
// is in the list with its unkeepable reason. With findings,
// also the check's findings of every line (model::CheckDataLine), from the same round trip.
WantedList WantedOfDataLines(uint32_t recordType, bool en, const std::vector<std::string>& lines,
                             std::vector<std::vector<model::Finding>>* findings = nullptr);
// A record that the list names but cannot send (its line has no GBK form): kept in the list
// with why, so that it is neither sent nor removed, unless a line that can be sent names it.
void LeaveRecordAlone(WantedList& list, const RecordKey& key, const std::string& why);
// The records of an image, each line sent as the record type of its prefix.
WantedList WantedOfImage(const Image& image, bool en);
// The command lines that restore an image's lines to a scale as they stand: each data line
// (its upload prefix taken off) written as its record type, types[i] that of dataLines[i], in
// the order given; an empty item line empties its slot. Nothing is read first, no state kept.
std::vector<std::string> RestoreCommands(const std::vector<uint32_t>& types,
                                         const std::vector<std::string>& dataLines, bool en);
// A list as a sync takes it, checked: the records it asks for and the check's findings of its
// lines (model::FindingsOfList). The tool's sync and the C library's refuse a list with
// findings unless the caller accepts the changes; accepted, the records are sent as the list
// gives them.
struct CheckedList {
    WantedList list;
    std::vector<model::ListFinding> findings;
};
// The data lines of one stored record type, each round trip run once for the records and the
// findings. A line that cannot be sent at all (unsendable[i] with a what: no GBK form, a file's
// cut last line) asks for nothing: when it is the last line of its record, the record is left
// alone on the scales (neither sent nor removed, an earlier line of it not sent either), with
// the finding's what as the reason. numbers as for model::FindingsOfList.
CheckedList CheckListOfDataLines(uint32_t recordType, bool en,
                                 const std::vector<std::string>& lines,
                                 const std::vector<model::Finding>& unsendable = {},
                                 const std::vector<std::size_t>& numbers = {});
// The records of an image, checked type by type; a finding's line is the index of its record in
// the image's order.
CheckedList CheckListOfImage(const Image& image, bool en);

// The image that a scale holds once it holds the list (its unkeepable records left out).
Image ImageOf(const WantedList& list);

// ---- Differences -------------------------------------------------------------------------------

struct DiffRow {
    enum Kind { kAdded, kRemoved, kChanged };
    Kind kind = kChanged;
    RecordKey key;
    std::string before;               // the line in A ("" when added)
    std::string after;                // the line in B ("" when removed)
    std::vector<FieldChange> fields;  // for kChanged
};

// The records in which b differs from a, in key order.
std::vector<DiffRow> DiffImages(const Image& a, const Image& b);

// The printed lines of a row: "+ LINE", "- LINE", or "~ KEY: FIELD: OLD -> NEW" per field.
std::vector<std::string> DiffRowLines(const DiffRow& row);

// ---- Reading scales ----------------------------------------------------------------------------

// The slots a pull reads: every slot of the asked stored types (messages and labels 0 to their
// maximum), items from firstItem to lastItem.
struct PullRequest {
    std::vector<uint32_t> types{1, 3, 5, 7, 10, 12};
    int32_t firstItem = 0;  // item 0 is a slot like any other
    int32_t lastItem = 4000;
};

// The keys of the slots a pull reads, in image order.
std::vector<RecordKey> SlotsOf(const PullRequest& request);

// What one scale gave back.
struct ScaleImage {
    std::string address;
    int32_t code = WQDS_OK;  // the transport's outcome
    std::string cause;       // the transport's cause of a failure ("in use by another process")
    std::size_t reads = 0;   // read commands sent
    std::size_t answered = 0;
    Image image;                      // the records that came back intact
    std::vector<std::string> broken;  // records that did not: "KEY: why"
    // Why the replies are no reading of the scale: error replies or lines that no scale sends,
    // counted, the first named with its slot. "" when every reply is a scale's answer; when
    // set, image and broken are empty and nothing of the scale is known.
    std::string failure;
};

// Reads the slots from every scale at once, over one event loop.
std::vector<ScaleImage> Pull(const std::vector<std::string>& addresses,
                             const std::vector<RecordKey>& slots, bool en,
                             const transport::SendSettings& settings,
                             const transport::SendObserver& observer = {});

// The file of a scale's image in a directory: host and port, every character that is no
// letter, digit, '.' or '-' as '_', the host in lower case: "127.0.0.1_4001.txt",
// "__1_4001.txt" for [::1]:4001; a serial line's device alike after "serial_", without its
// speed or the prefix "\\.\": "serial__dev_ttyusb0.txt", "serial_com3.txt". "" for an address
// that cannot be read.
std::string ImageFileName(const std::string& address, uint32_t defaultPort);

// Writes every file into dir, all or nothing: each is written beside its place and renamed
// there only when every one was written. False with the system's reason.
bool WriteFilesAllOrNothing(const std::string& dir,
                            const std::vector<std::pair<std::string, std::string>>& files,
                            std::string& error);

// ---- Scale identity ----------------------------------------------------------------------------

// Two addresses name one scale when they are the same host (in any case) and port, or when they
// reach a common address and port (127.0.0.1 and localhost). Host names are resolved now.
struct ScaleOfAddress {
    std::size_t first = 0;  // the first address of the list that names this scale (itself when
                            // none before it does); an address that cannot be read is its own
    std::string shared;     // the address and port both reach, when that is how they meet
};

std::vector<ScaleOfAddress> IdentifyScales(const std::vector<std::string>& addresses,
                                           uint32_t defaultPort);

// "'localhost:4001' is the scale of '127.0.0.1:4001' again (both reach ...): sent to once".
std::string SameScaleNote(const std::string& address, const std::string& first,
                          const ScaleOfAddress& scale);

// ---- The sync ----------------------------------------------------------------------------------

// How many records a sync may empty on one scale: a list that came empty or cut must not wipe
// the scales. A scale whose plan empties more than its cap allows is left untouched.
struct RemovalCap {
    enum Kind { kCount, kPercent, kAll };
    Kind kind = kPercent;
    std::size_t value = 10;  // records (kCount) or per cent (kPercent) of what the scale holds
};

// The most records a scale that holds `held` records of the list's types may lose: the count,
// or the per cent of held (rounded down), at least 1; every record for kAll.
std::size_t MaxRemovals(const RemovalCap& cap, std::size_t held);

// The phases of a sync, told as each starts with the scales and command lines it takes.
enum class SyncPhase { kReading, kReadingInFull, kSending };

// The character set of the state images, so that they read as the user's other image files do
// (pull's, send --file's, diff's): its name ("" for GBK) and the conversions of a text between a
// named character set and GBK, the fleet's own texts. Each image is written in it where every
// character has a place there, else in GBK. DIR/.charsets names the set of each image ("FILE
// NAME" a line); an image it does not name is GBK, as every image was before it existed.
struct StateCharset {
    std::string name;
    std::function<bool(const std::string& name, const std::string& text, std::string& gbk)> toGbk;
    std::function<bool(const std::string& name, const std::string& gbk, std::string& text)> fromGbk;
};

struct ScaleSync;

struct SyncOptions {
    std::string stateDir;
    StateCharset stateCharset;
    std::vector<uint32_t> listTypes;  // the record types the list speaks for (removals)
    bool en = false;
    bool removeMissing = false;  // empty the records of the list's types that it lacks
    RemovalCap maxRemove;        // with removeMissing: the most a scale may lose in one run
    bool readScales = false;     // what the scales hold from a pull, not from the state
    bool dryRun = false;         // plan only: nothing is sent and the state is left alone
    bool readBackSent = true;    // confirm by reading back; else by the write's answer alone
    // Records of each scale's state read back before the plan, chosen afresh each run, plus one
    // slot the state says is empty: a scale that is off fails, one whose sample differs (it was
    // reset, swapped or changed at its keys) is read in full and repaired in the same run. 0
    // leaves it out: a scale with nothing to change is then not contacted at all.
    std::size_t probe = 8;
    transport::SendSettings settings;
    // Told of every command line answered and every scale done, in every phase (the scale index
    // is its place in the addresses); its stop flag ends the sync early: nothing new is started,
    // what was confirmed is kept and the rest stays pending for the next run.
    transport::SendObserver observer;
    std::function<void(SyncPhase phase, std::size_t scales, std::size_t commands)> phaseStarted;
    bool digestState = false;  // fill ScaleSync::stateDigest
    // Told the plans once every scale is planned, before anything is written or sent; a reason
    // it returns stops the run there (SyncResult::refused, the reason in error): a saved plan
    // that is no longer what the scales would get.
    std::function<std::string(const std::vector<ScaleSync>& planned)> approvePlans;
};

// A change a sync makes on a scale: the record, and the data line that writes it (for a
// removal, the line that empties it), in the order they are sent.
struct PlannedChange {
    RecordKey key;
    std::string dataLine;
    bool removal = false;
};
using SyncPlan = std::vector<PlannedChange>;

// A short digest of bytes (16 hex digits), for telling whether a file changed.
std::string DigestOf(const std::string& bytes);

// What became of one scale, in a word.
enum class SyncStatus {
    kInStep,         // it held the list already (probed, or not checked: probed == 0)
    kSynced,         // the records that differed were sent and confirmed
    kDriftRepaired,  // its sample differed from the state: read in full and brought in step
    kRefusedCap,     // its plan empties more than the removal cap allows: nothing sent
    kFailed,         // unreachable, unreadable, or not every change confirmed
    kInterrupted,    // the run was stopped before it was done with this scale
    kPlanned,        // a dry run: the plan holds changes
};

// "in-step", "synced", "drift-repaired", "refused-cap", "failed", "interrupted", "planned".
const char* SyncStatusName(SyncStatus status);

// A scale the sync left as asked: in step, synced, repaired, or planned in a dry run (not
// failed, refused or interrupted).
bool EndedAsAsked(SyncStatus status);

// What became of one scale.
struct ScaleSync {
    std::string address;
    SyncStatus status = SyncStatus::kInStep;
    // The cause, for kFailed and kInterrupted, and for kRefusedCap the removals planned and the
    // cap ("its plan removes 490 record(s), more than its removal cap of 50 allows; nothing
    // sent"); "" for a scale that ended as asked.
    std::string failure;
    int32_t code = WQDS_OK;     // the transport's outcome of the last exchange with the scale
    std::size_t sent = 0;       // planned: records of the list that the scale lacks or holds unlike
    std::size_t removed = 0;    // planned: records to empty (the list lacks them)
    std::size_t unchanged = 0;  // records of the list the scale already held
    std::size_t written = 0;    // changes whose every write the scale answered
    std::size_t confirmed = 0;  // changes that came back as foreseen (or were answered, without
                                // read-back): the state takes in these alone
    std::size_t removalsConfirmed = 0;  // of confirmed, the records emptied
    std::size_t pending = 0;            // changes left for the next run to finish
    std::size_t probed = 0;             // records and empty slots of the state read back first
    std::size_t differing = 0;          // of those, the ones the scale holds otherwise
    std::size_t removalCap = 0;         // the most removals its cap allows (for kRefusedCap)
    bool fromScale = false;             // what it held came from a read, not from the state
    // It got no plan (it could not be reached or read, or the run stopped first): sent, removed,
    // unchanged and pending are what its state foresees, the changes the next run will send it
    // (all 0 when its state knows nothing of it).
    bool foreseen = false;
    uint32_t milliseconds = 0;  // from the start of the sync until the scale was done
    // What it was planned to get, shared by the scales that held alike (one object: compare the
    // pointers); nullptr when it was not planned (it could not be read).
    std::shared_ptr<const SyncPlan> plan;
    std::string stateDigest;         // of its state image as read, with digestState; "" without one
    std::vector<std::string> notes;  // records that did not come back as foreseen, ...
};

// Why a sync did nothing, so that a caller can tell a retry from a repair.
enum class SyncError {
    kNone,
    kLocked,   // another sync holds the state directory: try again later
    kState,    // the state directory cannot be made, read or written
    kRefused,  // the list or the plan was refused (removals with an empty list, a stale plan)
};

struct SyncResult {
    std::string error;  // why nothing was done (the state directory is busy or unusable)
    SyncError errorKind = SyncError::kNone;  // what error says, as a kind
    bool refused = false;      // nothing done: the list holds no record and removals are asked for
    bool interrupted = false;  // the stop flag ended the run early
    std::string stateError;    // the state could not be written after the send (names the file)
    // Bytes written to the state directory by this run: images, journals, .pending and
    // .charsets (not the room check's trial file, at most 64 KiB, removed at once).
    std::uintmax_t stateBytesWritten = 0;
    bool probed = false;            // every scale was probed (options.probe > 0)
    std::vector<ScaleSync> scales;  // in the order of the addresses
    // When the last run on the state directory ended with every scale in step (LastGoodSync),
    // this one included; 0 when none has.
    int64_t lastGoodSync = 0;
};

// Brings every scale to hold the list, all at once. Each scale's image in stateDir is taken as
// what it holds (a pull when there is none, with readScales, and for the records a run that
// ended early left unconfirmed), checked by a probe of a few of its records; only records that
// differ are sent, each scale its own command list; what was sent is read back, and the
// scale's image takes in only records that came back as foreseen, written whole or not at all.
// A lock on stateDir keeps a second sync out: it fails with an error naming the process that
// holds it. Before any scale is read the state directory is checked for room for all that the
// run may write there (the new images and journals beside the old ones until they replace
// them, and .pending): a run that lacks it reads nothing and fails with an error that gives the
// free space and the room needed. A run (not a dry run) that ends with every
// scale in step, in step already, synced or repaired, records its end in stateDir
// (LastGoodSync).
SyncResult Sync(const WantedList& list, const std::vector<std::string>& addresses,
                const SyncOptions& options);

// The same, with the scale each address names found already (IdentifyScales of these addresses,
// one for each): a caller that identified them to tell its user which addresses name one scale
// hands them on, and no host name is resolved a second time for it in the run. Scales that do
// not fit the addresses (another count, an address named before its first) are identified anew.
SyncResult Sync(const WantedList& list, const std::vector<std::string>& addresses,
                const std::vector<ScaleOfAddress>& scales, const SyncOptions& options);

// The time, in seconds since 1970 (UTC), at which the last sync on stateDir ended with every
// scale in step; 0 when none has (or the record cannot be read). Kept in stateDir/.last-good,
// written whole, then renamed.
int64_t LastGoodSync(const std::string& stateDir);

/* ---- A saved plan ---------------------------------------------------------------------------- */

// A dry run's plans kept in a file, and sent later exactly as planned or not at all: the list
// known by the digest of its file's bytes (DigestOf), each scale's state by the digest of its
// image (SyncOptions::digestState) and each plan by PlanDigest. A caller applies a saved plan by
// giving Sync an approvePlans that answers WhyStale.

// How a data line (GBK bytes) is shown to people; empty: as it is.
using ShowDataLine = std::function<std::string(const std::string& dataLine)>;

// A change in words: "send item 0001 (type 1): 1A1##Tea", "remove message 22 (type 3)".
std::string ChangeWords(const PlannedChange& change, const ShowDataLine& show = {});

// The digest of a plan: its changes byte for byte, as the scale gets them; "" for no plan (a
// scale that was not planned).
std::string PlanDigest(const std::shared_ptr<const SyncPlan>& plan);

// A saved plan, as a run holds it against what it would send now.
struct SavedPlan {
    std::string listPath;  // the list file it was made of, as given
    std::string listDigest;
    std::vector<std::string> addresses;
    std::vector<std::string> stateDigests;
    std::vector<std::string> planDigests;  // "" for a scale that was not planned
};

// The saved plan of a dry run (a JSON text): the list file's path and digest and, per scale, its
// address, status, the digest of its state image and of its plan, and the changes for people to
// read (their data lines as show gives them).
std::string SavedPlanFile(const std::string& listPath, const std::string& listDigest,
                          const std::vector<ScaleSync>& scales, const ShowDataLine& show = {});

// Reads what SavedPlanFile wrote; false, plan empty and error set when bytes are no such plan
// (not JSON, another kind, another schema, a field missing or of the wrong kind).
bool ReadSavedPlan(const std::string& bytes, SavedPlan& plan, std::string& error);

// Why the saved plan is not what the run would send now ("" when it is): another list, other
// scales or another order of them, a state image changed since, or a plan that came out
// otherwise. A scale the run could not plan (not reached) is no reason: nothing is sent to it.
std::string WhyStale(const SavedPlan& saved, const std::string& listDigest,
                     const std::vector<std::string>& addresses,
                     const std::vector<ScaleSync>& planned);

}  // namespace vudaduv::fleet
