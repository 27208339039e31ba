// vudaduv check: would every data line arrive as written? Each goes through the codec, a
// virtual scale of its own and back, and every difference is reported.
#include <cstdio>

#include "check_report.h"
#include "commands.h"
#include "common_options.h"
#include "image_commands.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "check";

std::string CheckHelp() {
    return std::string(
               "Usage: vudaduv check --type N [--en] [--charset CS] [--file F]\n"
               "\n"
               "Runs every data line through the library's encoding, a virtual scale and the\n"
               "read-back, as a send and a read would, and reports each difference from the\n"
               "line as written, as FILE:LINE: field: what happens (a number clamped, a text\n"
               "cut, characters that cannot be sent, a line left out, a record stored again by\n"
               "a later line, a file's last line without a line end, ...). Nothing is sent.\n"
               "\n") +
           kDataOptionsHelp +
           "\n"
           "Exit status: 0 every line arrives as written, 2 bad arguments, 3 a file could\n"
           "not be read, 4 some line would be changed or left out.\n"
           "\n" +
           RecordTypeHelp();
}

}  // namespace

int RunCheck(const Arguments& args) {
    DataCommand input;
    int status = kExitOk;
    ParsedArgs image;
    std::string ignored;
    if (ParseArgs(args, {kTypeOption, kEnOption, kCharsetOption, kFileOption}, image, ignored) &&
        !image.Has(kHelpOption.name) && image.Positionals().empty() && TakesImage(image)) {
        return CheckImage(image);
    }
    if (!ReadDataCommand(kCommand, CheckHelp(), args, input, status, true)) return status;

    CheckReport report = CheckAllLines(input.recordType, input.en, input.data, input.charset);
    for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
    if (report.changedLines == 0) return kExitOk;
    std::fprintf(stderr, "vudaduv check: %zu of %zu data line(s) would not arrive as written\n",
                 report.changedLines, input.data.lines.size());
    return kExitChanged;
}

}  // namespace vudaduv::cli
