#include "common_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "charset.h"
#include "lines.h"
#include "os.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

std::string RecordTypeHelp() {
    std::string help = "Record types (--type) and their data lines:\n";
    for (const RecordType& type : kRecordTypes) {
        std::string row = std::string(type.code < 10 ? "   " : "  ") + std::to_string(type.code) +
                          "  " + type.name;
        row.resize(std::max<std::size_t>(row.size() + 1, 21), ' ');
        row += type.dataLine;
        std::string_view number = type.numberName;
        if (type.role == RecordRole::kStores && !number.empty() && type.code != 1) {
            // "(numbers 0..22)", "(labels 0..15)"
            std::string word(number.substr(0, number.find(' ')));
            if (word == "message") word = "number";
            row += "   (" + word + "s 0.." + std::to_string(type.numberMaximum) + ")";
        }
        help += row + "\n";
    }
    return help + "  other              " + RecordTypeOf(0).dataLine + " (the tool adds CR LF)\n" +
           "\n" + TextLimitsHelp();
}

std::string TextLimitsHelp() {
    std::string zonePosition = std::to_string(kItemCodeDigits / kZonePositionTerminator.size());
    std::string codePage = std::to_string(kItemCodeDigits / kCodePageTerminator.size());
    return "What a scale keeps (the check names every text that is cut):\n"
           "  type 1   each item text: " +
           zonePosition + " characters of zone-position text, " + codePage +
           " of\n"
           "           code-page text (--en)\n"
           "  type 3/5 the message text: " +
           std::to_string(kMessageTextCharacters) + " characters; messages above " +
           std::to_string(kMessage3CodePageAbove) +
           " (type 3)\n"
           "           and " +
           std::to_string(kMessage5CodePageAbove) +
           " (type 5) are code-page text in either mode\n"
           "  type 12  the key table: exactly " +
           std::to_string(kKeyTableBytes) + " bytes\n";
}

const char* const kDataOptionsHelp =
    "  --type N       record type of the data lines (see below)\n"
    "  --en           code-page text (three digits a character), as the En exports\n"
    "  --charset CS   data lines are in CS (default: the locale's, UTF-8 in C)\n"
    "  --file F       read the data lines from F (default: standard input)\n"
    "  -h, --help     this help\n";

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

namespace {

// GBK by any of its names: the library's own bytes, passed as they are.
bool IsGbkName(const std::string& charset) {
    std::string upper;
    for (char c : charset) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "GBK" || upper == "CP936";
}

}  // namespace

bool ReadCharset(const ParsedArgs& parsed, std::string& charset, std::string& error) {
    bool given = parsed.Has(kCharsetOption.name);
    charset = given ? parsed.Value(kCharsetOption.name) : os::LocaleCharset();
    if (IsGbkName(charset)) charset.clear();
    if (charset.empty() || CharsetKnown(charset)) return true;
    error = given ? "unknown character set '" + charset + "' (try --charset UTF-8)"
                  : "the locale's character set " + charset +
                        " cannot be converted to GBK (choose one with --charset)";
    return false;
}

int LoadDataLines(const std::string& command, const ParsedArgs& parsed, uint32_t recordType,
                  const std::string& charset, DataLines& data, bool keepUnconvertible) {
    std::string path = parsed.Value(kFileOption.name);
    std::string source = path.empty() ? "-" : path;
    data = DataLines{source, {}, {}, {}, {}, false};
    if (!RecordTypeOf(recordType).takesDataLine) return kExitOk;
    std::string bytes;
    std::string error;
    if (!ReadInputBytes(path, bytes, error)) {
        return UnreadableFile(command, (source == "-" ? "standard input" : source) + ": " + error);
    }
    data = SplitDataLines(source, bytes);
    for (const std::string& note : data.notes) {
        std::fprintf(stderr, "vudaduv %s: %s\n", command.c_str(), note.c_str());
    }
    if (LinesToGbk(charset, data) || keepUnconvertible) return kExitOk;
    return UsageError(command, FirstUnconvertible(data));
}

bool ReadDataCommand(const std::string& command, const std::string& help, const Arguments& args,
                     DataCommand& out, int& status, bool keepUnconvertible) {
    ParsedArgs parsed;
    status = kExitOk;
    if (!ParseCommandArgs(command, help, args,
                          {kTypeOption, kEnOption, kCharsetOption, kFileOption}, parsed, status)) {
        return false;
    }
    if (!parsed.Positionals().empty()) {
        status = UsageError(command, "unexpected argument '" + parsed.Positionals()[0] + "'");
        return false;
    }
    std::string error;
    if (!ReadRecordType(parsed, out.recordType, error) ||
        !ReadCharset(parsed, out.charset, error)) {
        status = UsageError(command, error);
        return false;
    }
    out.en = parsed.Has(kEnOption.name);
    status =
        LoadDataLines(command, parsed, out.recordType, out.charset, out.data, keepUnconvertible);
    return status == kExitOk;
}

void NoteNothingToSend(const std::string& command, const DataLines& data) {
    std::fprintf(stderr, "vudaduv %s: %s: nothing to send\n", command.c_str(),
                 data.lines.empty() ? (data.source + ": no data lines").c_str()
                                    : "no data line gave a command line");
}

}  // namespace vudaduv::cli
