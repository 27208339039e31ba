// Command-line arguments of the subcommands: options, values, usage errors.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vudaduv::cli {

// Exit statuses of the tool.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,      // a send or a verification failed
    kExitUsage = 2,       // bad arguments
    kExitUnreadable = 3,  // a file could not be read
    kExitChanged = 4,     // the check found data lines that would not arrive as written
};

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takesValue;
    bool repeatable;
};

// The options every subcommand knows besides its own.
constexpr OptionSpec kHelpOption{"help", false, false};

class ParsedArgs {
  public:
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    // The option's (last) value, or fallback when the option was not given.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positionals() const { return positionals_; }

  private:
    friend bool ParseArgs(const std::vector<std::string>&, const std::vector<OptionSpec>&,
                          ParsedArgs&, std::string&);
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> positionals_;
};

// "--name value", "--name=value" and "-h" (for --help); "--" ends the options, and "-" alone is
// a positional (standard input). False with a message for an unknown option, a missing value or
// an option given twice that may be given once.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
               ParsedArgs& parsed, std::string& error);

// Whole decimal text within [0, max]; no sign, no blanks.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& value);

// Reads an unsigned option into value (left alone when the option is absent). False with a
// message when the text is not a number within [0, max].
bool ReadUnsignedOption(const ParsedArgs& parsed, const std::string& name, uint64_t max,
                        uint64_t& value, std::string& error);
// The same within [min, max]; the message names that range.
bool ReadUnsignedOption(const ParsedArgs& parsed, const std::string& name, uint64_t min,
                        uint64_t max, uint64_t& value, std::string& error);

// Prints "vudaduv <command>: <message>" and a hint to --help on stderr; returns kExitUsage.
int UsageError(const std::string& command, const std::string& message);

// Prints why a file cannot be read ("NAME: reason"); returns kExitUnreadable.
int UnreadableFile(const std::string& command, const std::string& what);

}  // namespace vudaduv::cli
