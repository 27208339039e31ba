// The sync's state directory, every file of it in one place: each scale's image and its
// journal, ".pending" (the records of a send not yet confirmed), ".charsets" (the character set
// of each image), ".last-good" (when the last run ended in step), the lock, and the room check
// made before a run reads anything. What is read from it, what is written to it and in which
// order (so that a kill at any point leaves a state the next run can trust) is said here; the
// sync's phases ask these functions and write nothing themselves. The files' system calls are
// state_files.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "state_files.h"
#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

// ---- The lock ----------------------------------------------------------------------------------

// Creates the state directory when it is not there and takes its lock, without waiting; nullptr
// with error (and held set when another sync holds it) otherwise.
std::unique_ptr<FileLock> LockStateDir(const std::string& dir, std::string& error, bool& held);

// ---- .pending: the records of a send not yet confirmed
// -------------------------------------------

constexpr const char* kPendingFileName = ".pending";
constexpr const char* kCharsetsFileName = ".charsets";

// No length recorded: the whole journal counts.
constexpr std::uintmax_t kWholeJournal = ~std::uintmax_t{0};

// The records of a scale that a send left unconfirmed, and the length its journal had before
// that send: the lines beyond it are not yet confirmed to be in the state.
//
// Scales sent alike have one list of records: a fleet of thousands holds it, and names it in
// ".pending", once.
using KeyList = std::shared_ptr<const std::vector<RecordKey>>;
struct PendingScale {
    KeyList keys;  // nullptr: none
    std::uintmax_t journalBytes = kWholeJournal;
};
// By the name of the scale's image.
using Pending = std::map<std::string, PendingScale>;

// The list of keys; nullptr when there is none.
KeyList MakeKeyList(std::vector<RecordKey> keys);
// The keys of a list, none for nullptr.
const std::vector<RecordKey>& KeysIn(const KeyList& keys);

// ".pending": "FILE TYPE NUMBER" a record, or "FILE same OTHER" for a scale whose records are the
// very list of an earlier one; then "FILE journal LENGTH".
std::string WritePending(const Pending& pending);
Pending ReadPending(const std::string& text);

// Writes DIR/.pending whole (written counts its bytes), or removes it when nothing is pending.
// One file and one flush for the whole fleet: a thousand scales cost what one does.
bool WritePendingFile(const std::string& dir, const Pending& pending, std::uintmax_t& written,
                      std::string& error);

// How many of a journal's bytes count: at most limit, up to and with its last LF.
std::size_t JournalBytesThatCount(std::string_view journal, std::uintmax_t limit);

// ---- .charsets: the character set of each image ------------------------------------------------

// The character set of each image that is not in GBK, by its file name.
using Charsets = std::map<std::string, std::string>;

Charsets ReadCharsets(const std::string& text);
std::string WriteCharsets(const Charsets& charsets);

// The bytes of a state file in GBK; false with error when its character set cannot be read.
bool StateImageToGbk(const SyncOptions& options, const Charsets& charsets, const std::string& file,
                     std::string& bytes, std::string& error);

// The images' texts as their files hold them: in the state's character set where that set has
// a place for every character (converted there and back alike), else in GBK. Scales that hold
// alike are converted once.
class StateText {
  public:
    explicit StateText(const StateCharset& charset) : charset_(charset) {}

    // The text to write and its character set ("" for GBK).
    const std::pair<std::string, std::string>& Of(const std::string& gbk);

  private:
    const StateCharset& charset_;
    std::unordered_map<std::string, std::pair<std::string, std::string>> converted_;
};

// ---- What a run finds there --------------------------------------------------------------------

// The directory's own files as a run found them (an unreadable one as none).
struct StateDirAsRead {
    std::string pendingText;
    Pending pending;
    std::string charsetsText;
    Charsets charsets;
};
StateDirAsRead ReadStateDir(const std::string& dir);

// A scale's image and journal as read: the journal's bytes up to journalLimit (what was
// confirmed before an unconfirmed send), each as its file holds it.
struct ScaleFiles {
    bool imageThere = false;
    bool journalThere = false;  // of the image, or left by a crash
    std::string image;
    std::string journal;
    std::string error;  // a file that is there but cannot be read
};
// readImage false: only whether a journal lies there is asked (the scales are read instead).
ScaleFiles ReadScaleFiles(const std::string& dir, const std::string& file, bool readImage,
                          std::uintmax_t journalLimit);

// ---- The room check ----------------------------------------------------------------------------

// What a sync may write in its state directory at most, in bytes, while the files it replaces
// are still there: each scale's new image beside its old one until the rename (as large as the
// list's image or the old one, whichever is larger), the lines its journal may grow by before
// it is compacted (as much again), and .pending twice (its new file beside the old, written
// before the send and again after), naming every record of the list for each distinct state.
struct SyncRoom {
    std::uintmax_t listImageBytes = 0;  // WriteImage(ImageOf(list)).size()
    std::size_t listRecords = 0;
    std::vector<std::uintmax_t> stateBytes;  // of each scale's state image and journal, 0: none
    std::size_t distinctStates = 0;          // states that are not byte for byte another's
    std::size_t longestFileName = 0;         // of the scales' image files
    std::uintmax_t pendingBytes = 0;         // of the .pending there now
};
std::uintmax_t RoomForSync(const SyncRoom& room);

// Whether the state directory takes what this run may write, asked before any scale is read so
// that a full disk is found at once, not after the whole read: the free space is compared with
// the room needed, then a trial file is written and removed (nothing is left behind).
bool CheckRoomForState(const std::string& dir, std::uintmax_t needed, std::string& error);

// ---- The images and journals written after a send -----------------------------------------------

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

// One scale's write, with what its files held when the run read them.
struct ScaleStateWrite {
    std::string file;                 // its image's name
    std::uintmax_t journalBytes = 0;  // of its journal, the bytes that counted
    bool journalThere = false;
    ScaleWrite write;
};

// Writes what the send confirmed, journals first, then whole images (and .charsets when
// charsetsText is not nullptr); false with error, the journals cut back to their lengths as read.
bool WriteStates(const std::string& dir, const std::vector<ScaleStateWrite>& scales,
                 const std::string* charsetsText, std::uintmax_t& written, std::string& error);

// ---- .last-good
// ----------------------------------------------------------------------------------

// ".last-good": when the last sync ended with every scale in step (LastGoodSync), in seconds
// since 1970, written whole, then renamed.
constexpr const char* kLastGoodFileName = ".last-good";
bool RecordGoodSync(const std::string& dir, int64_t when, std::string& error);

// Records now in .last-good when the run ended with every scale in step; a record that cannot
// be written is said as the run's state error.
void RecordIfGood(const std::string& dir, SyncResult& result);

}  // namespace vudaduv::fleet
