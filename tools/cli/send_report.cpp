#include "send_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

namespace vudaduv::cli {

namespace {

constexpr auto kRedrawPause = std::chrono::milliseconds(100);

std::size_t CountServed(const std::vector<std::string>& causes) {
    std::size_t served = 0;
    for (const std::string& cause : causes) served += cause.empty() ? 1 : 0;
    return served;
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

std::string JsonReport(const SendOutcome& outcome, const std::vector<std::string>& causes,
                       uint32_t milliseconds) {
    std::size_t served = CountServed(causes);
    nlohmann::ordered_json scales = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < outcome.scales.size(); ++i) {
        const ScaleResult& scale = outcome.scales[i];
        scales.push_back({{"address", scale.name},
                          {"code", scale.code},
                          {"cause", causes[i]},
                          {"answered", scale.answered},
                          {"connections", scale.connections},
                          {"milliseconds", scale.milliseconds}});
    }
    nlohmann::ordered_json report = {{"commands", outcome.commands.size()},
                                     {"served", served},
                                     {"failed", causes.size() - served},
                                     {"milliseconds", milliseconds},
                                     {"scales", std::move(scales)}};
    // Bytes that are not UTF-8 (an address given in another charset) become U+FFFD.
    return report.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace vudaduv::cli
