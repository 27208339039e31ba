// What the parts of the fleet library share: the records that the replies to the read requests
// of a set of slots give, and the state directory's files and lock (state_files_*.cpp, one
// per system).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vudaduv_fleet.h"

namespace vudaduv::fleet {

// The read requests of slots, in order, as the model builds them (model::BuildReadRequests),
// and how many command lines each slot takes.
using ReadList = model::ReadRequests;

// What the replies to a read list gave, from replies[first] on.
struct ReadOutcome {
    std::vector<RecordKey> answered;  // slots whose every read was answered
    Image image;                      // their records that came back whole
    std::vector<std::string> broken;  // "KEY: why" of those that did not
    // Why the replies are no reading of the scale (error replies, or lines no scale sends),
    // naming the first such reply; "" when every reply is a scale's answer. Such a reading says
    // nothing of what the scale holds: nothing of it is to be kept or trusted.
    std::string failure;
};

ReadOutcome ReadReplies(const ReadList& list, const std::vector<std::string>& replies,
                        std::size_t first, bool en);

// A file beside a final one while it is being written.
constexpr const char* kTempSuffix = ".new";

// Paths. A path's text is UTF-8 on Windows, opened through the system's wide file names (any
// name, whatever the system's code page), and elsewhere the bytes the file system takes, never
// converted: the tool's arguments and the C layer's state directory alike. FsPath and PathText
// go between such a text and std::filesystem (one implementation per system).
std::filesystem::path FsPath(const std::string& path);
std::string PathText(const std::filesystem::path& path);

std::string JoinPath(const std::string& dir, const std::string& name);

// The file's bytes; false when there is no such file, with error set when it exists but cannot
// be read.
bool ReadFileIfThere(const std::string& path, std::string& bytes, std::string& error);
void RemoveFileIfThere(const std::string& path);

// Writes the bytes as the whole file.
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error);

// WriteFilesAllOrNothing over texts held elsewhere: a thousand scales that get one image share
// its one text, never a copy each.
bool WriteFileViewsAllOrNothing(const std::string& dir,
                                const std::vector<std::pair<std::string, std::string_view>>& files,
                                std::string& error);
// Waits until the files are on disk: one flush of their file system where the system has it,
// for a thousand scales' images cost what one does.
bool FlushToDisk(const std::vector<std::string>& paths, std::string& error);
// Puts from in the place of to in one step, replacing it.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error);

// Puts bytes at the end of the file's first keep bytes (cutting off what lies beyond, a tail a
// crash left), creating the file when there is none. On failure the file is cut back to keep.
// Not flushed: FlushToDisk.
bool AppendToFile(const std::string& path, std::uintmax_t keep, std::string_view bytes,
                  std::string& error);
// Removes the file; true when it is gone (or was never there).
bool RemoveFile(const std::string& path, std::string& error);

// ---- The state directory's records of unconfirmed sends --------------------------------------

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

// How many of a journal's bytes count: at most limit, up to and with its last LF.
std::size_t JournalBytesThatCount(std::string_view journal, std::uintmax_t limit);

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

// ".last-good": when the last sync ended with every scale in step (LastGoodSync), in seconds
// since 1970, written whole, then renamed.
constexpr const char* kLastGoodFileName = ".last-good";
bool RecordGoodSync(const std::string& dir, int64_t when, std::string& error);

// An exclusive lock on a file held while the object lives (and released by the system when the
// process dies), with this process's id written in the file.
class FileLock {
  public:
    virtual ~FileLock() = default;
};

// Takes the lock without waiting; nullptr with held set and error naming the holder's process
// id ("this process" when it is the caller's own) when another holds it, or with the system's
// reason.
std::unique_ptr<FileLock> TryLockFile(const std::string& path, std::string& error, bool& held);

// "another sync (process 12) holds PATH", or "another sync (process 12, this process) holds PATH"
// when the holder is the caller's own process.
std::string LockHolderText(const std::string& holder, const std::string& self,
                           const std::string& path);

}  // namespace vudaduv::fleet
