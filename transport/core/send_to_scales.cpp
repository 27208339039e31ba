// SendToScales: every scale of a call served together over one event loop, each with its own
// command list and a connection of its own, reconnecting after a refusal, a time-out or a drop.
#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <system_error>

#ifdef __linux__
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "asio/io_context.hpp"
#include "asio/ip/tcp.hpp"
#include "asio/steady_timer.hpp"
#include "asio/write.hpp"
#include "core/ready_sockets.h"
#include "core/reply_exchange.h"
#include "core/retry_pause.h"
#include "core/socket_system.h"
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

// What the sessions of one call share: the event loop, and on Linux the set that their connected
// sockets join.
struct CallLoop {
    asio::io_context& loop;
#ifdef __linux__
    ReadySockets& ready;
#endif
};

// One target, as a chain of steps that the event loop runs as each wait ends: resolve, connect
// to each address in turn, then for each command write it whole and read its reply line; after
// a failure worth a retry, pause and start again at the unanswered command. Every wait is
// bounded by the one timer, which closes the socket when it expires.
//
// On Linux a connected socket leaves Asio for the call's ReadySockets: the commands are written
// and the replies read here, each read only when bytes came (see ready_sockets.h).
#ifdef __linux__
class alignas(64) TargetSession final : private ReadySockets::Watcher {
#else
class alignas(64) TargetSession final {
#endif
  public:
    TargetSession(CallLoop& call, const ScaleJob& job, const SendSettings& settings,
                  Clock::time_point callStart, ScaleResult& outcome, std::size_t index,
                  const SendObserver& observer)
        : call_(call),
          commands_(job.commands ? *job.commands : kNoCommands),
          reader_(settings.longestReply),
          address_(job.address),
          settings_(settings),
          callStart_(callStart),
          outcome_(outcome),
          index_(index),
          observer_(observer),
          socket_(call.loop),
          resolver_(call.loop),
          timer_(call.loop) {
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
                // A reply for each command at most: the list never moves as replies come.
                replies_.reserve(commands_.size());
                StartTry();
            }
        });
    }

    // The loop failed or was asked to stop before this target was done: it ends with what it
    // has.
    void EndUnfinished() noexcept {
        if (!finished_) Finish(WQDS_INTERNAL);
    }

    bool Finished() const {
        return finished_;
    }

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
                    Connected();
                }
            });
        });
    }

#ifdef __linux__
    void Connected() {
        asio::error_code error;
        int fd = socket_.release(error);
        if (error) {
            EndTry(StreamFailureCode(error));
            return;
        }
        if (std::error_code watching = call_.ready.Watch(fd, *this)) {
            close(fd);
            EndTry(StreamFailureCode(watching));
            return;
        }
        fd_ = fd;
        SendNextCommand();
    }
#else
    void Connected() {
        // Writes are tried at once only on a socket that never blocks the loop.
        asio::error_code blocking;
        socket_.non_blocking(true, blocking);
        writeAtOnce_ = !blocking;
        SendNextCommand();
    }
