// The thin layer between the library and the operating system: the local clock and whole-file
// access. One implementation per system (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vudaduv::platform {

struct LocalTime {
    int year;    // e.g. 2026
    int month;   // 1 to 12
    int day;     // 1 to 31
    int hour;    // 0 to 23
    int minute;  // 0 to 59
};

// The computer's local date and time now.
LocalTime GetLocalClock();

// Reads the whole file as bytes into out. False when the file cannot be opened; a read error
// part-way keeps the bytes read before it.
bool ReadFileBytes(const char* path, std::string& out);

// Replaces the file's contents with bytes, all or nothing: the bytes go to a new file beside
// it, which is flushed to the disk and renamed over it in one step. A symbolic link is followed
// and stays. False when the file is left exactly as it was: it is read-only (or, on Windows,
// held open by another program), or a step failed; no new file remains then.
bool ReplaceFileBytes(const char* path, const std::string& bytes);

// Appends all of bytes to the file, creating it when missing, all or nothing: a write that fails
// part-way is cut off again. False on any failure.
bool AppendFileBytes(const char* path, const std::string& bytes);

// ReplaceFileBytes for contents written in pieces, so that they need not be held all at once:
// the pieces go to the new file beside it, and Commit flushes that and renames it over the file.
// Until Commit succeeds the file is exactly as it was; a replacement that is not committed, or
// that failed, leaves no new file behind.
class FileReplacement {
  public:
    explicit FileReplacement(const char* path);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False when the file may not be replaced (as for ReplaceFileBytes), or a write failed.
    bool Write(std::string_view bytes);
    // False when the file is left exactly as it was.
    bool Commit();

  private:
    void Discard();

    std::string target_;
    std::string temporary_;
    std::intptr_t handle_ = -1;  // the new file; -1 when there is none
    bool ok_ = false;
};

// An exclusive lock on the file at path, held from construction to destruction. The file is
// created when missing and never deleted: a lock file deleted and made anew could be locked
// twice at once. The constructor waits while another process holds the lock; the system drops
// a lock when its process ends, however it ends, so a crash leaves no one waiting. Held() is
// false when the file cannot be opened or locked. On POSIX the lock belongs to the process, not
// to a thread: the threads of one process are the caller's to keep apart.
class FileLock {
  public:
    explicit FileLock(const char* path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return handle_ != -1; }

  private:
    std::intptr_t handle_ = -1;
};

}  // namespace vudaduv::platform
