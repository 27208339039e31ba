// vudaduv send: data lines through the library to one or more scales, and what came back.
#include <chrono>
#include <cstdio>
#include <optional>

#include "check_report.h"
#include "commands.h"
#include "common_options.h"
#include "image_commands.h"
#include "lines.h"
#include "os.h"
#include "scale_link.h"
#include "send_report.h"
#include "stop_request.h"
#include "targets_file.h"
#include "verify.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

using namespace model;  // the scale model is the tool's vocabulary

namespace {

const char* const kCommand = "send";
constexpr uint32_t kDefaultBaud = 9600;

constexpr OptionSpec kReportOption{"report", true, true};
constexpr OptionSpec kUploadFileOption{"upload-file", true, false};
constexpr OptionSpec kSerialOption{"serial", true, false};
constexpr OptionSpec kBaudOption{"baud", true, false};
constexpr OptionSpec kVerifyOption{"verify", false, false};
constexpr OptionSpec kAcceptOption{"accept-changes", false, false};

std::string SendHelp() {
    transport::SendSettings defaults;
    std::string port = std::to_string(defaults.defaultPort);
    std::string baud = std::to_string(kDefaultBaud);
    std::string timeout = std::to_string(defaults.replyTimeoutMs);
    std::string retries = std::to_string(defaults.tries - 1);
    return "Usage: vudaduv send --type N (--target ADDR... | --targets-file F |\n"
           "                    --serial DEVICE [--baud B]) [--en] [--file F]\n"
           "                    [--charset CS] [--timeout MS] [--retries N]\n"
           "                    [--accept-changes] [--verify] [--report json:FILE]\n"
           "                    [--report html:FILE] [--upload-file F]\n"
           "\n"
           "Checks the data lines of record type N as 'vudaduv check' does; if every one\n"
           "arrives as written, sends them to every scale at once, then prints the upload\n"
           "lines made of this send's replies (on stdout). It writes no \"Rec.txt\".\n"
           "\n"
           "  --type N          record type of the data lines (see below)\n"
           "  --target ADDR     a network scale: host, host:port, [v6addr]:port (port " +
           port +
           "\n"
           "                    by default); repeat for several scales\n"
           "  --targets-file F  network scales, one address a line (blank lines and '#'\n"
           "                    comments skipped), sent to after those of --target; a\n"
           "                    scale the file names again is sent to once\n"
           "  --serial DEVICE   a scale on a serial line, e.g. /dev/ttyUSB0 or COM3\n"
           "  --baud B          speed of the serial line (default " +
           baud +
           ")\n"
           "  --en              code-page text (three digits a character), as the En\n"
           "                    exports send it\n"
           "  --file F          read the data lines from F (default: standard input)\n"
           "  --charset CS      data lines and upload lines are in CS (default: the\n"
           "                    locale's, UTF-8 in the C locale; GBK passes bytes)\n"
           "  --timeout MS      reply and connect time-out per scale (default " +
           timeout +
           ")\n"
           "  --retries N       retries per scale after the first try (default " +
           retries +
           ")\n"
           "  --accept-changes  send also lines that the check finds would be changed\n"
           "  --verify          after a download of type " +
           RecordTypesWithRole(RecordRole::kStores, "or") +
           ", read the\n"
           "                    records back and report every field that differs\n"
           "  --report json:FILE\n"
           "                    write every network scale's outcome to FILE as JSON\n"
           "  --report html:FILE\n"
           "                    the same as one page, a table to sort and filter (both\n"
           "                    may be given)\n"
           "  --upload-file F   also append this call's upload lines to F (CR LF),\n"
           "                    all or nothing, locked against a concurrent writer\n"
           "  -h, --help        this help\n"
           "\n"
           "With several scales the send ends with one line for every scale that failed\n"
           "and a summary: served N, failed M, in S s. A terminal shows the progress.\n"
           "\n"
           "Exit status: 0 sent (and verified), 1 a scale was not served, answered with an\n"
           "error or came back different, or the report could not be written, 2 bad\n"
           "arguments or address, 3 a file could not be read, 4 the check found lines that\n"
           "would not arrive as written or every line is left out (nothing sent), 130\n"
           "stopped by Ctrl-C (the upload lines that had arrived are printed first).\n"
           "\n" +
           RecordTypeHelp();
}

// Where to send: network scales or a serial line, as the options say.
bool ReadScaleLink(const ParsedArgs& parsed, ScaleLink& link, uint32_t& baud, std::string& error) {
    bool network = parsed.Has(kTargetOption.name) || parsed.Has(kTargetsFileOption.name);
    link.serial = parsed.Has(kSerialOption.name);
    link.en = parsed.Has(kEnOption.name);
    if (link.serial == network) {
        error = link.serial ? "use --target or --targets-file, or --serial, not both"
                            : "say where the scale is: --target ADDR, --targets-file F or "
                              "--serial DEVICE";
        return false;
    }
    if (link.serial && parsed.Has(kReportOption.name)) {
        error = "--report belongs to --target and --targets-file";
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
    return ReadTransportSettings(parsed, link.settings, error);
}

// The addresses of --target and --targets-file, every one read as the network transport reads
// it before anything is sent; kExitOk, or the exit status after saying why not.
int LoadTargets(const ParsedArgs& parsed, ScaleLink& link) {
    TargetList list;
    int status = LoadTargetList(kCommand, parsed, list);
    if (status != kExitOk) return status;
    link.targets = list.addresses;
    return kExitOk;
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
bool ReportReplies(const ScaleResult& scale, const SendOutcome& outcome, const DataLines& data,
                   const std::string& charset) {
    bool allAnswers = true;
    for (std::size_t i = 0; i < scale.replies.size() && i < outcome.commands.size(); ++i) {
        const std::string& reply = scale.replies[i];
        if (IsScaleAnswer(reply)) continue;
        allAnswers = false;
        std::fprintf(
            stderr, "vudaduv send: %s: %s: %s %s\n",
            scale.name.empty() ? "serial line" : scale.name.c_str(),
            ShowText(charset, PlaceOfCommand(outcome, data, i)).c_str(),
            IsErrorReply(reply) ? "the scale answered with an error:" : "not a scale's reply:",
            ShowText(charset, Quoted(reply)).c_str());
    }
    return allAnswers;
}

// A read of an empty slot is answered "0f" with the letter and the number asked for, and gives
// no upload line: each is named on stderr, so that silence is not taken for a lost reply.
void NoteEmptySlots(const ScaleResult& scale, bool named, uint32_t recordType) {
    const RecordType& read = RecordTypeOf(recordType);
    if (read.role != RecordRole::kReads) return;
    std::string last;  // a label is read in two halves, and named once
    for (const std::string& reply : scale.replies) {
        if (!IsEmptySlotReply(reply)) continue;
        std::string number = reply.size() > 3 ? reply.substr(3) : std::string();
        std::string record = RecordName(read.partner, number);
        if (record == last) continue;
        last = record;
        std::fprintf(stderr, "vudaduv send: %s%s: the scale holds none\n",
                     named ? (scale.name + ": ").c_str() : "", record.c_str());
    }
}

// What became of every scale, on stderr: the replies that are no success, then one line for
// every scale that failed and, with several scales, the summary. True when every one was served
// without an error.
bool ReportScales(const SendOutcome& outcome, const DataLines& data,
                  const std::vector<std::string>& causes, uint32_t milliseconds,
                  uint32_t recordType, const std::string& charset) {
    bool ok = true;
    for (const ScaleResult& scale : outcome.scales) {
        NoteEmptySlots(scale, outcome.scales.size() > 1, recordType);
        ok = ReportReplies(scale, outcome, data, charset) && ok;
    }
    for (std::size_t i = 0; i < outcome.scales.size(); ++i) {
        if (causes[i].empty()) continue;
        const std::string& name = outcome.scales[i].name;
        std::fprintf(stderr, "vudaduv send: %s: %s\n", name.empty() ? "serial line" : name.c_str(),
                     causes[i].c_str());
        ok = false;
    }
    if (outcome.scales.size() > 1) {
        std::fprintf(stderr, "vudaduv send: %s\n", SendSummary(causes, milliseconds).c_str());
    }
    return ok;
}

// One read-back of every scale that was served, all at once (kept in readBack for the report);
// the others are named as not verified.
bool VerifyServedScales(const ScaleLink& link, const SendOutcome& outcome, uint32_t recordType,
                        const std::vector<std::string>& lines, const std::string& charset,
                        std::optional<ReadBackResult>& readBack) {
    std::vector<std::string> served;
    bool allVerified = true;
    for (const ScaleResult& scale : outcome.scales) {
        if (scale.code == 0) {
            served.push_back(scale.name);
            continue;
        }
        allVerified = false;
        std::fprintf(stderr, "verify %s: not verified: it was not served\n",
                     scale.name.empty() ? "serial line" : scale.name.c_str());
    }
    if (served.empty()) return false;
    readBack = ReadBack(link, served, recordType, lines);
    bool named = outcome.scales.size() > 1;
    return PrintVerification(*readBack, named, recordType, charset) && allVerified;
}

// The upload lines of this call appended to path, all or nothing, under a lock that keeps a
// concurrent writer's lines whole.
bool AppendUploadLines(const std::string& path, const SendOutcome& outcome,
                       const std::string& charset) {
    std::string text;
    for (const ScaleResult& scale : outcome.scales) {
        for (const std::string& line : scale.uploadLines) text += ShowText(charset, line) + "\r\n";
    }
    std::string error;
    if (text.empty() || os::AppendLocked(path, text, error)) return true;
    std::fprintf(stderr, "vudaduv send: the upload lines could not be appended to %s: %s\n",
                 path.c_str(), error.c_str());
    return false;
}

// What the command line asks of a send of data lines, read and checked.
struct SendCommand {
    ParsedArgs parsed;
    uint32_t recordType = 0;
    uint32_t baud = kDefaultBaud;
    std::string charset;
    ScaleLink link;
    ReportFiles reports;
    std::string uploadFile;
    std::string device;  // of --serial
    bool verify = false;
};

// The options of a send of data lines read, its scales too; kExitOk, or the exit status after
// saying why not.
int ReadSendValues(SendCommand& command) {
    const ParsedArgs& parsed = command.parsed;
    command.uploadFile = parsed.Value(kUploadFileOption.name);
    command.device = parsed.Value(kSerialOption.name);
    command.verify = parsed.Has(kVerifyOption.name);
    std::string error;
    if (!ReadRecordType(parsed, command.recordType, error) ||
        !ReadCharset(parsed, command.charset, error) ||
        !ReadScaleLink(parsed, command.link, command.baud, error) ||
        !ReadReportFiles(parsed.Values(kReportOption.name), "the upload lines", command.reports,
                         error)) {
        return UsageError(kCommand, error);
    }
    if (command.verify && !StoresRecord(command.recordType)) {
        return UsageError(kCommand, "--verify works for the record types " +
                                        RecordTypesWithRole(RecordRole::kStores));
    }
    return command.link.serial ? kExitOk : LoadTargets(parsed, command.link);
}

// The data lines read and checked, only those that can be sent kept; kExitOk, or the exit
// status after saying why nothing goes (kExitOk too when there is nothing to send).
int LoadSendLines(const SendCommand& command, DataLines& data, bool& nothing) {
    uint32_t recordType = command.recordType;
    int status = LoadDataLines(kCommand, command.parsed, recordType, command.charset, data, true);
    if (status != kExitOk) return status;
    nothing = RecordTypeOf(recordType).takesDataLine && data.lines.empty();
    if (nothing) {
        NoteNothingToSend(kCommand, data);
        return kExitOk;
    }
    if (!CheckBeforeSending(recordType, command.link.en, command.parsed.Has(kAcceptOption.name),
                            data, command.charset)) {
        return kExitChanged;
    }
    // Lines that are no text of their character set, and a file's cut last line, cannot be
    // sent, accepted or not.
    data = SendableLinesOnly(data);
    if (RecordTypeOf(recordType).takesDataLine && data.lines.empty()) {
        std::fprintf(stderr, "vudaduv send: every data line is left out: nothing sent\n");
        return kExitChanged;
    }
    return kExitOk;
}

// What a send came to, for its report.
struct SendRun {
    SendOutcome outcome;
    uint32_t milliseconds = 0;
    std::chrono::system_clock::time_point started;
};

// The lines sent to every scale at once, with the progress line on stderr. A network send
// stopped by Ctrl-C (stop) keeps what had arrived; the serial transport has no stop.
SendRun SendWithProgress(SendCommand& command, const DataLines& data,
                         std::optional<StopRequest>& stop) {
    ScaleLink& link = command.link;
    ProgressLine progress(os::StderrIsTerminal(), data.lines.size(), link.targets.size(),
                          RoadName(link));
    SendRun run;
    auto start = std::chrono::steady_clock::now();
    run.started = std::chrono::system_clock::now();
    SendProgress told;
    told.lineAnswered = [&progress](std::size_t, std::size_t) { progress.LineAnswered(); };
    told.scaleDone = [&progress](std::size_t, int32_t code) { progress.ScaleDone(code == 0); };
    if (!link.serial) {
        stop.emplace();
        link.stop = stop->Flag();
    }
    run.outcome = SendLines(link, command.recordType, data.lines, told);
    run.milliseconds = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count());
    progress.End();
    return run;
}

// The upload lines on stdout, what became of every scale on stderr, the upload file, --verify
// and the reports; false when any scale was not served as asked or a file was not written.
// interrupted tells whether Ctrl-C stopped the send or its read-back.
bool ReportSend(const SendCommand& command, const DataLines& data, const SendRun& run,
                const std::optional<StopRequest>& stop, bool& interrupted) {
    const SendOutcome& outcome = run.outcome;
    const std::string& charset = command.charset;
    PrintUploadLines(outcome, charset);
    std::vector<std::string> causes = ScaleCauses(outcome);
    bool ok = ReportScales(outcome, data, causes, run.milliseconds, command.recordType, charset);
    if (!command.uploadFile.empty()) {
        ok = AppendUploadLines(command.uploadFile, outcome, charset) && ok;
    }
    interrupted = stop && stop->Requested();
    std::optional<ReadBackResult> readBack;
    if (command.verify && !interrupted) {
        ok = VerifyServedScales(command.link, outcome, command.recordType, data.lines, charset,
                                readBack) &&
             ok;
        interrupted = stop && stop->Requested();
    }
    SendEnd end{command.recordType, run.milliseconds, interrupted, readBack ? &*readBack : nullptr,
                run.started};
    return WriteReportFiles(kCommand, command.reports, SendReport(outcome, causes, end)) && ok;
}

// The send of data lines, once its options are read; the exit status.
int SendDataLines(SendCommand& command) {
    DataLines data;
    bool nothing = false;
    int status = LoadSendLines(command, data, nothing);
    if (status != kExitOk || nothing) return status;
    std::string error;
    ScaleLink& link = command.link;
    if (link.serial && !os::OpenSerialLine(command.device, command.baud, link.serialLink, error)) {
        std::fprintf(stderr, "vudaduv send: %s\n", error.c_str());
        return kExitFailed;
    }
    std::optional<StopRequest> stop;
    SendRun run = SendWithProgress(command, data, stop);
    if (run.outcome.nothingToSend) {
        // Every line left out by the library: the check said so, and nothing went.
        if (link.serial) os::CloseSerialLine(link.serialLink);
        NoteNothingToSend(kCommand, data);
        return kExitChanged;
    }
    bool interrupted = false;
    bool ok = ReportSend(command, data, run, stop, interrupted);
    if (link.serial) os::CloseSerialLine(link.serialLink);
    if (interrupted) {
        std::fprintf(stderr,
                     "vudaduv send: interrupted: the upload lines above are what had "
                     "arrived\n");
        return stop->ExitStatus();
    }
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

int RunSend(const Arguments& args) {
    SendCommand command;
    int status = kExitOk;
    if (!ParseCommandArgs(
            kCommand, SendHelp(), args,
            {kTypeOption, kEnOption, kCharsetOption, kFileOption, kTargetOption, kTargetsFileOption,
             kSerialOption, kBaudOption, kTimeoutOption, kRetriesOption, kVerifyOption,
             kAcceptOption, kReportOption, kUploadFileOption},
            command.parsed, status)) {
        return status;
    }
    if (!command.parsed.Positionals().empty()) {
        return UsageError(kCommand,
                          "unexpected argument '" + command.parsed.Positionals()[0] + "'");
    }
    if (TakesImage(command.parsed)) return SendImage(command.parsed);
    status = ReadSendValues(command);
    return status == kExitOk ? SendDataLines(command) : status;
}

}  // namespace vudaduv::cli
