// What the tool needs of the operating system besides files: the terminal, signals, directories
// and serial lines. One implementation per system: os_posix.cpp and os_windows.cpp.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vudaduv::cli::os {

// Standard input, output and error carry bytes as they are: data lines come in and upload lines
// and command lines go out alike on every system, with no CR added or taken away on Windows.
// Call before any input or output.
void UseRawStandardStreams();

bool StderrIsTerminal();

// All bytes of a file, or of standard input when path is empty. False with the system's reason
// when the file cannot be opened or read to its end (a directory, a read error).
bool ReadAllBytes(const std::string& path, std::string& bytes, std::string& error);

// Writes the bytes as the whole content of a file, made anew or cut to them. False with the
// system's reason when it cannot be made or written whole.
bool WriteAllBytes(const std::string& path, const std::string& bytes, std::string& error);

// Writes the bytes as the whole content of a file in one step: into FILE.new beside it, then
// renamed over it, so that a reader finds the old file or the new one, never a part of either.
// False with the system's reason; the file is then as it was, and FILE.new is gone.
bool ReplaceFileWhole(const std::string& path, const std::string& bytes, std::string& error);

// True when the file can be written (made, when missing; one that is there is left as it was,
// one made for the test removed again); false with the system's reason.
bool CanWriteFile(const std::string& path, std::string& error);

// Appends the bytes to a file, made when missing, all or nothing, under an exclusive lock of the
// whole file that another process's AppendLocked waits for (released on every path, a crash
// included): concurrent writers never lose or mix a line. False with the system's reason; the
// file is then cut back to what it held.
bool AppendLocked(const std::string& path, const std::string& bytes, std::string& error);

// The character set of the user's locale (LC_CTYPE's codeset on POSIX systems, the ANSI code
// page on Windows); "UTF-8" for the C or POSIX locale.
std::string LocaleCharset();

// The name of this computer; "" when the system gives none.
std::string HostName();

// The local time of a moment and its offset from UTC in seconds (east positive); false when the
// system cannot tell.
bool LocalTimeOf(std::time_t when, std::tm& local, long& offsetSeconds);

// Holds SIGINT and SIGTERM back so that WaitForStopSignal can take them. Call before any thread
// starts, so that every thread inherits the mask. On Windows: takes over Ctrl-C, Ctrl-Break and
// the closing of the console.
void HoldStopSignals();
// Waits until SIGINT or SIGTERM arrives; returns its number (SIGINT for Ctrl-C on Windows,
// SIGTERM for the other console events).
int WaitForStopSignal();

// A fresh private directory in the system's temporary folder, named after prefix.
bool MakeTempDirectory(const std::string& prefix, std::string& path, std::string& error);
bool ChangeDirectory(const std::string& path);
std::string CurrentDirectory();
// Removes the named file of a directory, then the directory itself, if empty.
void RemoveFileAndDirectory(const std::string& directory, const std::string& fileName);

// Opens a serial device for reading and writing and sets it raw, 8 data bits, no parity, at the
// given speed. The handle is what the serial exports take as link: a descriptor on POSIX
// systems, a HANDLE cut to 32 bits on Windows (where "COM3"-style names are taken).
bool OpenSerialLine(const std::string& device, uint32_t baud, uint32_t& link, std::string& error);
void CloseSerialLine(uint32_t link);
// True when the speed is one the system can set.
bool SerialSpeedKnown(uint32_t baud);

}  // namespace vudaduv::cli::os
