// vudaduv demo: every record type downloaded to a virtual scale and read back, end to end
// through the library's exports, in a directory of its own.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "common_options.h"
#include "lines.h"
#include "os.h"
#include "verify.h"
#include "virtual_scale.h"
#include "vudaduv.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"
#include "wqdatasend.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "demo";
const char* const kShownCharset = "UTF-8";
constexpr std::size_t kShownLineBytes = 72;

constexpr OptionSpec kKeepOption{"keep", false, false};

const char* const kDemoHelp =
    "Usage: vudaduv demo [--keep]\n"
    "\n"
    "Starts a virtual scale on a free loopback port and, in a fresh temporary\n"
    "directory (your own \"Rec.txt\" is never touched), downloads a sample of every\n"
    "record type the way the library's exports do: item records with Chinese and\n"
    "English texts, text messages of both kinds in both text modes, free data, the\n"
    "clock, label texts and a key table. Then it reads everything back and checks\n"
    "that every upload line equals the data line sent. Texts are shown in UTF-8.\n"
    "Exit status 0 when everything came back as sent.\n"
    "\n"
    "  --keep      keep the temporary directory and its \"Rec.txt\" of upload lines\n"
    "  -h, --help  this help\n";

enum class Way { kPlain, kSettings, kSerial };

struct DemoStep {
    const char* title;
    uint32_t recordType;
    bool en;
    Way way;
    std::vector<std::string> lines;  // GBK bytes
};

// 142 keys of four digits: the 568 bytes of a key table.
std::string SampleKeyTable() {
    std::string table;
    for (int key = 1; key <= 142; ++key) {
        std::string digits = std::to_string(key);
        table += std::string(4 - digits.size(), '0') + digits;
    }
    return table;
}

// The texts are GBK bytes; the literals are split where a hex escape would run on.
std::vector<DemoStep> DemoSteps() {
    return {
        {"Item records, zone-position text (Chinese and English)",
         1,
         false,
         Way::kPlain,
         {"12A0100000599##\xC6\xBB\xB9\xFB##Apple##\xBA\xEC\xB8\xBB\xCA\xBF",
          "13A0100000350##\xCF\xE3\xBD\xB6##Banana",
          "2000A0200001280##\xCF\xCA\xC5\xA3\xC4\xCC##Fresh milk##1L"}},
        {"Item records, code-page text (English, degree and yuan signs)",
         1,
         true,
         Way::kPlain,
         {"14A0100000499##Apple pie##Keep at 4\xA1\xE3"
          "C##\xA3\xA4"
          "4.99",
          "15A0300000200##Orange juice##Best in 3 days"}},
        {"Text messages, record type 3 (numbers above 10 use code-page text)",
         3,
         false,
         Way::kSettings,
         {"01A\xBB\xB6\xD3\xAD\xB9\xE2\xC1\xD9", "11AThank you!"}},
        {"Text messages, record type 3, code-page text",
         3,
         true,
         Way::kSettings,
         {"02AFresh every day!"}},
        {"Text messages, record type 5 (numbers above 16 use code-page text)",
         5,
         false,
         Way::kSettings,
         {"03A\xBD\xF1\xC8\xD5\xCC\xD8\xBC\xDB", "17ASee you soon"}},
        {"Text messages, record type 5, code-page text",
         5,
         true,
         Way::kSettings,
         {"04ABest before: see label"}},
        {"Free data", 7, false, Way::kPlain, {"PLU-sync:2026-batch-7"}},
        {"The clock (this computer's local time)", 9, false, Way::kPlain, {}},
        {"Label texts (bytes as they are)",
         10,
         false,
         Way::kPlain,
         {"01A\xCF\xCA\xB9\xFB\xB5\xEA"
          "B\xD0\xBB\xD0\xBB\xBB\xDD\xB9\xCB",
          "02AFreshMartBOpen7-22"}},
        {"Key table (568 bytes: 142 keys of four digits)",
         12,
         false,
         Way::kPlain,
         {SampleKeyTable()}},
        {"Item record over a serial line (a pseudo-terminal)",
         1,
         false,
         Way::kSerial,
         {"21A0100000100##\xC0\xE6##Pear"}},
    };
}

std::string Shown(const std::string& gbk) {
    std::string text = ShowText(kShownCharset, gbk);
    if (text.size() <= kShownLineBytes) return text;
    return text.substr(0, kShownLineBytes) + "... (" + std::to_string(gbk.size()) + " bytes)";
}

struct Tally {
    std::size_t records = 0;
    std::size_t same = 0;
    std::size_t failedSends = 0;
};

