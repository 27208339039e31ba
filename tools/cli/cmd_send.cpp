// vudaduv send: data lines through the library to one or more scales, and what came back.
#include <cstdio>

#include "check.h"
#include "check_report.h"
#include "commands.h"
#include "common_options.h"
#include "datasend/send_settings.h"
#include "datasend/target_address.h"
#include "lines.h"
#include "os.h"
#include "readback.h"
#include "scale_link.h"
#include "upload/upload.h"
#include "verify.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "send";
constexpr uint32_t kDefaultBaud = 9600;
constexpr uint64_t kLongestTimeout = 600000;
constexpr uint32_t kNoRetries = 0xFFFFFFFFu;  // the transport's "none"; 0 means its default

constexpr OptionSpec kTargetOption{"target", true, true};
constexpr OptionSpec kSerialOption{"serial", true, false};
constexpr OptionSpec kBaudOption{"baud", true, false};
constexpr OptionSpec kTimeoutOption{"timeout", true, false};
constexpr OptionSpec kRetriesOption{"retries", true, false};
constexpr OptionSpec kVerifyOption{"verify", false, false};
constexpr OptionSpec kAcceptOption{"accept-changes", false, false};

std::string SendHelp() {
    transport::SendSettings defaults;
    std::string port = std::to_string(defaults.defaultPort);
    std::string baud = std::to_string(kDefaultBaud);
    std::string timeout = std::to_string(defaults.replyTimeoutMs);
    std::string retries = std::to_string(defaults.tries - 1);
    return "Usage: vudaduv send --type N (--target ADDR... | --serial DEVICE [--baud B])\n"
           "                    [--en] [--file F] [--charset CS] [--timeout MS]\n"
           "                    [--retries N] [--accept-changes] [--verify]\n"
           "\n"
           "Checks the data lines of record type N as 'vudaduv check' does; if every one\n"
           "arrives as written, sends them to the scale(s), then prints the upload lines\n"
           "that this send added to \"Rec.txt\" in the current directory (on stdout).\n"
           "\n"
           "  --type N          record type of the data lines (see below)\n"
           "  --target ADDR     a network scale: host, host:port, [v6addr]:port (port " +
           port +
           "\n"
           "                    by default); repeat for several scales\n"
           "  --serial DEVICE   a scale on a serial line, e.g. /dev/ttyUSB0 or COM3\n"
           "  --baud B          speed of the serial line (default " +
           baud +
           ")\n"
           "  --en              code-page text (three digits a character): the En exports\n"
           "  --file F          read the data lines from F (default: standard input)\n"
           "  --charset CS      data lines and upload lines are in CS (default: the\n"
           "                    locale's; GBK, CP936 and the C locale pass bytes as is)\n"
           "  --timeout MS      reply and connect time-out per scale (default " +
           timeout +
           ")\n"
           "  --retries N       retries per scale after the first try (default " +
           retries +
           ")\n"
           "  --accept-changes  send also lines that the check finds would be changed\n"
           "  --verify          after a download of type 1, 3, 5, 7, 10 or 12, read the\n"
           "                    records back and report every field that differs\n"
           "  -h, --help        this help\n"
           "\n"
           "Exit status: 0 sent (and verified), 1 a scale was not served, answered with an\n"
           "error or came back different, 2 bad arguments or address, 3 a file could not\n"
           "be read, 4 the check found lines that would not arrive as written (nothing\n"
           "sent).\n"
           "\n" +
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

// Every address as the network transport reads it, before anything is sent.
bool CheckAddresses(const ScaleLink& link, std::string& error) {
    for (const std::string& target : link.targets) {
        transport::TargetAddress address;
        if (!transport::ParseTargetAddress(target, transport::SendSettings{}.defaultPort,
                                           address)) {
            error = "bad address '" + target + "' (host, host:port or [v6addr]:port)";
            return false;
        }
    }
    return true;
}

// The check before the send: the report on stderr; false when the send is to stop there.
bool CheckBeforeSending(uint32_t recordType, bool en, bool accept, const DataLines& data,
                        const std::string& charset) {
    CheckReport report = CheckAllLines(recordType, en, data, charset);
    for (const std::string& line : report.lines) std::fprintf(stderr, "%s\n", line.c_str());
    if (report.changedLines == 0) return true;
    std::fprintf(stderr, "vudaduv send: %zu of %zu data line(s) would not arrive as written: %s\n",
                 report.changedLines, data.lines.size(),
                 accept ? "sending them all the same (--accept-changes)"
                        : "nothing sent (--accept-changes sends anyway)");
    return accept;
}

bool WriteOut(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// The upload lines of the send, scale by scale; with several scales each block names its
// scale.
void PrintUploadLines(const SendOutcome& outcome, const std::string& charset) {
    for (const ScaleResult& scale : outcome.scales) {
        if (scale.uploadLines.empty()) continue;
        if (outcome.scales.size() > 1) WriteOut("# scale " + scale.name + "\n");
        for (const std::string& line : scale.uploadLines) WriteOut(ShowText(charset, line) + "\n");
    }
}

// The place of the data line a command came from, for messages.
std::string PlaceOfCommand(const SendOutcome& outcome, const DataLines& data, std::size_t i) {
    std::size_t line = outcome.lineOfCommand[i];
    std::string command = WithoutLineEnd(outcome.commands[i]);
    return (line == kNoDataLine ? std::string("command") : LinePlace(data, line)) + " (" +
           Quoted(command) + ")";
}

// Error replies and replies that are no scale's, each with the data line it answered; true when
// there is none.
bool ReportReplies(const ScaleResult& scale, const SendOutcome& outcome, const DataLines& data) {
    bool allAnswers = true;
    for (std::size_t i = 0; i < scale.replies.size() && i < outcome.commands.size(); ++i) {
        const std::string& reply = scale.replies[i];
        if (IsScaleAnswer(reply)) continue;
        allAnswers = false;
        std::fprintf(stderr, "vudaduv send: %s: %s: %s %s\n", scale.name.c_str(),
                     PlaceOfCommand(outcome, data, i).c_str(),
                     IsErrorReply(reply) ? "the scale answered with an error:"
                                         : "not a scale's reply:",
                     Quoted(reply).c_str());
    }
    return allAnswers;
}

// The serial export shows no replies, but error replies pass into the upload lines.
bool ReportSerialErrors(const ScaleResult& scale) {
    bool none = true;
    for (const std::string& line : scale.uploadLines) {
        if (!IsErrorReply(line)) continue;
        none = false;
        std::fprintf(stderr, "vudaduv send: serial line: the scale answered with an error: %s\n",
                     Quoted(line).c_str());
    }
    return none;
}

// What became of every scale, on stderr; true when every one was served without an error.
bool ReportScales(const SendOutcome& outcome, const DataLines& data) {
    bool ok = true;
    for (const ScaleResult& scale : outcome.scales) {
        std::string name = scale.name.empty() ? "serial line" : scale.name;
        std::string cause = FailureCause(scale, outcome.commands.size());
        if (!cause.empty()) {
            std::fprintf(stderr, "vudaduv send: %s: %s\n", name.c_str(), cause.c_str());
            ok = false;
        }
        ok = (scale.name.empty() ? ReportSerialErrors(scale) : ReportReplies(scale, outcome, data)) &&
             ok;
    }
    if (!outcome.uploadFileWritten) {
        std::fprintf(stderr, "vudaduv send: \"%s\" could not be written in %s\n",
                     kUploadFileName, os::CurrentDirectory().c_str());
        ok = false;
    }
    return ok;
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
             kBaudOption, kTimeoutOption, kRetriesOption, kVerifyOption, kAcceptOption},
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
    std::string device = parsed.Value(kSerialOption.name);
    if (!CheckAddresses(link, error)) return UsageError(kCommand, error);
    DataLines data;
    status = LoadDataLines(kCommand, parsed, recordType, charset, data);
    if (status != kExitOk) return status;
    if (RecordTypeReadsDataLines(recordType) && data.lines.empty()) {
        NoteNothingToSend(kCommand, data);
        return kExitOk;
    }
    if (!CheckBeforeSending(recordType, link.en, parsed.Has(kAcceptOption.name), data, charset)) {
        return kExitChanged;
    }

    if (link.serial && !os::OpenSerialLine(device, baud, link.serialLink, error)) {
        std::fprintf(stderr, "vudaduv send: %s\n", error.c_str());
        return kExitFailed;
    }
    if (os::StderrIsTerminal()) {
        std::fprintf(stderr, "vudaduv send: sending %zu data line(s) through %s...\n",
                     data.lines.size(), ExportName(link).c_str());
    }
    SendOutcome outcome = SendLines(link, recordType, data.lines);
    if (outcome.nothingToSend) NoteNothingToSend(kCommand, data);
    PrintUploadLines(outcome, charset);
    bool ok = ReportScales(outcome, data);
    if (ok && verify && !outcome.nothingToSend) {
        ok = VerifyEveryScale(link, recordType, data.lines, charset);
    }
    if (link.serial) os::CloseSerialLine(link.serialLink);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
