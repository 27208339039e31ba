// vudaduv encode: the command lines a send would hand the transport, without sending.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "lines.h"
#include "send/command_list.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "encode";

std::string EncodeHelp() {
    return std::string(
               "Usage: vudaduv encode --type N [--en] [--charset CS] [--file F]\n"
               "\n"
               "Prints the scale command lines that the data lines of record type N become, one\n"
               "per line, without their CR LF. Nothing is sent and no file is written.\n"
               "\n"
               "  --type N       record type of the data lines (see below)\n"
               "  --en           code-page text (three digits a character), as the En exports\n"
               "  --charset CS   data lines are in CS (e.g. UTF-8), not GBK bytes\n"
               "  --file F       read the data lines from F (default: standard input)\n"
               "  -h, --help     this help\n"
               "\n") +
           kRecordTypeHelp;
}

std::string WithoutLineEnd(std::string line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        line.resize(line.size() - 2);
    return line;
}

}  // namespace

int RunEncode(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, EncodeHelp(), args,
                          {kTypeOption, kEnOption, kCharsetOption, kFileOption}, parsed, status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    uint32_t recordType = 0;
    std::string charset;
    std::string error;
    if (!ReadRecordType(parsed, recordType, error) || !ReadCharset(parsed, charset, error)) {
        return UsageError(kCommand, error);
    }
    std::vector<std::string> lines;
    status = LoadDataLines(kCommand, parsed, recordType, charset, lines);
    if (status != kExitOk) return status;

    std::vector<const char*> pointers;
    for (const std::string& line : lines) pointers.push_back(line.c_str());
    WQStringList list{pointers.data(), static_cast<uint32_t>(pointers.size())};
    for (const std::string& command :
         BuildCommandList(recordType, list, parsed.Has(kEnOption.name))) {
        std::string shown = ShowText(charset, WithoutLineEnd(command));
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fputc('\n', stdout);
    }
    return kExitOk;
}

}  // namespace vudaduv::cli
