// SendToScales: every scale of a call served together over one event loop, each with its own
// command list and a connection of its own, reconnecting after a refusal, a time-out or a drop.
#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <system_error>

#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/steady_timer.hpp"
#include "asio/write.hpp"
#include "common/reply_exchange.h"
#include "datasend/send_settings.h"
#include "net/socket_system.h"
#include "vudaduv_asio_loop.h"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

using Clock = std::chrono::steady_clock;

// How often a caller's stop flag is read; the call returns at most this much later than its
// last scale is done.
constexpr std::chrono::milliseconds kStopCheckPeriod{25};
using asio::ip::tcp;
// Bound to the loop's own executor type: every wait skips the type-erased executor's work.
using Executor = asio::io_context::executor_type;
using Socket = asio::basic_stream_socket<tcp, Executor>;
using Resolver = asio::ip::basic_resolver<tcp, Executor>;
using Timer = asio::basic_waitable_timer<Clock, asio::wait_traits<Clock>, Executor>;

const std::vector<std::string> kNoCommands;

bool IsFailureOfThisMachine(const asio::error_code& error) {
    return error == asio::error::no_memory || error == asio::error::no_buffer_space ||
           error == asio::error::no_descriptors ||
           error == std::errc::too_many_files_open_in_system;
}

std::int32_t ResolveFailureCode(const asio::error_code& error) {
    return error == asio::error::no_memory ? WQDS_INTERNAL : WQDS_BAD_ADDRESS;
}

std::int32_t OpenFailureCode(const asio::error_code& error) {
    // A family this machine does not speak (IPv6 switched off) is as good as unreachable.
    return error == asio::error::address_family_not_supported ? WQDS_REFUSED : WQDS_INTERNAL;
}

std::int32_t ConnectFailureCode(const asio::error_code& error) {
    if (error == asio::error::timed_out) return WQDS_TIMEOUT;
    // The handshake was done: the scale is there and hung up at once.
    if (error == asio::error::connection_reset || error == asio::error::connection_aborted ||
        error == asio::error::broken_pipe) {
        return WQDS_CLOSED;
    }
    if (IsFailureOfThisMachine(error)) return WQDS_INTERNAL;
    return WQDS_REFUSED;  // refused, or the host or network cannot be reached
}

std::int32_t StreamFailureCode(const asio::error_code& error) {
    // Whatever else goes wrong on a connected socket leaves it unusable, like a drop.
    return IsFailureOfThisMachine(error) ? WQDS_INTERNAL : WQDS_CLOSED;
}

// The failures that a new connection may cure.
bool IsWorthARetry(std::int32_t code) {
    return code == WQDS_REFUSED || code == WQDS_TIMEOUT || code == WQDS_CLOSED;
}

std::uint32_t MillisecondsSince(Clock::time_point start) {
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return static_cast<std::uint32_t>(
        std::clamp<decltype(elapsed)>(elapsed, 0, std::numeric_limits<std::uint32_t>::max()));
}

// One target, as a chain of steps that the event loop runs as each wait ends: resolve, connect
// to each address in turn, then for each command write it whole and read its reply line; after
// a failure worth a retry, pause and start again at the unanswered command. Every wait is
// bounded by the one timer, which closes the socket when it expires.
class TargetSession {
  public:
    TargetSession(asio::io_context& loop, const ScaleJob& job, const SendSettings& settings,
                  Clock::time_point callStart, ScaleResult& outcome, std::size_t index,
                  const SendObserver& observer)
        : address_(job.address),
          commands_(job.commands ? *job.commands : kNoCommands),
          settings_(settings),
          callStart_(callStart),
          outcome_(outcome),
          index_(index),
          observer_(observer),
          socket_(loop),
          resolver_(loop),
          timer_(loop),
          reader_(settings.longestReply) {
        // Until the session says otherwise: a step that could not finish is this machine's fault.
        outcome_.code = WQDS_INTERNAL;
    }

