#include "image_commands.h"

#include <cstdio>
#include <set>

#include "check_report.h"
#include "common_options.h"
#include "fleet_options.h"
#include "scale_link.h"
#include "vudaduv_codec.h"

namespace vudaduv::cli {

namespace {

// The check of every line as its record type; the number of lines it finds changed.
std::size_t CheckLines(const ImageLines& image, bool en, const std::string& charset,
                       std::FILE* out) {
    std::size_t changed = 0;
    if (!image.cut.empty()) {
        std::fprintf(out, "%s\n", image.cut.c_str());
        ++changed;
    }
    for (uint32_t type : std::set<uint32_t>(image.types.begin(), image.types.end())) {
        CheckReport report = CheckAllLines(type, en, LinesOfType(image, type), charset);
        for (const std::string& line : report.lines) std::fprintf(out, "%s\n", line.c_str());
        changed += report.changedLines;
    }
    return changed;
}

// The image file's lines, its cut last line too.
std::size_t LineCount(const ImageLines& image) {
    return image.types.size() + (image.cut.empty() ? 0 : 1);
}

int LoadImage(const std::string& command, const ParsedArgs& parsed, std::string& charset,
              ImageLines& image) {
    std::string error;
    if (!ReadCharset(parsed, charset, error)) return UsageError(command, error);
    return LoadImageFile(command, parsed.Value(kFileOption.name), charset, image);
}

}  // namespace

bool TakesImage(const ParsedArgs& parsed) {
    return !parsed.Has(kTypeOption.name) && parsed.Has(kFileOption.name);
}

int CheckImage(const ParsedArgs& parsed) {
    ImageLines image;
    std::string charset;
    int status = LoadImage("check", parsed, charset, image);
    if (status != kExitOk) return status;
    std::size_t changed = CheckLines(image, parsed.Has(kEnOption.name), charset, stdout);
    if (changed == 0) return kExitOk;
    std::fprintf(stderr, "vudaduv check: %zu of %zu line(s) would not arrive as written\n", changed,
                 LineCount(image));
    return kExitChanged;
}

int SendImage(const ParsedArgs& parsed) {
    const char* const command = "send";
    for (const char* other : {"serial", "verify", "report", "upload-file"}) {
        if (parsed.Has(other)) {
            return UsageError(command, std::string("--") + other +
                                           " does not go with an image (--file without --type)");
        }
    }
    ImageLines image;
    std::string charset;
    bool en = parsed.Has(kEnOption.name);
    int status = LoadImage(command, parsed, charset, image);
    Fleet fleet;
    if (status == kExitOk) status = LoadFleet(command, parsed, fleet);
    if (status != kExitOk) return status;
    std::size_t changed = CheckLines(image, en, charset, stderr);
    if (changed != 0) {
        bool accept = parsed.Has("accept-changes");
        std::fprintf(stderr, "vudaduv send: %zu of %zu line(s) would not arrive as written: %s\n",
                     changed, LineCount(image),
                     accept ? "sending them all the same (--accept-changes)"
                            : "nothing sent (--accept-changes sends anyway)");
        if (!accept) return kExitChanged;
    }
    std::vector<std::string> commands = fleet::RestoreCommands(image.types, image.data.lines, en);
    ScaleLink link;
    link.en = en;
    link.settings = fleet.settings;
    CountLine progress(command, "command(s)", fleet.addresses.size(),
                       commands.size() * fleet.addresses.size());
    SendProgress told;
    told.lineAnswered = [&progress](std::size_t, std::size_t) { progress.Answered(); };
    told.scaleDone = [&progress](std::size_t, int32_t) { progress.ScaleDone(); };
    std::vector<ScaleResult> scales = SendCommands(link, fleet.addresses, commands, told);
    progress.End();
    std::size_t failed = 0;
    for (const ScaleResult& scale : scales) {
        std::string cause = ScaleFailureCause(scale, commands.size());
        if (cause.empty()) continue;
        ++failed;
        std::fprintf(stderr, "vudaduv send: %s: %s\n", scale.name.c_str(), cause.c_str());
    }
    std::fprintf(stderr, "vudaduv send: %zu record(s) to %zu scale(s): served %zu, failed %zu\n",
                 image.types.size(), scales.size(), scales.size() - failed, failed);
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace vudaduv::cli
