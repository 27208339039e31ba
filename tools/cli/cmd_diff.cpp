// vudaduv diff: two images, data files or scales compared record by record, in the form the
// scale stores.
#include <algorithm>
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "fleet_options.h"
#include "targets_file.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

namespace {

const char* const kCommand = "diff";
const std::string kScalePrefix = "scale:";

std::string DiffHelp() {
    return std::string(
        "Usage: vudaduv diff A B [--type N] [--items FIRST-LAST] [--en]\n"
        "                    [--charset CS] [--timeout MS] [--retries N]\n"
        "\n"
        "Compares what A and B hold, record by record, keyed by record type and\n"
        "number. A and B are each a scale image (as pull writes it), a data file of\n"
        "record type N (with --type), or scale:ADDR, read back at once. Data lines are\n"
        "compared as the scale will store them (after the clamps and cuts that check\n"
        "foresees), so a cut text is no difference. One line per difference:\n"
        "  + LINE                     only in B\n"
        "  - LINE                     only in A\n"
        "  ~ KEY: FIELD: OLD -> NEW   in both, a field differs\n"
        "\n"
        "  --type N        files that are not images hold data lines of record type\n"
        "                  N; a scale is read for that type only\n"
        "  --items F-L     the items read of a scale (default 0-4000)\n"
        "  --en            code-page text (three digits a character)\n"
        "  --charset CS    files and output are in CS (default: the locale's)\n"
        "  --timeout MS    reply and connect time-out of a scale (default 3000)\n"
        "  --retries N     retries of a scale after the first try (default 2)\n"
        "  -h, --help      this help\n"
        "\n"
        "A file whose last line has no line end (it may have been cut while it was\n"
        "written) is compared without that line, which is named on stderr.\n"
        "\n"
        "Exit status: 0 A and B agree, 1 they differ, 2 bad arguments, 3 a file or a\n"
        "scale could not be read, 4 a file's last line has no line end.\n");
}

struct Side {
    uint32_t recordType = 0;  // 0: an image
    bool en = false;
    std::string charset;
    Fleet fleet;                 // its settings, for a scale
    fleet::PullRequest request;  // what is read of a scale
};

// A file of upload lines alone is an image, --type or not.
bool IsImage(const DataLines& data) {
    fleet::RecordKey key;
    return !data.lines.empty() &&
           std::all_of(data.lines.begin(), data.lines.end(), [&key](const std::string& line) {
               return fleet::KeyOfUploadLine(line, key);
           });
}

// What one operand holds, in the form the scale stores; kExitOk or the exit status.
// A file whose last line has no line end sets cut.
int LoadSide(const std::string& operand, const Side& side, fleet::Image& image, bool& cut) {
    if (operand.compare(0, kScalePrefix.size(), kScalePrefix) == 0) {
        std::string address = operand.substr(kScalePrefix.size());
        fleet::PullRequest request = side.request;
        if (side.recordType != 0) request.types = {side.recordType};
        std::vector<fleet::ScaleImage> read =
            fleet::Pull({address}, fleet::SlotsOf(request), side.en, side.fleet.settings);
        if (!read[0].failure.empty()) {
            std::fprintf(stderr, "vudaduv diff: %s: not read: %s\n", address.c_str(),
                         ShowText(side.charset, read[0].failure).c_str());
            return kExitUnreadable;
        }
        for (const std::string& broken : read[0].broken) {
            std::fprintf(stderr, "vudaduv diff: %s: %s\n", address.c_str(),
                         ShowText(side.charset, broken).c_str());
        }
        if (read[0].code != WQDS_OK) {
            std::fprintf(stderr, "vudaduv diff: %s: not read: %s\n", address.c_str(),
                         transport::TransportFailure(read[0].code, read[0].answered, read[0].reads,
                                                     0, read[0].cause)
                             .c_str());
            return kExitUnreadable;
        }
        image = read[0].image;
        return kExitOk;
    }
    std::string bytes;
    std::string error;
    if (!ReadImageBytes(operand, bytes, error))
        return UnreadableFile(kCommand, operand + ": " + error);
    DataLines data = SplitDataLines(operand, bytes);
    if (data.lastLineCut) {
        // Compared without it: what it says may be cut short.
        std::fprintf(stderr, "vudaduv diff: %s: %s (left out)\n",
                     LinePlace(data, data.lines.size() - 1).c_str(),
                     model::CutLastLineFinding().what.c_str());
        data = SendableLinesOnly(data);
        cut = true;
    }
    if (!LinesToGbk(side.charset, data)) return UsageError(kCommand, FirstUnconvertible(data));
    if (side.recordType == 0 || IsImage(data)) {
        if (!fleet::ReadImage(operand, data.lines, data.numbers, image, error)) {
            return UsageError(kCommand, error);
        }
        image = fleet::ImageOf(fleet::WantedOfImage(image, side.en));
        return kExitOk;
    }
    image = fleet::ImageOf(fleet::WantedOfDataLines(side.recordType, side.en, data.lines));
    return kExitOk;
}

}  // namespace

int RunDiff(const Arguments& args) {
    ParsedArgs parsed;
    int status = kExitOk;
    if (!ParseCommandArgs(kCommand, DiffHelp(), args,
                          {kTypeOption, kEnOption, kCharsetOption, kTimeoutOption, kRetriesOption,
                           kFleetItemsOption},
                          parsed, status)) {
        return status;
    }
    if (parsed.Positionals().size() != 2) {
        return UsageError(kCommand, "two things to compare are needed: A and B");
    }
    Side side;
    std::string error;
    side.en = parsed.Has(kEnOption.name);
    if ((parsed.Has(kTypeOption.name) && !ReadRecordType(parsed, side.recordType, error)) ||
        !ReadCharset(parsed, side.charset, error) ||
        !ReadTransportSettings(parsed, side.fleet.settings, error) ||
        !ReadFleetItems(parsed, side.request, error)) {
        return UsageError(kCommand, error);
    }
    if (parsed.Has(kTypeOption.name) && !RecordTypeOf(side.recordType).uploadPrefix[0]) {
        return UsageError(kCommand, "--type wants a stored record type (" +
                                        RecordTypesWithRole(RecordRole::kStores) + ")");
    }
    // Both scales' addresses are read before either scale is.
    for (const std::string& operand : parsed.Positionals()) {
        transport::TargetAddress address;
        if (operand.compare(0, kScalePrefix.size(), kScalePrefix) == 0 &&
            !ParseScaleAddress(operand.substr(kScalePrefix.size()), address, error)) {
            return UsageError(kCommand, error);
        }
    }
    fleet::Image a;
    fleet::Image b;
    bool cut = false;
    status = LoadSide(parsed.Positionals()[0], side, a, cut);
    if (status == kExitOk) status = LoadSide(parsed.Positionals()[1], side, b, cut);
    if (status != kExitOk) return status;
    std::vector<fleet::DiffRow> rows = fleet::DiffImages(a, b);
    for (const fleet::DiffRow& row : rows) {
        for (const std::string& line : fleet::DiffRowLines(row)) {
            std::printf("%s\n", ShowText(side.charset, line).c_str());
        }
    }
    if (cut) return kExitChanged;
    return rows.empty() ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