    void Start() {
        Step([this] {
            if (!ParseTargetAddress(address_, settings_.defaultPort, parsed_)) {
                Finish(WQDS_BAD_ADDRESS);
            } else if (!SkipEmptyCommands()) {
                Finish(WQDS_OK);  // nothing to send: no connection either
            } else {
                StartTry();
            }
        });
    }

    // The loop failed or was asked to stop before this target was done: it ends with what it
    // has.
    void EndUnfinished() noexcept {
        if (!finished_) Finish(WQDS_INTERNAL);
    }

    bool Finished() const { return finished_; }

  private:
    // Runs one step; memory running out ends this target alone, with what it has so far.
    template <typename Body>
    void Step(Body body) noexcept {
        if (finished_) return;
        try {
            body();
        } catch (...) {
            Finish(WQDS_INTERNAL);
        }
    }

    void StartTry() {
        ++tries_;
        reader_.DiscardPending();  // bytes of a connection given up answer nothing now
        asio::error_code notNumeric;
        asio::ip::address numeric = asio::ip::make_address(parsed_.host, notNumeric);
        if (!notNumeric) {
            ConnectToAll({tcp::endpoint(numeric, parsed_.port)});
            return;
        }
        // A name, or a numeric form only the system's resolver reads ("127.1").
        resolver_.async_resolve(
            parsed_.host, std::to_string(parsed_.port), Resolver::numeric_service,
            [this](const asio::error_code& error, const Resolver::results_type& results) {
                Step([&] {
                    if (error || results.empty()) {
                        EndTry(ResolveFailureCode(error));
                        return;
                    }
                    std::vector<tcp::endpoint> endpoints;
                    for (const auto& entry : results) {
                        endpoints.push_back(entry.endpoint());
                    }
                    ConnectToAll(std::move(endpoints));
                });
            });
    }

    // The connect time-out holds for all the addresses of the host together.
    void ConnectToAll(std::vector<tcp::endpoint> endpoints) {
        endpoints_ = std::move(endpoints);
        connectCode_ = WQDS_REFUSED;
        StartTimer(settings_.connectTimeoutMs);
        ConnectTo(0);
    }

    // Tries the address at index and those after it until one accepts; the code is that of the
    // last address tried.
    void ConnectTo(std::size_t index) {
        if (index >= endpoints_.size()) {
            EndTry(connectCode_);
            return;
        }
        asio::error_code error;
        socket_.open(endpoints_[index].protocol(), error);
        if (error) {
            connectCode_ = OpenFailureCode(error);
            ConnectTo(index + 1);
            return;
        }
        net::KeepFromChildProcesses(static_cast<std::intptr_t>(socket_.native_handle()));
        socket_.set_option(tcp::no_delay(true), error);  // a nicety; fine if refused
        socket_.async_connect(endpoints_[index], [this, index](const asio::error_code& failed) {
            Step([&] {
                if (timedOut_) {
                    EndTry(WQDS_TIMEOUT);
                } else if (failed) {
                    connectCode_ = ConnectFailureCode(failed);
                    if (connectCode_ == WQDS_TIMEOUT) {
                        EndTry(WQDS_TIMEOUT);  // the time for every address is spent
                        return;
                    }
                    CloseSocket();
                    ConnectTo(index + 1);
                } else {
                    // Writes are tried at once only on a socket that never blocks the loop.
                    asio::error_code blocking;
                    socket_.non_blocking(true, blocking);
                    writeAtOnce_ = !blocking;
                    SendNextCommand();
                }
            });
        });
    }

    // Moves next_ past empty lines, which put nothing on the wire and so could never be
    // answered; false when no command is left.
    bool SkipEmptyCommands() {
        while (next_ < commands_.size() && commands_[next_].empty()) ++next_;
        return next_ < commands_.size();
    }

