// SendToScales: every scale of a call served together over one engine (socket_engine.h), each
// with its own command list and a connection of its own, reconnecting after a refusal, a
// time-out or a drop; no more connections at once than the open-file limit allows, the other
// scales waiting their turn (connection_slots.h). A scale on a serial line is served by the same
// steps over a line its channel opens in place of a connection. The steps are here; the I/O is
// the engine's.
#include "core/send_to_scales.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

#include "asio/error.hpp"
#include "asio/ip/address.hpp"
#include "core/connection_slots.h"
#include "core/reply_exchange.h"
#include "core/retry_pause.h"
#include "core/socket_system.h"

namespace vudaduv::transport {

namespace {

using Clock = EngineClock;

// How often a caller's stop flag is read; the call returns at most this much later than its
// last scale is done.
constexpr std::chrono::milliseconds kStopCheckPeriod{25};

const std::vector<std::string> kNoCommands;

bool IsWantOfDescriptors(const std::error_code& error) {
    return error == asio::error::no_descriptors ||
           error == std::errc::too_many_files_open_in_system;
}

bool IsFailureOfThisMachine(const std::error_code& error) {
    return error == asio::error::no_memory || error == asio::error::no_buffer_space ||
           IsWantOfDescriptors(error);
}

std::int32_t ResolveFailureCode(const std::error_code& error) {
    return error == asio::error::no_memory ? WQDS_INTERNAL : WQDS_BAD_ADDRESS;
}

std::int32_t OpenFailureCode(const std::error_code& error) {
    // A family this machine does not speak (IPv6 switched off) is as good as unreachable.
    return error == asio::error::address_family_not_supported ? WQDS_REFUSED : WQDS_INTERNAL;
}

std::int32_t ConnectFailureCode(const std::error_code& error) {
    if (error == asio::error::timed_out) return WQDS_TIMEOUT;
    // The handshake was done: the scale is there and hung up at once.
    if (error == asio::error::connection_reset || error == asio::error::connection_aborted ||
        error == asio::error::broken_pipe) {
        return WQDS_CLOSED;
    }
    if (IsFailureOfThisMachine(error)) return WQDS_INTERNAL;
    return WQDS_REFUSED;  // refused, or the host or network cannot be reached
}

std::int32_t StreamFailureCode(const std::error_code& error) {
    // Whatever else goes wrong on a connected socket leaves it unusable, like a drop.
    return IsFailureOfThisMachine(error) ? WQDS_INTERNAL : WQDS_CLOSED;
}

// The failures that a new connection may cure.
bool IsWorthARetry(std::int32_t code) {
    return code == WQDS_REFUSED || code == WQDS_TIMEOUT || code == WQDS_CLOSED;
}

// On a serial line only a reply that did not come is asked for again, on the line held: a line
// that hung up has no other connection to try, one in use is not given up by asking again.
bool IsWorthARetryOnLine(std::int32_t code) {
    return code == WQDS_TIMEOUT;
}

std::uint32_t MillisecondsSince(Clock::time_point start) {
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return static_cast<std::uint32_t>(
        std::clamp<decltype(elapsed)>(elapsed, 0, std::numeric_limits<std::uint32_t>::max()));
}

class TargetSession;

// What the sessions of a call share: the connection slots, and the sessions to hand a slot to.
struct CallSlots {
    ConnectionSlots slots;
    std::vector<std::unique_ptr<TargetSession>> sessions;
};

// One target, as a chain of steps that the engine runs as each wait ends: wait for a connection
// slot, resolve, connect to each address in turn, then for each command write it whole and read
// its reply line; after a failure worth a retry, give the slot back, pause and start again at the
// unanswered command. Every wait of a try is bounded by the one alarm, which ends the try when it
// rings; a scale waiting for a slot has no alarm running, so its time-outs start with its try.
class alignas(64) TargetSession final : private ChannelEvents {
  public:
    TargetSession(SocketEngine& engine, const ScaleJob& job, const SendSettings& settings,
                  Clock::time_point callStart, ScaleResult& outcome, std::size_t index,
                  const SendObserver& observer, CallSlots& call)
        : channel_(engine.NewChannel(*this)),
          commands_(job.commands ? *job.commands : kNoCommands),
          reader_(settings.longestReply),
          address_(job.address),
          settings_(settings),
          callStart_(callStart),
          outcome_(outcome),
          index_(index),
          observer_(observer),
          call_(call) {
        // Until the session says otherwise: a step that could not finish is this machine's fault.
        outcome_.code = WQDS_INTERNAL;
    }

