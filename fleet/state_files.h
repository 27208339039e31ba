// The thin layer of files under the state directory: whole writes, appends, flushes, renames
// and the lock, one source per system (state_files_posix.cpp, state_files_windows.cpp), with the
// few path helpers the standard library gives alike everywhere (state_dir.cpp). What the state
// directory keeps in those files is state_dir.h's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vudaduv::fleet {

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
