// vudaduv send: data lines through the library to one or more scales, and what came back.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "lines.h"
#include "os.h"
#include "readback.h"
#include "scale_link.h"
#include "verify.h"
#include "vudaduv.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "send";
constexpr std::size_t kBatchLines = 50;
constexpr uint32_t kDefaultBaud = 9600;
constexpr uint64_t kLongestTimeout = 600000;
constexpr uint32_t kNoRetries = 0xFFFFFFFFu;  // the transport's "none"; 0 means its default

constexpr OptionSpec kTargetOption{"target", true, true};
constexpr OptionSpec kSerialOption{"serial", true, false};
constexpr OptionSpec kBaudOption{"baud", true, false};
constexpr OptionSpec kTimeoutOption{"timeout", true, false};
constexpr OptionSpec kRetriesOption{"retries", true, false};
constexpr OptionSpec kVerifyOption{"verify", false, false};

std::string SendHelp() {
    return std::string(
               "Usage: vudaduv send --type N (--target ADDR... | --serial DEVICE [--baud B])\n"
               "                    [--en] [--file F] [--charset CS] [--timeout MS]\n"
               "                    [--retries N] [--verify]\n"
               "\n"
               "Sends the data lines of record type N to the scale(s) through the library, then\n"
               "prints the upload lines that the send added to \"Rec.txt\" in the current\n"
               "directory (on stdout) and the result (on stderr).\n"
               "\n"
               "  --type N         record type of the data lines (see below)\n"
               "  --target ADDR    a network scale: host, host:port, [v6addr]:port (port 4001\n"
               "                   by default); repeat for several scales\n"
               "  --serial DEVICE  a scale on a serial line, e.g. /dev/ttyUSB0\n"
               "  --baud B         speed of the serial line (default 9600)\n"
               "  --en             code-page text (three digits a character): the En exports\n"
               "  --file F         read the data lines from F (default: standard input)\n"
               "  --charset CS     data lines are in CS (e.g. UTF-8), not GBK bytes; upload\n"
               "                   lines are printed in CS too\n"
               "  --timeout MS     reply and connect time-out of the network transport\n"
               "                   (default 3000)\n"
               "  --retries N      retries per scale after the first try (default 2; 0: none)\n"
               "  --verify         after a download of type 1, 3, 5, 7, 10 or 12, read the\n"
               "                   records back and report every one that differs\n"
               "  -h, --help       this help\n"
               "\n"
               "Results: 0 sent, -1 nothing to send, -2 transport failed, -3 upload file not\n"
               "written. Exit status: 0 sent (and verified), 1 the send or the verification\n"
               "failed, 2 bad arguments, 3 a file could not be read.\n"
               "\n") +
           kRecordTypeHelp;
}

// The transport settings of --timeout and --retries, in the order the transport reads them.
bool ReadTransportValues(const ParsedArgs& parsed, std::vector<uint32_t>& values,
                         std::string& error) {
    uint64_t timeout = 0;
    uint64_t retries = 0;
    if (!ReadUnsignedOption(parsed, kTimeoutOption.name, kLongestTimeout, timeout, error) ||
        !ReadUnsignedOption(parsed, kRetriesOption.name, 1000, retries, error)) {
        return false;
    }
    if (parsed.Has(kTimeoutOption.name) && timeout == 0) {
        error = "--timeout wants at least 1 millisecond";
        return false;
    }
    if (parsed.Has(kTimeoutOption.name)) values = {uint32_t(timeout), uint32_t(timeout)};
    if (parsed.Has(kRetriesOption.name)) {
        values.resize(2);
        values.push_back(retries == 0 ? kNoRetries : uint32_t(retries));
    }
    return true;
}

