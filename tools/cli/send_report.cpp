#include "send_report.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "os.h"
#include "vudaduv_model.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

namespace {

constexpr auto kRedrawPause = std::chrono::milliseconds(100);

std::size_t CountServed(const std::vector<std::string>& causes) {
    std::size_t served = 0;
    for (const std::string& cause : causes) served += cause.empty() ? 1 : 0;
    return served;
}

// A scale's read-back of --verify, found by its address; nullptr when it was not read back.
const ScaleReadBack* ReadBackOf(const ReadBackResult* readBack, const std::string& name) {
    if (!readBack) return nullptr;
    for (const ScaleReadBack& scale : readBack->scales) {
        if (scale.name == name) return &scale;
    }
    return nullptr;
}

// The records that came back otherwise than the check foresaw (a record counted once however
// many of its fields differ).
std::size_t UnforeseenRecords(const ScaleReadBack& scale) {
    std::set<std::string> keys;
    for (const Difference& difference : scale.report.differences) {
        if (!difference.foreseen) keys.insert(difference.key);
    }
    return keys.size();
}

std::size_t RecordsAsForeseen(const ScaleReadBack& scale, const ReadBackResult& readBack) {
    if (!scale.failure.empty()) return 0;
    return readBack.plan.records.size() - UnforeseenRecords(scale);
}

// Why a served scale's read-back failed it; "" when it came back as foreseen or was not read.
std::string ReadBackFailure(const ScaleReadBack* scale) {
    if (!scale) return "";
    if (!scale->failure.empty()) return "reading back failed: " + scale->failure;
    std::size_t differing = UnforeseenRecords(*scale);
    if (differing == 0) return "";
    return std::to_string(differing) + " record(s) came back different (--verify)";
}

// Without --verify, the scale's answer to a command line is its confirmation; an error reply
// or a line that is no scale's confirms nothing.
std::size_t ScaleAnswers(const ScaleResult& scale, std::size_t commands) {
    std::size_t answers = 0;
    for (std::size_t i = 0; i < scale.replies.size() && i < commands; ++i) {
        answers += IsScaleAnswer(scale.replies[i]) ? 1 : 0;
    }
    return answers;
}

// A scale that Ctrl-C cut short, before every line was answered, was interrupted, not failed.
const char* StatusOf(const std::string& failure, bool cutShort) {
    if (failure.empty()) return "synced";
    return cutShort ? "interrupted" : "failed";
}

}  // namespace

void RedrawnLine::Draw(std::string text, bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!shown_ || (!force && now - drawn_ < kRedrawPause)) return;
    drawn_ = now;
    std::size_t width = text.size();
    if (width < width_) text.append(width_ - width, ' ');  // over the longer line
    width_ = width;
    std::fprintf(stderr, "\r%s", text.c_str());
    std::fflush(stderr);
}

void RedrawnLine::End(bool keep) {
    if (!shown_) return;
    shown_ = false;
    if (keep) {
        std::fputs("\n", stderr);
    } else if (width_ > 0) {
        std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
    }
}

ProgressLine::ProgressLine(bool shown, std::size_t lines, std::size_t scales, std::string roadName)
    : line_(shown), lines_(lines), scales_(scales), roadName_(std::move(roadName)) {
    Draw(true);
}

void ProgressLine::ScaleDone(bool served) {
    ++(served ? served_ : failed_);
    Draw(served_ + failed_ == scales_);
}

void ProgressLine::LineAnswered() {
    ++answered_;
    Draw(false);
}

void ProgressLine::End() {
    line_.End(true);
}

void ProgressLine::Draw(bool force) {
    // Short enough for a terminal of 80 columns, where a line that wraps cannot be redrawn.
    std::string lines = std::to_string(lines_) + " data line(s)";
    line_.Draw(scales_ == 0 ? "vudaduv send: " + lines + " over " + roadName_ + ": " +
                                  std::to_string(answered_) + " command(s) answered"
                            : "vudaduv send: " + lines + " to " + std::to_string(scales_) +
                                  " scale(s): " + std::to_string(served_) + " served, " +
                                  std::to_string(failed_) + " failed, " +
                                  std::to_string(scales_ - served_ - failed_) + " left, " +
                                  std::to_string(answered_) + " answer(s)",
               force);
}

std::vector<std::string> ScaleCauses(const SendOutcome& outcome) {
    std::vector<std::string> causes;
    for (const ScaleResult& scale : outcome.scales) {
        causes.push_back(scale.name.empty() ? FailureCause(scale, outcome.commands.size())
                                            : ScaleFailureCause(scale, outcome.commands.size()));
    }
    return causes;
}

std::string SendSummary(const std::vector<std::string>& causes, uint32_t milliseconds) {
    std::size_t served = CountServed(causes);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", milliseconds / 1000.0);
    return "served " + std::to_string(served) + ", failed " +
           std::to_string(causes.size() - served) + ", in " + seconds + " s";
}

ReportJson SendReport(const SendOutcome& outcome, const std::vector<std::string>& causes,
                      const SendEnd& end) {
    ReportJson scales = ReportJson::array();
    std::size_t notOk = 0;
    std::size_t interrupted = 0;
    for (std::size_t i = 0; i < outcome.scales.size(); ++i) {
        const ScaleResult& scale = outcome.scales[i];
        const ScaleReadBack* readBack = ReadBackOf(end.readBack, scale.name);
        std::string failure = causes[i].empty() ? ReadBackFailure(readBack) : causes[i];
        std::size_t written = std::min<std::size_t>(scale.answered, outcome.commands.size());
        const char* status =
            StatusOf(failure, end.interrupted && written < outcome.commands.size());
        std::size_t confirmed = readBack ? RecordsAsForeseen(*readBack, *end.readBack)
                                         : ScaleAnswers(scale, outcome.commands.size());
        notOk += failure.empty() ? 0 : 1;
        interrupted += std::string(status) == "interrupted" ? 1 : 0;
        scales.push_back({{"address", scale.name},
                          {"status", status},
                          {"ok", failure.empty()},
                          {"failure", failure},
                          {"transport_code", scale.code},
                          {"transport_code_name", transport::TransportCodeName(scale.code)},
                          {"planned", outcome.commands.size()},
                          {"written", written},
                          {"confirmed", confirmed},
                          {"pending", outcome.commands.size() - written},
                          {"verified", readBack != nullptr && readBack->failure.empty()},
                          {"differing", readBack ? UnforeseenRecords(*readBack) : 0},
                          {"seconds", scale.milliseconds / 1000.0},
                          // The fields of the first report, for the readers written against it.
                          {"code", scale.code},
                          {"cause", causes[i]},
                          {"answered", scale.answered},
                          {"connections", scale.connections},
                          {"milliseconds", scale.milliseconds}});
    }
    std::size_t served = CountServed(causes);
    return {{"schema", kReportSchema},
            {"command", "send"},
            {"started", IsoTime(end.started)},
            {"finished", IsoTime(std::chrono::system_clock::now())},
            {"version", VUDADUV_VERSION},
            {"host", os::HostName()},
            {"record_type", end.recordType},
            {"verify", end.readBack != nullptr},
            {"ok", notOk == 0},
            {"interrupted", end.interrupted},
            {"scales", std::move(scales)},
            {"served", served},
            {"failed", causes.size() - served},
            {"interrupted_scales", interrupted},
            {"commands", outcome.commands.size()},
            {"milliseconds", end.milliseconds},
            {"seconds", end.milliseconds / 1000.0}};
}

}  // namespace vudaduv::cli
