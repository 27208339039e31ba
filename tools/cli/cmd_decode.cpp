// vudaduv decode: the upload lines a reply file becomes, without touching the file.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "lines.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "decode";

const char* const kDecodeHelp =
    "Usage: vudaduv decode [--en] [--charset CS] FILE\n"
    "\n"
    "Converts the scale's reply tokens in FILE (a \"Rec.txt\" as the transport leaves\n"
    "it) into the upload lines a send would write (\"1P...\", \"3P...\", \"10P...\",\n"
    "...) and prints them, one per line. FILE is not changed; \"-\" reads standard\n"
    "input.\n"
    "\n"
    "  --en           texts are code-page text (three digits a character), as the\n"
    "                 En exports\n"
    "  --charset CS   print the lines in CS (default: the locale's, UTF-8 in C)\n"
    "  -h, --help     this help\n";

}  // namespace

int RunDecode(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, kDecodeHelp, args, {kEnOption, kCharsetOption}, parsed,
                          status)) {
        return status;
    }
    std::string charset;
    std::string error;
    if (!ReadCharset(parsed, charset, error)) return UsageError(kCommand, error);
    if (parsed.Positionals().size() != 1) {
        return UsageError(kCommand, parsed.Positionals().empty() ? "a reply file is needed"
                                                                 : "only one reply file, please");
    }
    const std::string& path = parsed.Positionals()[0];
    std::string bytes;
    if (!ReadInputBytes(path, bytes, error)) {
        return UnreadableFile(kCommand, (path == "-" ? "standard input" : path) + ": " + error);
    }
    for (const std::string& line :
         SplitLines(ConvertUploadText(bytes, parsed.Has(kEnOption.name)))) {
        std::string shown = ShowText(charset, line) + "\n";
        std::fwrite(shown.data(), 1, shown.size(), stdout);
    }
    return kExitOk;
}

}  // namespace vudaduv::cli