    // The command's write and its whole reply line must fit in the reply time-out. Goes on with
    // the next command for as long as a write and a reply need no wait.
    void SendNextCommand() {
        for (;;) {
            if (!SkipEmptyCommands()) {
                EndTry(WQDS_OK);
                return;
            }
            StartTimer(settings_.replyTimeoutMs);
            if (!WriteAtOnce()) return;
            if (!TakeReply()) return;
        }
    }

    // A command line almost always fits the socket's buffer: written at once, it waits for no
    // completion. False when the write goes on through the loop, or the try ended.
    bool WriteAtOnce() {
        const std::string& command = commands_[next_];
        std::size_t written = 0;
        if (writeAtOnce_) {
            asio::error_code error;
            written = socket_.write_some(asio::buffer(command), error);
            if (error && error != asio::error::would_block && error != asio::error::try_again) {
                EndTry(StreamFailureCode(error));
                return false;
            }
            if (error) written = 0;
        }
        if (written == command.size()) return true;
        asio::async_write(socket_, asio::buffer(command) + written,
                          [this](const asio::error_code& error, std::size_t) {
                              Step([&] {
                                  if (timedOut_) {
                                      EndTry(WQDS_TIMEOUT);
                                  } else if (error) {
                                      EndTry(StreamFailureCode(error));
                                  } else if (TakeReply()) {
                                      SendNextCommand();
                                  }
                              });
                          });
        return false;
    }

    // Takes the reply to the command sent, when it is all there; false when a read goes on
    // through the loop, or the try ended.
    bool TakeReply() {
        switch (reader_.TakeReplyLine(reply_)) {
            case PendingReply::kWhole:
                outcome_.replies.push_back(std::move(reply_));
                ++next_;
                TellLineAnswered();
                return true;
            case PendingReply::kTooLong:
                EndTry(WQDS_REPLY_TOO_LONG);
                return false;
            case PendingReply::kIncomplete:
                break;
        }
        ReadOn();
        return false;
    }

    void ReadOn() {
        socket_.async_read_some(
            asio::buffer(piece_), [this](const asio::error_code& error, std::size_t received) {
                Step([&] {
                    if (timedOut_) {
                        EndTry(WQDS_TIMEOUT);
                    } else if (error) {
                        EndTry(StreamFailureCode(error));  // the end of the stream among them
                    } else {
                        reader_.AddReceived(piece_.data(), received);
                        if (TakeReply()) SendNextCommand();
                    }
                });
            });
    }

    void EndTry(std::int32_t code) {
        StopTimer();
        CloseSocket();
        // A name that does not resolve gave no address to connect to.
        if (code != WQDS_BAD_ADDRESS) ++outcome_.connections;
        if (!IsWorthARetry(code) || tries_ >= settings_.tries) {
            Finish(code);
            return;
        }
        timer_.expires_after(std::chrono::milliseconds(PauseBeforeRetryMs(settings_, tries_)));
        timer_.async_wait([this, generation = ++timerGeneration_](const asio::error_code& error) {
            if (error || generation != timerGeneration_) return;
            Step([this] { StartTry(); });
        });
    }

    void Finish(std::int32_t code) noexcept {
        finished_ = true;
        try {
            StopTimer();
        } catch (...) {
            // nothing left to do about it: the wait ends with the loop
        }
        CloseSocket();
        outcome_.code = code;
        outcome_.milliseconds = MillisecondsSince(callStart_);
        try {
            if (observer_.scaleDone) observer_.scaleDone(index_, outcome_);
        } catch (...) {
            // the caller's progress is the caller's: it never stops the send
        }
    }

    void TellLineAnswered() noexcept {
        try {
            if (observer_.lineAnswered) observer_.lineAnswered(index_, outcome_.replies.size());
        } catch (...) {
            // as for scaleDone
        }
    }

