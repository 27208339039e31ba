#include "common_options.h"

#include <cstdio>

#include "charset.h"
#include "lines.h"

namespace vudaduv::cli {

const char* const kRecordTypeHelp =
    "Record types (--type) and their data lines:\n"
    "   1  item record     <item>A<fields>##<text1>##<text2>##<text3>\n"
    "   2  read item       <item>\n"
    "   3  text message    <number>A<text>     (numbers 0..22)\n"
    "   4  read message    <number>\n"
    "   5  text message    <number>A<text>     (numbers 0..32)\n"
    "   6  read message    <number>\n"
    "   7  free data       any text\n"
    "   8  read free data  (no data line)\n"
    "   9  set the clock   (no data line; this computer's time)\n"
    "  10  label texts     <label>A<text1>B<text2>   (labels 0..15)\n"
    "  11  read label      <label>\n"
    "  12  key table       exactly 568 bytes\n"
    "  13  read key table  (no data line)\n"
    "  other               each data line is sent as it is\n";

bool ParseCommandArgs(const std::string& command, const std::string& help, const Arguments& args,
                      const std::vector<OptionSpec>& specs, ParsedArgs& parsed, int& status) {
    std::string error;
    if (!ParseArgs(args, specs, parsed, error)) {
        status = UsageError(command, error);
        return false;
    }
    if (parsed.Has(kHelpOption.name)) {
        std::fputs(help.c_str(), stdout);
        status = kExitOk;
        return false;
    }
    return true;
}

bool ReadRecordType(const ParsedArgs& parsed, uint32_t& recordType, std::string& error) {
    if (!parsed.Has(kTypeOption.name)) {
        error = "--type is required (1 to 13, see --help)";
        return false;
    }
    uint64_t value = 0;
    if (!ReadUnsignedOption(parsed, kTypeOption.name, UINT32_MAX, value, error)) return false;
    recordType = static_cast<uint32_t>(value);
    return true;
}

bool ReadCharset(const ParsedArgs& parsed, std::string& charset, std::string& error) {
    charset = parsed.Value(kCharsetOption.name);
    if (!parsed.Has(kCharsetOption.name) || CharsetKnown(charset)) return true;
    error = "unknown character set '" + charset + "' (try --charset UTF-8)";
    return false;
}

int LoadDataLines(const std::string& command, const ParsedArgs& parsed, uint32_t recordType,
                  const std::string& charset, std::vector<std::string>& lines) {
    if (!RecordTypeReadsDataLines(recordType)) return kExitOk;
    std::string path = parsed.Value(kFileOption.name);
    if (!ReadDataLines(path, lines)) {
        return UnreadableFile(command, path.empty() || path == "-" ? "standard input" : path);
    }
    std::string error;
    if (!LinesToGbk(charset, lines, error)) return UsageError(command, error);
    return kExitOk;
}

}  // namespace vudaduv::cli