// Where to send: network scales or a serial line, as the options say.
bool ReadScaleLink(const ParsedArgs& parsed, ScaleLink& link, uint32_t& baud, std::string& error) {
    link.targets = parsed.Values(kTargetOption.name);
    link.serial = parsed.Has(kSerialOption.name);
    link.en = parsed.Has(kEnOption.name);
    if (link.serial == !link.targets.empty()) {
        error = link.serial ? "use either --target or --serial, not both"
                            : "say where the scale is: --target ADDR or --serial DEVICE";
        return false;
    }
    if (!link.serial && parsed.Has(kBaudOption.name)) {
        error = "--baud belongs to --serial";
        return false;
    }
    if (link.serial && (parsed.Has(kTimeoutOption.name) || parsed.Has(kRetriesOption.name))) {
        error = "--timeout and --retries belong to --target (the serial transport has its own)";
        return false;
    }
    uint64_t speed = kDefaultBaud;
    if (!ReadUnsignedOption(parsed, kBaudOption.name, UINT32_MAX, speed, error)) return false;
    baud = static_cast<uint32_t>(speed);
    if (link.serial && !os::SerialSpeedKnown(baud)) {
        error = "unsupported --baud " + std::to_string(baud) +
                " (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400)";
        return false;
    }
    return ReadTransportValues(parsed, link.values, error);
}

void ShowProgress(std::size_t done, std::size_t total) {
    std::fprintf(stderr, "\rsending: %zu of %zu data lines", done, total);
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

void PrintResult(int32_t result) {
    std::fprintf(stderr, "result %d: %s\n", result, ResultWords(result).c_str());
    if (result == WQ_TRANSPORT_FAILED) {
        std::fprintf(stderr,
                     "vudaduv send: a scale could not be reached or did not answer every "
                     "command (check the address, the cable and that the scale is on)\n");
    } else if (result == WQ_NOTHING_TO_SEND) {
        std::fprintf(stderr,
                     "vudaduv send: no data line gave a command line (check --type and the "
                     "format of the lines)\n");
    } else if (result == WQ_UPLOAD_FILE_FAILED) {
        std::fprintf(stderr, "vudaduv send: \"Rec.txt\" could not be written here\n");
    }
}

bool VerifyEveryScale(const ScaleLink& link, uint32_t recordType,
                      const std::vector<std::string>& lines, const std::string& charset) {
    if (link.serial) return VerifyDownload(link, "", recordType, lines, charset);
    bool allSame = true;
    for (const std::string& target : link.targets) {
        ScaleLink one = link;
        one.targets = {target};
        std::string name = link.targets.size() > 1 ? target : "";
        allSame = VerifyDownload(one, name, recordType, lines, charset) && allSame;
    }
    return allSame;
}

}  // namespace

int RunSend(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(
            kCommand, SendHelp(), args,
            {kTypeOption, kEnOption, kCharsetOption, kFileOption, kTargetOption, kSerialOption,
             kBaudOption, kTimeoutOption, kRetriesOption, kVerifyOption},
            parsed, status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    uint32_t recordType = 0;
    uint32_t baud = kDefaultBaud;
    std::string charset;
    ScaleLink link;
    std::string error;
    if (!ReadRecordType(parsed, recordType, error) || !ReadCharset(parsed, charset, error) ||
        !ReadScaleLink(parsed, link, baud, error)) {
        return UsageError(kCommand, error);
    }
    bool verify = parsed.Has(kVerifyOption.name);
    if (verify && !CanReadBack(recordType)) {
        return UsageError(kCommand, "--verify works for the record types 1, 3, 5, 7, 10 and 12");
    }
    std::vector<std::string> lines;
    status = LoadDataLines(kCommand, parsed, recordType, charset, lines);
    if (status != kExitOk) return status;

    std::string device = parsed.Value(kSerialOption.name);
    if (link.serial && !os::OpenSerialLine(device, baud, link.serialLink, error)) {
        std::fprintf(stderr, "vudaduv send: %s\n", error.c_str());
        return kExitFailed;
    }
    bool showProgress = os::StderrIsTerminal() && lines.size() > kBatchLines;
    SendOutcome outcome = SendAndCollect(link, recordType, lines, showProgress ? kBatchLines : 0,
                                         showProgress ? Progress(ShowProgress) : nullptr);
    for (const std::string& line : outcome.uploadLines) {
        std::string shown = ShowText(charset, line) + "\n";
        std::fwrite(shown.data(), 1, shown.size(), stdout);
    }
    std::fflush(stdout);
    PrintResult(outcome.result);
    bool ok = outcome.result == WQ_OK;
    if (ok && verify) ok = VerifyEveryScale(link, recordType, lines, charset);
    if (link.serial) os::CloseSerialLine(link.serialLink);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