    // Every wait ends by deadline_: when it passes, the socket is closed and the step that waits
    // on it ends at once and finds timedOut_ set. A deadline that only moves later (the next
    // command's) leaves the pending wait alone, which moves on when it expires early, so a long
    // list does not re-arm the timer for every command. A timer stopped meanwhile does nothing.
    void StartTimer(std::uint32_t milliseconds) {
        timedOut_ = false;
        deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
        if (!timerArmed_ || timer_.expiry() > deadline_) ArmTimer();
    }

    void ArmTimer() {
        timerArmed_ = true;
        timer_.expires_at(deadline_);
        timer_.async_wait([this, generation = ++timerGeneration_](const asio::error_code& error) {
            if (error || generation != timerGeneration_) return;
            Step([this] {
                if (Clock::now() < deadline_) {
                    ArmTimer();
                    return;
                }
                timerArmed_ = false;
                timedOut_ = true;
                CloseSocket();
            });
        });
    }

    // A wait left pending would hold the loop until it expired.
    void StopTimer() {
        ++timerGeneration_;
        timerArmed_ = false;
        timedOut_ = false;
        timer_.cancel();  // throws only on failures that a timer never reports
    }

    void CloseSocket() noexcept {
        asio::error_code ignored;
        socket_.close(ignored);
    }

    const std::string& address_;
    const std::vector<std::string>& commands_;
    const SendSettings& settings_;
    Clock::time_point callStart_;
    ScaleResult& outcome_;
    std::size_t index_;
    const SendObserver& observer_;

    Socket socket_;
    Resolver resolver_;
    Timer timer_;
    std::uint64_t timerGeneration_ = 0;
    Clock::time_point deadline_;
    bool writeAtOnce_ = false;  // the socket is non-blocking: a write returns at once
    bool timerArmed_ = false;   // a wait for deadline_ (or earlier) is pending
    bool timedOut_ = false;
    bool finished_ = false;

    TargetAddress parsed_;
    std::uint64_t tries_ = 0;
    std::size_t next_ = 0;  // the command to send next, the first unanswered one
    std::vector<tcp::endpoint> endpoints_;
    std::int32_t connectCode_ = WQDS_REFUSED;
    ReplyLineReader reader_;
    std::array<char, ReplyLineReader::kReadPiece> piece_{};
    std::string reply_;
};

}  // namespace

std::vector<ScaleResult> SendToScales(const std::vector<ScaleJob>& jobs,
                                      const SendSettings& settings, const SendObserver& observer) {
    Clock::time_point callStart = Clock::now();
    net::RaiseOpenFileLimit(jobs.size());
    std::vector<ScaleResult> outcomes(jobs.size());
    asio::io_context loop(vudaduv::kLoopConcurrency);
    std::vector<std::unique_ptr<TargetSession>> sessions;
    sessions.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        sessions.push_back(std::make_unique<TargetSession>(loop, jobs[i], settings, callStart,
                                                           outcomes[i], i, observer));
        sessions.back()->Start();
    }
    // A stop request is looked for on a timer of its own, so that a caller's flag needs no
    // wake-up of the loop.
    asio::steady_timer stopTimer(loop);
    std::function<void()> watchStop = [&] {
        stopTimer.expires_after(kStopCheckPeriod);
        stopTimer.async_wait([&](const asio::error_code& error) {
            if (error) return;
            if (!observer.stop->load()) {
                bool allDone = std::all_of(sessions.begin(), sessions.end(),
                                           [](const auto& session) { return session->Finished(); });
                if (!allDone) watchStop();
                return;
            }
            for (const auto& session : sessions) session->EndUnfinished();
            loop.stop();
        });
    };
    if (observer.stop != nullptr) watchStop();
    try {
        loop.run();
    } catch (...) {
        // The loop itself failed (this machine's fault): the scales not done by then end with
        // WQDS_INTERNAL and the replies they got.
        for (const auto& session : sessions) session->EndUnfinished();
    }
    return outcomes;
}

}  // namespace vudaduv::transport