// How the demo reaches a scale: the network exports with or without settings of their own, or
// the serial exports over an open line.
struct DemoLink {
    std::string address;
    bool en = false;
    bool settings = false;
    bool serial = false;
    uint32_t line = 0;
};

// The export that a send over link calls, e.g. "WQTCPSendEn".
std::string ExportName(const DemoLink& link) {
    std::string name = link.serial ? "WQCOMMSend" : link.settings ? "WQTCPSendST" : "WQTCPSend";
    return link.en ? name + "En" : name;
}

// The lines of "Rec.txt" in the demo's directory; none while it does not exist.
std::vector<std::string> UploadFileLines() {
    std::string bytes;
    std::string error;
    return os::ReadAllBytes(kUploadFileName, bytes, error) ? SplitLines(bytes)
                                                           : std::vector<std::string>();
}

// One call of the export that ExportName names, then the upload lines it added to "Rec.txt":
// the rewrite keeps the earlier upload lines as they were, so the new ones follow them.
int32_t CallExport(const DemoLink& link, uint32_t recordType, const std::vector<std::string>& lines,
                   std::vector<std::string>& uploadLines) {
    std::vector<std::string> toSend;
    for (const std::string& line : lines) toSend.push_back(LineToSend(recordType, line));
    std::vector<const char*> pointers;
    for (const std::string& line : toSend) pointers.push_back(line.c_str());
    WQStringList list{pointers.empty() ? nullptr : pointers.data(),
                      static_cast<uint32_t>(pointers.size())};
    const char* address = link.address.c_str();
    WQStringList targets{&address, 1};
    std::vector<uint32_t> values(WQDS_VALUE_RETRIES + 1, 0);
    values[WQDS_VALUE_REPLY_TIMEOUT] = 2000;
    values[WQDS_VALUE_CONNECT_TIMEOUT] = 2000;
    values[WQDS_VALUE_RETRIES] = 1;
    std::size_t before = UploadFileLines().size();
    int32_t result = WQ_OK;
    if (link.serial) {
        WQCOMM request{link.line, list, recordType};
        result = link.en ? WQCOMMSendEn(&request) : WQCOMMSend(&request);
    } else if (link.settings) {
        WQST request{targets, list,
                     WQValueList{values.data(), static_cast<uint32_t>(values.size())}, recordType};
        result = link.en ? WQTCPSendSTEn(&request) : WQTCPSendST(&request);
    } else {
        WQTCP request{targets, list, recordType};
        result = link.en ? WQTCPSendEn(&request) : WQTCPSend(&request);
    }
    std::vector<std::string> after = UploadFileLines();
    uploadLines.assign(after.begin() + static_cast<std::ptrdiff_t>(std::min(before, after.size())),
                       after.end());
    return result;
}

// What an export's result says.
std::string ResultWords(int32_t result) {
    switch (result) {
        case WQ_OK:
            return "sent";
        case WQ_NOTHING_TO_SEND:
            return "nothing to send";
        default:
            return "the transport failed (" + std::to_string(result) + ")";
    }
}

bool ReportResult(const char* what, bool ok, const std::string& words, Tally& tally) {
    std::printf("   %s: %s\n", what, words.c_str());
    if (ok) return true;
    ++tally.failedSends;
    return false;
}

void ReadBackAndCheck(const DemoStep& step, const DemoLink& link, Tally& tally) {
    ReadBackPlan plan = PlanReadBack(step.recordType, step.lines, link.en);
    std::vector<std::string> uploadLines;
    int32_t result = CallExport(link, plan.readType, plan.readLines, uploadLines);
    std::string what = "read back (record type " + std::to_string(plan.readType) + ")";
    if (!ReportResult(what.c_str(), result == WQ_OK, ResultWords(result), tally)) return;
    for (const std::string& line : uploadLines) {
        std::printf("   \xE2\x86\x90 %s\n", Shown(line).c_str());
    }
    ReadBackReport report = CompareReadBack(step.recordType, plan, uploadLines);
    tally.records += plan.records.size();
    tally.same += plan.records.size() - report.differences.size();
    for (const Difference& difference : report.differences) {
        PrintDifference(stdout, "   \xE2\x9C\x97 ", "       ", step.recordType, difference,
                        kShownCharset);
    }
    if (report.differences.empty()) {
        std::printf("   \xE2\x9C\x93 %zu of %zu upload line(s) equal the data lines sent\n",
                    plan.records.size(), plan.records.size());
    }
}

