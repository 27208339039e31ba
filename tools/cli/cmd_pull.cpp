// vudaduv pull: every slot of the asked record types from every scale at once, into one scale
// image a scale.
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "common_options.h"
#include "fleet_options.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "pull";

constexpr OptionSpec kOutOption{"out", true, false};
constexpr OptionSpec kTypesOption{"types", true, false};

std::string PullHelp() {
    return std::string(
               "Usage: vudaduv pull (--target ADDR... | --targets-file F) --out DIR\n"
               "                    [--types 1,3,5,7,10,12] [--items FIRST-LAST] [--en]\n"
               "                    [--charset CS] [--timeout MS] [--retries N]\n"
               "\n"
               "Reads every slot of the record types from every scale at once and writes\n"
               "what each holds as a scale image, DIR/HOST_PORT.txt (host in lower case,\n"
               "every character but letters, digits, '.' and '-' as '_': 127.0.0.1_4001.txt,\n"
               "__1_4001.txt for [::1]:4001). The images of the scales read are written\n"
               "together, all or nothing. A record that cannot come back intact (blanks in\n"
               "type 7 data, a text holding a line break, ...) is named on stderr. A scale\n"
               "that answers a read with an error or with no scale's reply is not read, and\n"
               "no image of it is written.\n"
               "\n"
               "  --out DIR           where the images go (made when missing)\n"
               "  --types LIST        the stored record types to read (default all six)\n"
               "  --items FIRST-LAST  the items to read (default 0-" +
               std::to_string(kItemMaximum) +
               ")\n"
               "  --en                code-page text (three digits a character)\n"
               "  --charset CS        the images are written in CS (default: the locale's)\n") +
           kFleetOptionsHelp +
           "  -h, --help          this help\n"
           "\n"
           "Exit status: 0 every scale read whole, 1 a scale failed or a record did not\n"
           "come back intact or the images could not be written, 2 bad arguments,\n"
           "3 a file could not be read.\n";
}

bool ReadTypes(const ParsedArgs& parsed, fleet::PullRequest& request, std::string& error) {
    if (!parsed.Has(kTypesOption.name)) return true;
    request.types.clear();
    std::string text = parsed.Value(kTypesOption.name) + ",";
    for (std::size_t start = 0, comma; (comma = text.find(',', start)) != std::string::npos;
         start = comma + 1) {
        uint64_t type = 0;
        if (!ParseUnsigned(text.substr(start, comma - start), 13, type) ||
            RecordTypeOf(static_cast<uint32_t>(type)).role != RecordRole::kStores) {
            error = "--types wants stored record types (" +
                    RecordTypesWithRole(RecordRole::kStores) + "), separated by commas";
            return false;
        }
        request.types.push_back(static_cast<uint32_t>(type));
    }
    return true;
}

}  // namespace

int RunPull(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, PullHelp(), args,
                          {kTargetOption, kTargetsFileOption, kTimeoutOption, kRetriesOption,
                           kOutOption, kTypesOption, kFleetItemsOption, kEnOption, kCharsetOption},
                          parsed, status)) {
        return status;
    }
    if (!parsed.Positionals().empty()) {
        return UsageError(kCommand, "unexpected argument '" + parsed.Positionals()[0] + "'");
    }
    std::string error;
    fleet::PullRequest request;
    std::string charset;
    std::string out = parsed.Value(kOutOption.name);
    if (out.empty()) return UsageError(kCommand, "--out DIR is required");
    if (!ReadTypes(parsed, request, error) || !ReadFleetItems(parsed, request, error) ||
        !ReadCharset(parsed, charset, error)) {
        return UsageError(kCommand, error);
    }
    Fleet fleet;
    status = LoadFleet(kCommand, parsed, fleet);
    if (status != kExitOk) return status;

    std::vector<fleet::RecordKey> slots = fleet::SlotsOf(request);
    std::size_t reads = 0;  // a label takes two reads, the key table four: one a command letter
    for (const fleet::RecordKey& slot : slots) {
        reads += std::string(RecordTypeOf(RecordTypeOf(slot.type).partner).commands).size();
    }
    CountLine progress(kCommand, "read(s)", fleet.addresses.size(), reads * fleet.addresses.size());
    transport::SendObserver observer;
    observer.lineAnswered = [&progress](std::size_t, std::size_t) { progress.Answered(); };
    observer.scaleDone = [&progress](std::size_t, const transport::ScaleResult&) {
        progress.ScaleDone();
    };
    auto start = std::chrono::steady_clock::now();
    std::vector<fleet::ScaleImage> images =
        fleet::Pull(fleet.addresses, slots, parsed.Has(kEnOption.name), fleet.settings, observer);
    progress.End();

    bool ok = true;
    std::size_t read = 0;
    std::vector<std::pair<std::string, std::string>> files;
    for (const fleet::ScaleImage& scale : images) {
        for (const std::string& broken : scale.broken) {
            std::fprintf(stderr, "vudaduv pull: %s: %s\n", scale.address.c_str(),
                         ShowText(charset, broken).c_str());
            ok = false;
        }
        if (!scale.failure.empty()) {
            std::fprintf(stderr, "vudaduv pull: %s: not read: %s\n", scale.address.c_str(),
                         ShowText(charset, scale.failure).c_str());
            ok = false;
            continue;
        }
        if (scale.code != WQDS_OK) {
            std::fprintf(
                stderr, "vudaduv pull: %s: not read: %s\n", scale.address.c_str(),
                transport::TransportFailure(scale.code, scale.answered, scale.reads, 0, scale.cause)
                    .c_str());
            ok = false;
            continue;
        }
        ++read;
        files.push_back({fleet::ImageFileName(scale.address, fleet.settings.defaultPort),
                         ShowImage(scale.image, charset)});
    }
    std::error_code code;
    std::filesystem::create_directories(out, code);
    if (code) error = out + ": " + code.message();
    if (!code && !files.empty()) fleet::WriteFilesAllOrNothing(out, files, error);
    if (!error.empty()) {
        std::fprintf(stderr, "vudaduv pull: no image written: %s\n", error.c_str());
        ok = false;
    }
    std::fprintf(stderr, "vudaduv pull: read %zu of %zu scale(s) into %s, in %.1f s\n", read,
                 images.size(), out.c_str(), MillisecondsSince(start) / 1000.0);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
