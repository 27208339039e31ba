// The thin layer between the library and the operating system: the local clock and whole-file
// access. One implementation per system (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <string>

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

}  // namespace vudaduv::platform