    void Start() {
        Step([this] {
            if (!ParseTargetAddress(address_, settings_.defaultPort, parsed_)) {
                Finish(WQDS_BAD_ADDRESS);
                return;
            }
            line_ = IsSerialLine(parsed_);
            if (!SkipEmptyCommands()) {
                Finish(WQDS_OK);  // nothing to send: no connection either
                return;
            }
            // A reply for each command at most: the list never moves as replies come.
            if (!observer_.replyTaken) replies_.reserve(commands_.size());
            TakeSlotAndTry();
        });
    }

    // A slot given back by another scale is this one's now; its try starts from the engine's
    // loop, never inside the step of the scale that gave the slot back.
    void SlotGranted() noexcept {
        holdsSlot_ = true;
        waitsForSlot_ = false;
        Step([this] {
            wait_ = Wait::kSlot;
            deadline_ = Clock::now();
            ArmAlarm();
        });
    }

    // The loop failed or was asked to stop before this target was done: it ends with what it
    // has.
    void EndUnfinished() noexcept {
        if (!finished_) Finish(WQDS_INTERNAL);
    }

    bool Finished() const { return finished_; }

  private:
    // A stop seen before a command line or a try starts ends the scale there, as the stop watch
    // would at its next look: what is asked after a stop is not started at all, so a scale
    // answers at most the one line it had in flight. The flag is read here on every line because
    // a progress function sets it on this very thread, in the middle of a scale's steps.
    bool EndIfStopAsked() noexcept {
        if (observer_.stop == nullptr || !observer_.stop->load()) return false;
        Finish(WQDS_INTERNAL);
        return true;
    }

    // What the alarm ends when it rings.
    enum class Wait : std::uint8_t {
        kNone,
        kExchange,  // connecting, writing or awaiting a reply: the try times out
        kPause,     // the pause before a retry: the next try starts
        kSlot,      // a connection slot was handed over: the try starts
    };

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

    // Starts a try when a connection slot is free; otherwise waits in line, with no alarm set. A
    // serial line keeps its slot between tries.
    void TakeSlotAndTry() {
        if (holdsSlot_) {
            StartTry();
        } else if (call_.slots.Take(index_)) {
            holdsSlot_ = true;
            StartTry();
        } else {
            waitsForSlot_ = true;
        }
    }

    // Hands the slot held to the first scale waiting for one.
    void GiveSlotBack() noexcept {
        if (!holdsSlot_) return;
        holdsSlot_ = false;
        std::size_t next = call_.slots.GiveBack();
        if (next != ConnectionSlots::kNoWaiter) call_.sessions[next]->SlotGranted();
    }

    // No descriptor for a socket while the call holds others: this scale waits for one of them to
    // close, as if its try had not begun. False when nothing of the call's would free one.
    bool WaitForDescriptor() {
        if (!call_.slots.WaitForDescriptor(index_)) return false;
        holdsSlot_ = false;
        waitsForSlot_ = true;
        StopTimer();
        channel_->Close();
        --tries_;
        return true;
    }

    void StartTry() {
        if (EndIfStopAsked()) return;
        ++tries_;
        reader_.DiscardPending();  // bytes of a connection given up answer nothing now
        if (line_) {
            TryOnLine();
            return;
        }
        std::error_code notNumeric;
        asio::ip::address numeric = asio::ip::make_address(parsed_.host, notNumeric);
        if (!notNumeric) {
            ConnectToAll({Endpoint(numeric, parsed_.port)});
            return;
        }
        // A name, or a numeric form only the system's resolver reads ("127.1").
        channel_->Resolve(parsed_.host, parsed_.port);
    }

