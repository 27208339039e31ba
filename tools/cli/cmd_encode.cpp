// vudaduv encode: the command lines a send would hand the transport, without sending.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "lines.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

namespace {

const char* const kCommand = "encode";

std::string EncodeHelp() {
    return std::string(
               "Usage: vudaduv encode --type N [--en] [--charset CS] [--file F]\n"
               "\n"
               "Prints the scale command lines that the data lines of record type N become, one\n"
               "per line, without their CR LF. Nothing is sent and no file is written.\n"
               "\n") +
           kDataOptionsHelp + "\n" + RecordTypeHelp();
}

}  // namespace

int RunEncode(const Arguments& args) {
    DataCommand input;
    int status = kExitOk;
    if (!ReadDataCommand(kCommand, EncodeHelp(), args, input, status)) return status;

    std::vector<std::string> toSend;
    for (const std::string& line : input.data.lines) {
        toSend.push_back(LineToSend(input.recordType, line));
    }
    std::vector<std::string> commands = BuildCommandList(input.recordType, toSend, input.en);
    if (commands.empty()) NoteNothingToSend(kCommand, input.data);
    for (const std::string& command : commands) {
        std::string shown = ShowText(input.charset, WithoutLineEnd(command));
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fputc('\n', stdout);
    }
    return kExitOk;
}

}  // namespace vudaduv::cli
