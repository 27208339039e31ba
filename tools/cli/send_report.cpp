#include "send_report.h"

#include <cstdio>
#include <utility>

namespace vudaduv::cli {

namespace {

constexpr auto kRedrawPause = std::chrono::milliseconds(100);

std::size_t CountServed(const std::vector<std::string>& causes) {
    std::size_t served = 0;
    for (const std::string& cause : causes) served += cause.empty() ? 1 : 0;
    return served;
}

// The length of the well-formed UTF-8 sequence at text[at], or 0 when there is none.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
    auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    unsigned lead = byte(0);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4) return 0;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

ProgressLine::ProgressLine(bool shown, std::size_t lines, std::size_t scales,
                           std::string exportName)
    : shown_(shown), lines_(lines), scales_(scales), exportName_(std::move(exportName)) {
    Draw();
}

void ProgressLine::ScaleDone(bool served) {
    ++(served ? served_ : failed_);
    bool last = served_ + failed_ == scales_;
    if (last || std::chrono::steady_clock::now() - drawn_ >= kRedrawPause) Draw();
}

void ProgressLine::LineAnswered() {
    ++answered_;
    if (std::chrono::steady_clock::now() - drawn_ >= kRedrawPause) Draw();
}

void ProgressLine::End() {
    if (!shown_) return;
    std::fputs("\n", stderr);
    shown_ = false;
}

void ProgressLine::Draw() {
    if (!shown_) return;
    // Short enough for a terminal of 80 columns, where a line that wraps cannot be redrawn.
    std::string lines = std::to_string(lines_) + " data line(s)";
    std::string text =
        scales_ == 0
            ? "vudaduv send: " + lines + " over " + exportName_ + ": " +
                  std::to_string(answered_) + " command(s) answered"
            : "vudaduv send: " + lines + " to " + std::to_string(scales_) + " scale(s): " +
                  std::to_string(served_) + " served, " + std::to_string(failed_) + " failed, " +
                  std::to_string(scales_ - served_ - failed_) + " left, " +
                  std::to_string(answered_) + " answer(s)";
    std::size_t width = text.size();
    if (width < drawnWidth_) text.append(drawnWidth_ - width, ' ');  // over the longer line
    drawnWidth_ = width;
    std::fprintf(stderr, "\r%s", text.c_str());
    std::fflush(stderr);
    drawn_ = std::chrono::steady_clock::now();
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
    std::string json = "{\"commands\": " + std::to_string(outcome.commands.size()) +
                       ", \"served\": " + std::to_string(served) +
                       ", \"failed\": " + std::to_string(causes.size() - served) +
                       ", \"milliseconds\": " + std::to_string(milliseconds) + ",\n \"scales\": [";
    for (std::size_t i = 0; i < outcome.scales.size(); ++i) {
        const ScaleResult& scale = outcome.scales[i];
        json += std::string(i == 0 ? "\n" : ",\n") + "  {\"address\": " + JsonString(scale.name) +
                ", \"code\": " + std::to_string(scale.code) +
                ", \"cause\": " + JsonString(causes[i]) +
                ", \"answered\": " + std::to_string(scale.answered) +
                ", \"connections\": " + std::to_string(scale.connections) +
                ", \"milliseconds\": " + std::to_string(scale.milliseconds) + "}";
    }
    return json + "\n]}\n";
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else if (c >= 0x80) {
            std::size_t length = Utf8SequenceLength(text, i);
            json += length == 0 ? "\\ufffd" : text.substr(i, length);
            i += length == 0 ? 1 : length;
            continue;
        } else {
            json += static_cast<char>(c);
        }
        ++i;
    }
    return json + "\"";
}

}  // namespace vudaduv::cli