    // The line is opened at the first try and held for the call; a later try drops what came late
    // to the command asked for again.
    void TryOnLine() {
        if (lineOpen_) {
            channel_->DiscardLineInput();
        } else {
            std::int32_t code = channel_->OpenLine(parsed_.device, parsed_.baud, cause_);
            if (code != WQDS_OK) {
                EndTry(code);
                return;
            }
            lineOpen_ = true;
        }
        SendNextCommand();
    }

    void Resolved(const std::error_code& error, std::vector<Endpoint> endpoints) noexcept override {
        Step([&] {
            if (error || endpoints.empty()) {
                EndTry(ResolveFailureCode(error));
                return;
            }
            ConnectToAll(std::move(endpoints));
        });
    }

    // The connect time-out holds for all the addresses of the host together.
    void ConnectToAll(std::vector<Endpoint> endpoints) {
        endpoints_ = std::move(endpoints);
        connectCode_ = WQDS_REFUSED;
        StartTimer(settings_.connectTimeoutMs);
        ConnectTo(0);
    }

    // Tries the address at index and those after it until one accepts; the code is that of the
    // last address tried.
    void ConnectTo(std::size_t index) {
        for (endpointIndex_ = index; endpointIndex_ < endpoints_.size(); ++endpointIndex_) {
            std::error_code error = channel_->Connect(endpoints_[endpointIndex_]);
            if (!error) return;  // Connected tells
            if (IsWantOfDescriptors(error) && WaitForDescriptor()) return;
            connectCode_ = OpenFailureCode(error);
        }
        EndTry(connectCode_);
    }

    void Connected(const std::error_code& error) noexcept override {
        Step([&] {
            if (!error) {
                SendNextCommand();
                return;
            }
            connectCode_ = ConnectFailureCode(error);
            if (connectCode_ == WQDS_TIMEOUT) {
                EndTry(WQDS_TIMEOUT);  // the time for every address is spent
                return;
            }
            channel_->Close();
            ConnectTo(endpointIndex_ + 1);
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
            if (EndIfStopAsked()) return;
            StartTimer(settings_.replyTimeoutMs);
            const std::string& command = commands_[next_];
            std::error_code error;
            switch (channel_->Write(command.data(), command.size(), error)) {
                case WriteStatus::kDone:
                    break;
                case WriteStatus::kPending:
                    return;  // Written tells
                case WriteStatus::kFailed:
                    EndTry(StreamFailureCode(error));
                    return;
            }
            if (!TakeReply()) return;
        }
    }

    void Written(const std::error_code& error) noexcept override {
        Step([&] {
            if (error) {
                EndTry(StreamFailureCode(error));
            } else if (TakeReply()) {
                SendNextCommand();
            }
        });
    }

    // Takes the reply to the command sent, when it is all there; false when the reply is awaited
    // from the channel, or the try ended.
    bool TakeReply() {
        std::string reply;
        switch (reader_.TakeReplyLine(reply)) {
            case PendingReply::kWhole:
                if (observer_.replyTaken) {
                    observer_.replyTaken(index_, answered_, std::move(reply));
                } else {
                    replies_.push_back(std::move(reply));
                }
                ++answered_;
                ++next_;
                TellLineAnswered();
                return true;
            case PendingReply::kTooLong:
                EndTry(WQDS_REPLY_TOO_LONG);
                return false;
            case PendingReply::kIncomplete:
                break;
        }
        channel_->Receive();
        return false;
    }

    void Received(const std::error_code& error, const char* bytes,
                  std::size_t count) noexcept override {
        Step([&] {
            if (error || count == 0) {
                // The end of the stream counts as a drop, as any other failure of the socket.
                EndTry(error ? StreamFailureCode(error) : WQDS_CLOSED);
                return;
            }
            reader_.AddReceived(bytes, count);
            if (TakeReply()) SendNextCommand();
        });
    }

    void EndTry(std::int32_t code) {
        StopTimer();
        bool retry =
            (line_ ? IsWorthARetryOnLine(code) : IsWorthARetry(code)) && tries_ < settings_.tries;
        // A line stays open between tries: it is opened once a call, and held. What it was
        // waiting for is given up: a late answer must not pass for one during the pause.
        if (line_ && retry) {
            channel_->DiscardLineInput();
        } else {
            channel_->Close();
            lineOpen_ = false;
            GiveSlotBack();
        }
        // A name that does not resolve gave no address to connect to, nor a device no line.
        if (code != WQDS_BAD_ADDRESS) ++outcome_.connections;
        if (!retry) {
            if (line_ && code == WQDS_CLOSED) cause_ = "the serial line hung up";
            Finish(code);
            return;
        }
        wait_ = Wait::kPause;
        deadline_ = Clock::now() + std::chrono::milliseconds(PauseBeforeRetryMs(settings_, tries_));
        ArmAlarm();
    }

    void Finish(std::int32_t code) noexcept {
        finished_ = true;
        StopTimer();
        channel_->Close();
        GiveSlotBack();
        if (std::exchange(waitsForSlot_, false)) call_.slots.Leave(index_);
        outcome_.code = code;
        outcome_.milliseconds = MillisecondsSince(callStart_);
        try {
            if (code != WQDS_OK)
                outcome_.cause = cause_.empty() ? TransportCodeCause(code) : cause_;
        } catch (...) {
            // no memory for the words: the code says it
        }
        outcome_.answered = answered_;
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
            if (observer_.lineAnswered) observer_.lineAnswered(index_, answered_);
        } catch (...) {
            // as for scaleDone
        }
    }

