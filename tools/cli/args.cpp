#include "args.h"

#include <charconv>
#include <cstdio>

namespace vudaduv::cli {

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    auto found = values_.find(name);
    if (found == values_.end() || found->second.empty()) return fallback;
    return found->second.back();
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const {
    auto found = values_.find(name);
    return found == values_.end() ? std::vector<std::string>{} : found->second;
}

namespace {

const OptionSpec* FindOption(const std::vector<OptionSpec>& specs, const std::string& name) {
    if (name == kHelpOption.name) return &kHelpOption;
    for (const OptionSpec& spec : specs) {
        if (name == spec.name) return &spec;
    }
    return nullptr;
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
               ParsedArgs& parsed, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            parsed.positionals_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::string inlineValue;
        bool hasInlineValue = false;
        if (arg == "-h") {
            name = kHelpOption.name;
        } else if (arg.size() > 2 && arg[1] == '-') {
            std::size_t equals = arg.find('=');
            name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (equals != std::string::npos) {
                inlineValue = arg.substr(equals + 1);
                hasInlineValue = true;
            }
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        const OptionSpec* spec = FindOption(specs, name);
        if (spec == nullptr) {
            error = "unknown option '--" + name + "'";
            return false;
        }
        if (!spec->repeatable && parsed.Has(name)) {
            error = "option '--" + name + "' given more than once";
            return false;
        }
        std::string value;
        if (spec->takesValue) {
            if (hasInlineValue) {
                value = inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option '--" + name + "' needs a value";
                return false;
            }
        } else if (hasInlineValue) {
            error = "option '--" + name + "' takes no value";
            return false;
        }
        parsed.values_[name].push_back(value);
    }
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    uint64_t result = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, result);
    // Digits only, all of them read, within range: no sign, no blanks, nothing after.
    if (text.empty() || error != std::errc() || stop != end || result > max) return false;
    value = result;
    return true;
}

bool ReadUnsignedOption(const ParsedArgs& parsed, const std::string& name, uint64_t max,
                        uint64_t& value, std::string& error) {
    return ReadUnsignedOption(parsed, name, 0, max, value, error);
}

bool ReadUnsignedOption(const ParsedArgs& parsed, const std::string& name, uint64_t min,
                        uint64_t max, uint64_t& value, std::string& error) {
    if (!parsed.Has(name)) return true;
    uint64_t read = 0;
    if (ParseUnsigned(parsed.Value(name), max, read) && read >= min) {
        value = read;
        return true;
    }
    error = "--" + name + " wants a number from " + std::to_string(min) + " to " +
            std::to_string(max) + ", not '" + parsed.Value(name) + "'";
    return false;
}

int UsageError(const std::string& command, const std::string& message) {
    std::string prefix = command.empty() ? "vudaduv" : "vudaduv " + command;
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", prefix.c_str(), message.c_str(),
                 prefix.c_str());
    return kExitUsage;
}

int UnreadableFile(const std::string& command, const std::string& what) {
    std::fprintf(stderr, "vudaduv %s: %s\n", command.c_str(), what.c_str());
    return kExitUnreadable;
}

}  // namespace vudaduv::cli
