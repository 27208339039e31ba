// What a send tells besides the upload lines: its progress on a terminal, and at the end, for a
// fleet, the summary and the report.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report_files.h"
#include "scale_link.h"
#include "verify.h"

namespace vudaduv::cli {

// One line on stderr, redrawn in place on a terminal (shown) at most every 100 ms, at once when
// forced, and padded over a longer line drawn before it.
class RedrawnLine {
  public:
    explicit RedrawnLine(bool shown) : shown_(shown) {}
    void Draw(std::string text, bool force);
    // Leaves the line standing (keep) or wipes it; nothing is drawn after.
    void End(bool keep);

  private:
    bool shown_;
    std::size_t width_ = 0;
    std::chrono::steady_clock::time_point drawn_{};
};

// One line on stderr, redrawn in place, that counts the scales served, failed and left and the
// command lines answered while the transport works; shown on a terminal only. End it before any
// other message.
class ProgressLine {
  public:
    // scales: 0 for a serial line, which is not counted; roadName names it then.
    ProgressLine(bool shown, std::size_t lines, std::size_t scales, std::string roadName);
    void ScaleDone(bool served);
    void LineAnswered();
    void End();

  private:
    void Draw(bool force);

    RedrawnLine line_;
    std::size_t lines_;
    std::size_t scales_;
    std::string roadName_;
    std::size_t served_ = 0;
    std::size_t failed_ = 0;
    std::size_t answered_ = 0;
};

// Why each scale of the send failed, in its order; "" for a scale that was served.
std::vector<std::string> ScaleCauses(const SendOutcome& outcome);

// "served N, failed M, in S.s s".
std::string SendSummary(const std::vector<std::string>& causes, uint32_t milliseconds);

// How the send ended, for its report.
struct SendEnd {
    uint32_t recordType = 0;
    uint32_t milliseconds = 0;
    bool interrupted = false;                  // stopped by Ctrl-C
    const ReadBackResult* readBack = nullptr;  // with --verify, when the read-back was made
    std::chrono::system_clock::time_point started;
};

// Every scale's outcome and the run's, in target order, in the report shape that sync shares
// (see docs/report.md); causes as ScaleCauses gives them.
ReportJson SendReport(const SendOutcome& outcome, const std::vector<std::string>& causes,
                      const SendEnd& end);

}  // namespace vudaduv::cli