void RunStep(std::size_t number, const DemoStep& step, const DemoLink& link, Tally& tally) {
    std::printf("\n%2zu. %s\n   record type %u through %s\n", number, step.title, step.recordType,
                ExportName(link).c_str());
    for (const std::string& line : step.lines) {
        std::printf("   \xE2\x86\x92 %s\n", Shown(line).c_str());
    }
    if (step.recordType == 9) {
        std::vector<std::string> commands = BuildCommandList(9, {}, false);
        std::string command = commands.empty() ? "" : commands[0];
        std::printf("   \xE2\x86\x92 %s  (the scale keeps no clock to read back)\n",
                    command.substr(0, command.find('\r')).c_str());
    }
    std::vector<std::string> acknowledgements;
    int32_t result = CallExport(link, step.recordType, step.lines, acknowledgements);
    if (!ReportResult("download", result == WQ_OK, ResultWords(result), tally) ||
        !StoresRecord(step.recordType)) {
        return;
    }
    ReadBackAndCheck(step, link, tally);
}

// The two scales of the demo, each set up for one text mode, as the plain and the En exports
// talk to them.
struct DemoScales {
    scale::ScaleMemory plain{scale::TextMode::kZonePosition};
    scale::ScaleMemory codePage{scale::TextMode::kCodePage};
    scale::TcpScaleServer plainServer{plain, scale::ServerOptions{}};
    scale::TcpScaleServer codePageServer{codePage, scale::ServerOptions{}};

    bool Start(std::string& error) {
        return plainServer.Start(error) && codePageServer.Start(error);
    }
    std::string Address(bool en) const {
        return "127.0.0.1:" + std::to_string(en ? codePageServer.Port() : plainServer.Port());
    }
    scale::ScaleMemory& Memory(bool en) { return en ? codePage : plain; }
};

// Runs the steps that reach the scales over TCP, then the serial one if a pseudo-terminal opens.
void RunSteps(DemoScales& scales, Tally& tally) {
    std::size_t number = 0;
    for (const DemoStep& step : DemoSteps()) {
        DemoLink link;
        link.en = step.en;
        link.address = scales.Address(step.en);
        link.settings = step.way == Way::kSettings;
        if (step.way != Way::kSerial) {
            RunStep(++number, step, link, tally);
            continue;
        }
        scale::PtyScaleServer pty(scales.Memory(step.en));
        std::string error;
        if (!pty.Start(error) || !os::OpenSerialLine(pty.DevicePath(), 9600, link.line, error)) {
            std::printf("\n%2zu. %s\n   skipped: %s\n", ++number, step.title, error.c_str());
            continue;
        }
        link.serial = true;
        RunStep(++number, step, link, tally);
        os::CloseSerialLine(link.line);
        pty.Stop();
    }
}

}  // namespace

int RunDemo(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, kDemoHelp, args, {kKeepOption}, parsed, status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    std::string home = os::CurrentDirectory();
    std::string directory;
    std::string error;
    if (!os::MakeTempDirectory("vudaduv-demo", directory, error) ||
        !os::ChangeDirectory(directory)) {
        std::fprintf(stderr, "vudaduv demo: %s\n",
                     error.empty() ? ("cannot enter " + directory).c_str() : error.c_str());
        return kExitFailed;
    }
    DemoScales scales;
    if (!scales.Start(error)) {
        std::fprintf(stderr, "vudaduv demo: cannot start the virtual scale: %s\n", error.c_str());
        os::ChangeDirectory(home);
        os::RemoveFileAndDirectory(directory, kUploadFileName);
        return kExitFailed;
    }
    std::printf("vudaduv demo\n");
    std::printf("   virtual scales: %s (zone-position text), %s (code-page text)\n",
                scales.Address(false).c_str(), scales.Address(true).c_str());
    std::printf("   working in:    %s (its own \"Rec.txt\"; yours is not touched)\n",
                directory.c_str());
    std::printf("   \xE2\x86\x92 data line sent   \xE2\x86\x90 upload line read back\n");

    Tally tally;
    RunSteps(scales, tally);
    scales.plainServer.Stop();
    scales.codePageServer.Stop();
    os::ChangeDirectory(home);

    bool allSame = tally.failedSends == 0 && tally.same == tally.records;
    std::printf("\n%s %zu of %zu records came back as sent",
                allSame ? "\xE2\x9C\x93" : "\xE2\x9C\x97", tally.same, tally.records);
    if (tally.failedSends > 0) std::printf("; %zu send(s) failed", tally.failedSends);
    std::printf(".\n");
    if (parsed.Has(kKeepOption.name)) {
        std::printf("The upload file is kept in %s/%s\n", directory.c_str(), kUploadFileName);
    } else {
        os::RemoveFileAndDirectory(directory, kUploadFileName);
    }
    return allSame ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