    // Every wait of a try ends by deadline_. A deadline that only moves later (the next
    // command's) leaves the alarm alone, which moves on when it rings early, so a long list does
    // not set the alarm for every command.
    void StartTimer(std::uint32_t milliseconds) {
        wait_ = Wait::kExchange;
        deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds);
        if (!alarmSet_ || alarmAt_ > deadline_) ArmAlarm();
    }

    void ArmAlarm() {
        channel_->SetAlarm(deadline_);
        alarmSet_ = true;
        alarmAt_ = deadline_;
    }

    void AlarmRang() noexcept override {
        alarmSet_ = false;
        Step([this] {
            if (Clock::now() < deadline_) {
                ArmAlarm();
                return;
            }
            Wait ended = std::exchange(wait_, Wait::kNone);
            if (ended == Wait::kExchange) {
                EndTry(WQDS_TIMEOUT);
            } else if (ended == Wait::kPause) {
                TakeSlotAndTry();
            } else if (ended == Wait::kSlot) {
                StartTry();
            }
        });
    }

    // An alarm left set would keep the engine running.
    void StopTimer() noexcept {
        wait_ = Wait::kNone;
        alarmSet_ = false;
        channel_->CancelAlarm();
    }

    // What every command touches comes first and together: with thousands of scales, each
    // reply is a walk through memory the caches no longer hold.
    std::unique_ptr<Channel> channel_;
    const std::vector<std::string>& commands_;
    std::size_t next_ = 0;  // the command to send next, the first unanswered one
    Clock::time_point deadline_;
    Clock::time_point alarmAt_;  // when the alarm set rings
    bool alarmSet_ = false;
    bool finished_ = false;
    Wait wait_ = Wait::kNone;
    ReplyLineReader reader_;
    std::vector<std::string> replies_;  // the outcome's, handed over when the session ends
    std::size_t answered_ = 0;

