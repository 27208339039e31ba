// Options that several subcommands share: --type, --charset, --file and the data lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "lines.h"

namespace vudaduv::cli {

constexpr OptionSpec kTypeOption{"type", true, false};
constexpr OptionSpec kEnOption{"en", false, false};
constexpr OptionSpec kCharsetOption{"charset", true, false};
constexpr OptionSpec kFileOption{"file", true, false};

// The record types, for the help of the commands that take --type.
// The table of record types for --help, from the codec's own table.
std::string RecordTypeHelp();
// How many characters each text keeps, from the codec's own limits; part of RecordTypeHelp.
std::string TextLimitsHelp();
// The options of the commands that take data lines and no more (check, encode).
extern const char* const kDataOptionsHelp;

// Parses the arguments; on --help prints help and sets status to kExitOk, on an error prints it
// and sets status to kExitUsage. Returns true when the command is to go on.
bool ParseCommandArgs(const std::string& command, const std::string& help, const Arguments& args,
                      const std::vector<OptionSpec>& specs, ParsedArgs& parsed, int& status);

// The required --type; false with a message when missing or not a 32-bit number.
bool ReadRecordType(const ParsedArgs& parsed, uint32_t& recordType, std::string& error);

// --charset, by default the locale's (UTF-8 under the C or POSIX locale); "" for GBK and
// CP936, whose bytes pass as they are. False with a message for a character set the system lacks.
bool ReadCharset(const ParsedArgs& parsed, std::string& charset, std::string& error);

// The data lines of --file or standard input, in GBK; none for the record types that take no
// data line. Notes on skipped lines go to stderr. A line that cannot be converted to GBK stops
// the command unless keepUnconvertible is set: then it is kept with its reason in
// data.unconvertible, for the check to report. Returns kExitOk, or the exit status after
// printing why not.
int LoadDataLines(const std::string& command, const ParsedArgs& parsed, uint32_t recordType,
                  const std::string& charset, DataLines& data, bool keepUnconvertible = false);

// What the commands that take data lines and no more (check, encode) are given.
struct DataCommand {
    uint32_t recordType = 0;
    bool en = false;
    std::string charset;
    DataLines data;
};

// Parses --type, --en, --charset and --file and loads the data lines. False with status set
// (after printing help or why not) when the command is to stop there.
bool ReadDataCommand(const std::string& command, const std::string& help, const Arguments& args,
                     DataCommand& out, int& status, bool keepUnconvertible = false);

// The one-line note on stderr that a run had nothing to send.
void NoteNothingToSend(const std::string& command, const DataLines& data);

}  // namespace vudaduv::cli