#endif

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

    // Takes the reply to the command sent, when it is all there; false when a read goes on
    // through the loop, or the try ended.
    bool TakeReply() {
        std::string reply;
        switch (reader_.TakeReplyLine(reply)) {
            case PendingReply::kWhole:
                replies_.push_back(std::move(reply));
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

#ifdef __linux__
    // A command line almost always fits the socket's buffer: written at once, it waits for no
    // readiness. False when the rest waits for room, or the try ended.
    bool WriteAtOnce() {
        written_ = 0;
        if (!WriteRest()) return false;
        if (written_ == commands_[next_].size()) return true;
        writing_ = true;
        return false;
    }

    // Writes what the socket takes of the command; false when the try ended.
    bool WriteRest() {
        const std::string& command = commands_[next_];
        while (written_ < command.size()) {
            ssize_t sent = send(fd_, command.data() + written_, command.size() - written_,
                                MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                written_ += static_cast<std::size_t>(sent);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            } else if (errno != EINTR) {
                EndTry(StreamFailureCode(std::error_code(errno, std::system_category())));
                return false;
            }
        }
        return true;
    }

    // The reply is awaited: read at once when bytes came already, else when the set says so.
    void ReadOn() {
        awaitingReply_ = true;
        if (readable_ && !reading_) ReadWhileAwaited();
    }

    // Reads while a reply is awaited and bytes are there, and goes on with the commands as
    // replies are whole. A loop, not a recursion, however many replies come in one go.
    void ReadWhileAwaited() {
        reading_ = true;
        while (awaitingReply_ && readable_ && fd_ >= 0) {
            auto& piece = call_.ready.ReadPiece();
            ssize_t received = recv(fd_, piece.data(), piece.size(), MSG_DONTWAIT);
            if (received < 0 && errno == EINTR) continue;
            if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                readable_ = false;  // edge-triggered: the next bytes are told anew
                break;
            }
            if (received <= 0) {
                // The end of the stream counts as a drop, as any other failure of the socket.
                EndTry(received == 0
                           ? WQDS_CLOSED
                           : StreamFailureCode(std::error_code(errno, std::system_category())));
                break;
            }
            // A read shorter than the piece took all there was; after a hang-up the end of the
            // stream is there too, and no new edge will tell it.
            if (static_cast<std::size_t>(received) < piece.size() && !hungUp_) readable_ = false;
            reader_.AddReceived(piece.data(), static_cast<std::size_t>(received));
            awaitingReply_ = false;
            if (TakeReply()) SendNextCommand();
        }
        reading_ = false;
    }

    void OnReady(std::uint32_t events) noexcept override {
        Step([&] {
            if (fd_ < 0) return;
            if (writing_ && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0) {
                if (!WriteRest()) return;
                if (written_ < commands_[next_].size()) return;
                writing_ = false;
                if (TakeReply()) SendNextCommand();
            }
            if (fd_ < 0) return;
            if ((events & (EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0) hungUp_ = true;
            if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0) {
                readable_ = true;
                if (awaitingReply_ && !reading_) ReadWhileAwaited();
            }
        });
    }
#else
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
#endif

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
        if (!replies_.empty()) {
            outcome_.replies = std::move(replies_);
            replies_.clear();
        }
        try {
            if (observer_.scaleDone) observer_.scaleDone(index_, outcome_);
        } catch (...) {
            // the caller's progress is the caller's: it never stops the send
        }
    }

    void TellLineAnswered() noexcept {
        try {
            if (observer_.lineAnswered) observer_.lineAnswered(index_, replies_.size());
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
        if (!timerArmed_ || armedUntil_ > deadline_) ArmTimer();
    }

    void ArmTimer() {
        timerArmed_ = true;
        armedUntil_ = deadline_;
        timer_.expires_at(deadline_);
        timer_.async_wait([this, generation = ++timerGeneration_](const asio::error_code& error) {
            if (error || generation != timerGeneration_) return;
            Step([this] {
                if (Clock::now() < deadline_) {
                    ArmTimer();
                    return;
                }
                timerArmed_ = false;
#ifdef __linux__
                // A connected socket waits in the ready set, where nothing ends by a close.
                if (fd_ >= 0) {
                    EndTry(WQDS_TIMEOUT);
                    return;
                }
#endif
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
#ifdef __linux__
        if (fd_ >= 0) {
            call_.ready.Forget(fd_, *this);
            close(fd_);
            fd_ = -1;
        }
        writing_ = readable_ = hungUp_ = awaitingReply_ = false;
#endif
    }

    // What every command touches comes first and together, in three cache lines: with
    // thousands of scales, each reply is a walk through memory the caches no longer hold.
    CallLoop& call_;
    const std::vector<std::string>& commands_;
    std::size_t next_ = 0;  // the command to send next, the first unanswered one
    Clock::time_point deadline_;
    Clock::time_point armedUntil_;  // the pending wait's expiry
    bool timerArmed_ = false;       // a wait for deadline_ (or earlier) is pending
    bool timedOut_ = false;
    bool finished_ = false;
#ifdef __linux__
    bool writing_ = false;   // the rest of the command waits for room
    bool readable_ = false;  // bytes may be there: the last read did not find the end
    bool hungUp_ = false;    // the scale closed or the connection failed: reads end at once
    bool awaitingReply_ = false;
    bool reading_ = false;     // ReadWhileAwaited runs: a reply awaited meanwhile is read there
    int fd_ = -1;              // the connected socket, once it is in the ready set
    std::size_t written_ = 0;  // of the command being written
#else
    bool writeAtOnce_ = false;  // the socket is non-blocking: a write returns at once
#endif
    ReplyLineReader reader_;
    std::vector<std::string> replies_;  // the outcome's, handed over when the session ends

    const std::string& address_;
    const SendSettings& settings_;
    Clock::time_point callStart_;
    ScaleResult& outcome_;
    std::size_t index_;
    const SendObserver& observer_;
    Socket socket_;
    Resolver resolver_;
    Timer timer_;
    std::uint64_t timerGeneration_ = 0;
    TargetAddress parsed_;
    std::uint64_t tries_ = 0;
    std::vector<tcp::endpoint> endpoints_;
    std::int32_t connectCode_ = WQDS_REFUSED;
#ifndef __linux__
    std::array<char, ReplyLineReader::kReadPiece> piece_{};
#endif
};

}  // namespace

std::vector<ScaleResult> SendToScales(const std::vector<ScaleJob>& jobs,
                                      const SendSettings& settings, const SendObserver& observer) {
    Clock::time_point callStart = Clock::now();
    net::RaiseOpenFileLimit(jobs.size());
    std::vector<ScaleResult> outcomes(jobs.size());
    asio::io_context loop(vudaduv::kLoopConcurrency);
#ifdef __linux__
    ReadySockets ready(loop);
    CallLoop call{loop, ready};
#else
    CallLoop call{loop};
#endif
    std::vector<std::unique_ptr<TargetSession>> sessions;
    sessions.reserve(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        sessions.push_back(std::make_unique<TargetSession>(call, jobs[i], settings, callStart,
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