    const std::string& address_;
    const SendSettings& settings_;
    Clock::time_point callStart_;
    ScaleResult& outcome_;
    std::size_t index_;
    const SendObserver& observer_;
    CallSlots& call_;
    bool holdsSlot_ = false;
    bool waitsForSlot_ = false;
    TargetAddress parsed_;
    std::uint64_t tries_ = 0;
    std::vector<Endpoint> endpoints_;
    std::size_t endpointIndex_ = 0;
    std::int32_t connectCode_ = WQDS_REFUSED;
    bool line_ = false;      // the address names a serial line
    bool lineOpen_ = false;  // and the channel holds it
    std::string cause_;      // closer than the code's own, when there is one
};

// Reads the caller's stop flag every kStopCheckPeriod, on an alarm of its own, so that the flag
// needs no wake-up of the engine; stops the engine once every scale is done or a stop is asked.
class StopWatch final : private ChannelEvents {
  public:
    StopWatch(SocketEngine& engine, const std::atomic<bool>& stop,
              const std::vector<std::unique_ptr<TargetSession>>& sessions)
        : engine_(engine), stop_(stop), sessions_(sessions), channel_(engine.NewChannel(*this)) {}

    void Start() { channel_->SetAlarm(Clock::now() + kStopCheckPeriod); }

  private:
    void AlarmRang() noexcept override {
        if (!stop_.load()) {
            bool allDone = std::all_of(sessions_.begin(), sessions_.end(),
                                       [](const auto& session) { return session->Finished(); });
            if (allDone) return;
            try {
                Start();
                return;
            } catch (...) {
                // no more watching: the scales end here as on a stop
            }
        }
        for (const auto& session : sessions_) session->EndUnfinished();
        engine_.Stop();
    }
    void Resolved(const std::error_code&, std::vector<Endpoint>) noexcept override {}
    void Connected(const std::error_code&) noexcept override {}
    void Written(const std::error_code&) noexcept override {}
    void Received(const std::error_code&, const char*, std::size_t) noexcept override {}

    SocketEngine& engine_;
    const std::atomic<bool>& stop_;
    const std::vector<std::unique_ptr<TargetSession>>& sessions_;
    std::unique_ptr<Channel> channel_;
};

}  // namespace

std::vector<ScaleResult> SendToScalesOver(SocketEngine& engine, const std::vector<ScaleJob>& jobs,
                                          const SendSettings& settings,
                                          const SendObserver& observer) {
    return SendToScalesWithin(engine, jobs, settings, observer,
                              net::ConnectionsWithinFileLimit(jobs.size()));
}

std::vector<ScaleResult> SendToScalesWithin(SocketEngine& engine, const std::vector<ScaleJob>& jobs,
                                            const SendSettings& settings,
                                            const SendObserver& observer, std::size_t connections) {
    Clock::time_point callStart = Clock::now();
    std::vector<ScaleResult> outcomes(jobs.size());
    CallSlots call{ConnectionSlots(connections), {}};
    std::vector<std::unique_ptr<TargetSession>>& sessions = call.sessions;
    sessions.reserve(jobs.size());
    // Every session exists before any starts: a slot may be handed to any of them.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        sessions.push_back(std::make_unique<TargetSession>(engine, jobs[i], settings, callStart,
                                                           outcomes[i], i, observer, call));
    }
    for (const auto& session : sessions) session->Start();
    std::unique_ptr<StopWatch> stopWatch;
    if (observer.stop != nullptr) {
        stopWatch = std::make_unique<StopWatch>(engine, *observer.stop, sessions);
        stopWatch->Start();
    }
    try {
        engine.Run();
    } catch (...) {
        // The engine itself failed (this machine's fault): the scales not done by then end with
        // WQDS_INTERNAL and the replies they got.
        for (const auto& session : sessions) session->EndUnfinished();
    }
    return outcomes;
}

std::vector<ScaleResult> SendToScales(const std::vector<ScaleJob>& jobs,
                                      const SendSettings& settings, const SendObserver& observer) {
    std::unique_ptr<SocketEngine> engine = MakeSocketEngine();
    return SendToScalesOver(*engine, jobs, settings, observer);
}

}  // namespace vudaduv::transport
