// The engine of Linux: one epoll set of its own, whose wait is the call's only wait. A socket
// joins the set once, as it connects, edge-triggered for reading and writing, and is never
// changed; it is read only when the set said bytes came and a reply is awaited, and written at
// once (told "writable" only after a write found it full). A command costs a write, a wait and a
// read. A serial line joins the set as a socket does, and is read and written alike. The wait's
// time-out is the earliest alarm's; names are resolved on a thread of the
// engine's own, started for the first name, which wakes the wait when a name is done.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "asio/error.hpp"
#include "core/reply_exchange.h"
#include "core/serial_line.h"
#include "core/socket_engine.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

namespace {

// In Asio's category, so that they compare equal to asio::error's, as the session asks.
std::error_code SystemError(int error) {
    return {error, asio::error::get_system_category()};
}

class EpollEngine;

class EpollChannel final : public Channel {
  public:
    EpollChannel(EpollEngine& engine, ChannelEvents& owner, std::uint32_t id)
        : engine_(engine), owner_(owner), id_(id) {}
    ~EpollChannel() override;

    void Resolve(const std::string& host, std::uint16_t port) override;
    std::error_code Connect(const Endpoint& endpoint) override;
    std::int32_t OpenLine(const std::string& device, std::uint32_t baud,
                          std::string& cause) override;
    void DiscardLineInput() noexcept override;
    WriteStatus Write(const char* bytes, std::size_t count, std::error_code& error) override;
    void Receive() override;
    void Close() noexcept override;
    void SetAlarm(EngineClock::time_point when) override;
    void CancelAlarm() noexcept override;

    // What the set reported for the socket.
    void OnEvents(std::uint32_t events) noexcept;
    // A word queued by the channel itself (a connect decided at once, bytes already there).
    void ServeQueued() noexcept;
    void OnResolved(std::uint64_t generation, const std::error_code& error,
                    std::vector<Endpoint> endpoints) noexcept;
    void OnAlarm(std::uint64_t generation) noexcept;
    bool AlarmIsSet(std::uint64_t generation) const {
        return alarmSet_ && generation == alarmGeneration_;
    }

  private:
    void Queue();
    void ReadNow() noexcept;
    // Writes what the socket takes of the pending bytes; false when the connection failed.
    bool WriteRest(std::error_code& error) noexcept;

    EpollEngine& engine_;
    ChannelEvents& owner_;
    std::uint32_t id_;
    int fd_ = -1;
    bool connecting_ = false;  // connect() is under way: "writable" tells its end
    bool connectDue_ = false;  // connect() decided at once: connectError_ is told from the queue
    bool writing_ = false;     // the rest of a write waits for room
    bool readable_ = false;    // bytes may be there: the last read did not find the end
    bool hungUp_ = false;      // the scale closed or the connection failed: reads end at once
    bool wantRead_ = false;    // Receive asked, nothing told yet
    bool queued_ = false;
    bool resolving_ = false;
    bool alarmSet_ = false;
    std::uint64_t serial_ = 0;  // of the connection: Close moves it on
    std::uint64_t resolveGeneration_ = 0;
    std::uint64_t alarmGeneration_ = 0;
    const char* writeBytes_ = nullptr;
    std::size_t writeLeft_ = 0;
    std::error_code connectError_;
    serial::HeldLine line_;  // fd_'s, when the channel serves a serial line
    bool onLine_ = false;
};

class EpollEngine final : public SocketEngine {
  public:
    EpollEngine() : set_(epoll_create1(EPOLL_CLOEXEC)) {
        if (set_ < 0) throw std::system_error(errno, std::system_category(), "epoll_create1");
    }

    ~EpollEngine() override {
        if (resolver_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                quitting_ = true;
                requests_.clear();
            }
            wanted_.notify_one();
            resolver_.join();  // after the name in hand, as the system's resolver allows
        }
        if (wake_ >= 0) close(wake_);
        close(set_);
    }

    std::unique_ptr<Channel> NewChannel(ChannelEvents& owner) override {
        auto id = static_cast<std::uint32_t>(channels_.size());
        channels_.push_back(nullptr);
        auto channel = std::make_unique<EpollChannel>(*this, owner, id);
        channels_.back() = channel.get();
        return channel;
    }

    void Run() override {
        stopped_ = false;
        while (!stopped_) {
            if (ServeQueued()) continue;
            int timeout = RingAlarmsDue();
            if (stopped_) break;
            if (!queued_.empty()) continue;
            if (timeout < 0 && open_ == 0 && resolving_ == 0) break;  // nothing waits
            int count = epoll_wait(set_, batch_.data(), kEventsPerWait, timeout);
            if (count < 0) {
                if (errno == EINTR) continue;
                throw std::system_error(errno, std::system_category(), "epoll_wait");
            }
            TellBatch(count);
        }
    }

    void Stop() noexcept override { stopped_ = true; }

    // For the channels.
    int Set() const { return set_; }
    std::array<char, ReplyLineReader::kReadPiece>& ReadPiece() { return readPiece_; }
    void Opened() { ++open_; }
    void Closed(const EpollChannel* channel) noexcept {
        --open_;
        // A word of the batch being told, for a socket closed meanwhile, is struck.
        for (int i = told_; i < taken_; ++i) {
            auto& event = batch_[static_cast<std::size_t>(i)];
            if (event.data.ptr == channel) event.data.ptr = nullptr;
        }
    }
    void Gone(std::uint32_t id) noexcept { channels_[id] = nullptr; }
    void Queue(std::uint32_t id) { queued_.push_back(id); }
    void SetAlarm(std::uint32_t id, std::uint64_t generation, EngineClock::time_point when) {
        alarms_.push_back({when, id, generation});
        std::push_heap(alarms_.begin(), alarms_.end(), Later);
    }
    void ResolveStarted() { ++resolving_; }
    void ResolveEnded() noexcept { --resolving_; }
    void Resolve(std::uint32_t id, std::uint64_t generation, const std::string& host,
                 std::uint16_t port);

  private:
    static constexpr int kEventsPerWait = 256;

    struct Alarm {
        EngineClock::time_point when;
        std::uint32_t id;
        std::uint64_t generation;
    };
    static bool Later(const Alarm& a, const Alarm& b) { return a.when > b.when; }

    struct NameRequest {
        std::uint32_t id;
        std::uint64_t generation;
        std::string host;
        std::uint16_t port;
    };
    struct NameResult {
        std::uint32_t id;
        std::uint64_t generation;
        std::error_code error;
        std::vector<Endpoint> endpoints;
    };

    // Serves what the channels queued, and what they queue meanwhile; false when there was
    // nothing.
    bool ServeQueued() {
        if (queued_.empty()) return false;
        serving_.swap(queued_);
        for (std::uint32_t id : serving_) {
            if (EpollChannel* channel = channels_[id]) channel->ServeQueued();
            if (stopped_) break;
        }
        serving_.clear();
        return true;
    }

    // Rings the alarms that are due; the milliseconds until the next, -1 when none is set.
    int RingAlarmsDue() {
        bool haveNow = false;
        EngineClock::time_point now;
        while (!alarms_.empty() && !stopped_) {
            const Alarm& top = alarms_.front();
            if (!haveNow) {
                now = EngineClock::now();
                haveNow = true;
            }
            EpollChannel* channel = channels_[top.id];
            bool live = channel != nullptr && channel->AlarmIsSet(top.generation);
            if (live && top.when > now) {
                // Rounded up, so that the wait does not end just before it is due.
                auto left = std::chrono::ceil<std::chrono::milliseconds>(top.when - now).count();
                return static_cast<int>(std::min<decltype(left)>(left, INT_MAX));
            }
            std::uint64_t generation = top.generation;
            std::pop_heap(alarms_.begin(), alarms_.end(), Later);
            alarms_.pop_back();
            if (live) {
                channel->OnAlarm(generation);
                haveNow = false;  // the owner's step took time
            }
        }
        return alarms_.empty() ? -1 : 0;
    }

    void TellBatch(int count) noexcept {
        taken_ = count;
        for (told_ = 0; told_ < taken_ && !stopped_;) {
            const epoll_event& event = batch_[static_cast<std::size_t>(told_++)];
            if (event.data.ptr == this) {
                TellNames();
            } else if (event.data.ptr != nullptr) {
                static_cast<EpollChannel*>(event.data.ptr)->OnEvents(event.events);
            }
        }
        told_ = taken_ = 0;
    }

    void TellNames() noexcept {
        std::uint64_t ignored = 0;
        if (read(wake_, &ignored, sizeof ignored) < 0) {
            // nothing to take: the results below are what counts
        }
        std::vector<NameResult> results;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            results.swap(results_);
        }
        for (NameResult& result : results) {
            if (EpollChannel* channel = channels_[result.id]) {
                channel->OnResolved(result.generation, result.error, std::move(result.endpoints));
            }
        }
    }

    void ResolveNames();

    int set_ = -1;
    bool stopped_ = false;
    std::size_t open_ = 0;                 // sockets in the set
    std::size_t resolving_ = 0;            // names asked for and not told
    std::vector<EpollChannel*> channels_;  // by id; null once a channel is gone
    std::vector<std::uint32_t> queued_;
    std::vector<std::uint32_t> serving_;
    std::vector<Alarm> alarms_;  // a heap; an alarm set anew or cancelled stays until its time
    // The batch being told, and how far.
    std::array<epoll_event, kEventsPerWait> batch_{};
    int told_ = 0;
    int taken_ = 0;
    // One piece for every read, whose bytes the owner takes at once.
    std::array<char, ReplyLineReader::kReadPiece> readPiece_{};

    // The resolving thread and what it shares with the loop.
    int wake_ = -1;  // an eventfd in the set: names are done
    std::thread resolver_;
    std::mutex mutex_;
    std::condition_variable wanted_;
    bool quitting_ = false;
    std::deque<NameRequest> requests_;
    std::vector<NameResult> results_;
};

// The addresses the system gives for host and port, as Asio's resolver asks for them.
std::error_code LookUp(const std::string& host, std::uint16_t port,
                       std::vector<Endpoint>& endpoints) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status == EAI_MEMORY) return SystemError(ENOMEM);
    if (status == EAI_SYSTEM) return SystemError(errno);
    if (status != 0) return asio::error::host_not_found;
    std::error_code error;
    try {
        for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
            Endpoint endpoint;
            std::memcpy(endpoint.data(), entry->ai_addr, entry->ai_addrlen);
            endpoint.resize(entry->ai_addrlen);
            endpoints.push_back(endpoint);
        }
    } catch (...) {
        error = SystemError(ENOMEM);
    }
    freeaddrinfo(found);
    return error;
}

void EpollEngine::Resolve(std::uint32_t id, std::uint64_t generation, const std::string& host,
                          std::uint16_t port) {
    if (wake_ < 0) {
        int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake < 0) throw std::system_error(errno, std::system_category(), "eventfd");
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = this;
        if (epoll_ctl(set_, EPOLL_CTL_ADD, wake, &event) != 0) {
            int error = errno;
            close(wake);
            throw std::system_error(error, std::system_category(), "epoll_ctl");
        }
        wake_ = wake;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({id, generation, host, port});
    }
    if (!resolver_.joinable()) resolver_ = std::thread([this] { ResolveNames(); });
    wanted_.notify_one();
}

void EpollEngine::ResolveNames() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wanted_.wait(lock, [this] { return quitting_ || !requests_.empty(); });
        if (quitting_) return;
        NameRequest request = std::move(requests_.front());
        requests_.pop_front();
        lock.unlock();
        NameResult result{request.id, request.generation, {}, {}};
        try {
            result.error = LookUp(request.host, request.port, result.endpoints);
        } catch (...) {
            result.error = SystemError(ENOMEM);
        }
        lock.lock();
        try {
            results_.push_back(std::move(result));
        } catch (...) {
            // the name is lost: its scale's session waits for it no more than the call lasts
            continue;
        }
        std::uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
            // the counter is full: the loop is woken already
        }
    }
}

EpollChannel::~EpollChannel() {
    Close();
    CancelAlarm();
    engine_.Gone(id_);
}

void EpollChannel::Resolve(const std::string& host, std::uint16_t port) {
    engine_.Resolve(id_, ++resolveGeneration_, host, port);
    resolving_ = true;
    engine_.ResolveStarted();
}

void EpollChannel::OnResolved(std::uint64_t generation, const std::error_code& error,
                              std::vector<Endpoint> endpoints) noexcept {
    if (!resolving_ || generation != resolveGeneration_) return;  // given up
    resolving_ = false;
    engine_.ResolveEnded();
    owner_.Resolved(error, std::move(endpoints));
}

std::error_code EpollChannel::Connect(const Endpoint& endpoint) {
    if (fd_ >= 0) Close();  // one connection at a time: an earlier one is given up
    int fd =
        socket(endpoint.data()->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return SystemError(errno);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // a nicety; fine if refused
    int connected = connect(fd, endpoint.data(), static_cast<socklen_t>(endpoint.size()));
    int connectErrno = connected == 0 ? 0 : errno;
    // Joined after connect(): a socket not yet connecting would be told "hung up" at once.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.ptr = this;
    if (epoll_ctl(engine_.Set(), EPOLL_CTL_ADD, fd, &event) != 0) {
        std::error_code error = SystemError(errno);
        close(fd);
        return error;
    }
    fd_ = fd;
    engine_.Opened();
    if (connectErrno == EINPROGRESS || connectErrno == EINTR) {
        connecting_ = true;
        return {};
    }
    // Decided at once (loopback may): told from the queue, as any other outcome.
    connectDue_ = true;
    connectError_ = connectErrno == 0 ? std::error_code() : SystemError(connectErrno);
    try {
        Queue();
    } catch (...) {
        Close();
        return SystemError(ENOMEM);
    }
    return {};
}

std::int32_t EpollChannel::OpenLine(const std::string& device, std::uint32_t baud,
                                    std::string& cause) {
    if (fd_ >= 0) Close();
    std::int32_t code = line_.Open(device, baud, cause);
    if (code != WQDS_OK) return code;
    int fd = static_cast<int>(line_.Handle());
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLET;
    event.data.ptr = this;
    if (epoll_ctl(engine_.Set(), EPOLL_CTL_ADD, fd, &event) != 0) {
        cause = std::strerror(errno);
        line_.Close();
        return WQDS_INTERNAL;
    }
    fd_ = fd;
    onLine_ = true;
    engine_.Opened();
    return WQDS_OK;
}

void EpollChannel::DiscardLineInput() noexcept {
    wantRead_ = writing_ = false;
    writeLeft_ = 0;
    line_.DiscardInput();
}

WriteStatus EpollChannel::Write(const char* bytes, std::size_t count, std::error_code& error) {
    writeBytes_ = bytes;
    writeLeft_ = count;
    if (!WriteRest(error)) return WriteStatus::kFailed;
    if (writeLeft_ == 0) return WriteStatus::kDone;
    writing_ = true;
    return WriteStatus::kPending;
}

bool EpollChannel::WriteRest(std::error_code& error) noexcept {
    while (writeLeft_ > 0) {
        ssize_t sent = onLine_ ? write(fd_, writeBytes_, writeLeft_)
                               : send(fd_, writeBytes_, writeLeft_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            writeBytes_ += sent;
            writeLeft_ -= static_cast<std::size_t>(sent);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return true;
        } else if (errno != EINTR) {
            error = SystemError(errno);
            return false;
        }
    }
    return true;
}

void EpollChannel::Receive() {
    wantRead_ = true;
    // Bytes that came already are read from the queue; otherwise the set tells when they come.
    if (readable_) Queue();
}

void EpollChannel::Queue() {
    if (queued_) return;
    engine_.Queue(id_);
    queued_ = true;
}

void EpollChannel::ServeQueued() noexcept {
    queued_ = false;
    if (connectDue_) {
        connectDue_ = false;
        owner_.Connected(connectError_);
        return;
    }
    if (fd_ >= 0 && wantRead_ && readable_) ReadNow();
}

void EpollChannel::ReadNow() noexcept {
    auto& piece = engine_.ReadPiece();
    ssize_t received;
    do {
        received = onLine_ ? read(fd_, piece.data(), piece.size())
                           : recv(fd_, piece.data(), piece.size(), MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        readable_ = false;  // edge-triggered: the next bytes are told anew
        return;
    }
    wantRead_ = false;
    if (received < 0) {
        owner_.Received(SystemError(errno), piece.data(), 0);
        return;
    }
    // A read shorter than the piece took all there was; after a hang-up the end of the stream
    // is there too, and no new edge will tell it.
    if (static_cast<std::size_t>(received) < piece.size() && !hungUp_) readable_ = false;
    owner_.Received({}, piece.data(), static_cast<std::size_t>(received));
}

void EpollChannel::OnEvents(std::uint32_t events) noexcept {
    std::uint64_t serial = serial_;
    constexpr std::uint32_t kRoom = EPOLLOUT | EPOLLERR | EPOLLHUP;
    if (connecting_) {
        if ((events & kRoom) == 0) return;
        connecting_ = false;
        // Room without an error is a connection made; only a failure is asked why.
        int failure = 0;
        if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
            socklen_t length = sizeof failure;
            if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
            if (failure == 0) failure = ECONNRESET;  // hung up as soon as it was taken
        }
        owner_.Connected(failure == 0 ? std::error_code() : SystemError(failure));
        if (serial != serial_) return;  // closed meanwhile
    }
    if (writing_ && (events & kRoom) != 0) {
        std::error_code error;
        bool alive = WriteRest(error);
        if (!alive || writeLeft_ == 0) {
            writing_ = false;
            owner_.Written(error);
            if (serial != serial_) return;
        }
    }
    if ((events & (EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0) hungUp_ = true;
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0) {
        readable_ = true;
        if (wantRead_) ReadNow();
    }
}

void EpollChannel::Close() noexcept {
    ++serial_;
    if (fd_ >= 0) {
        epoll_ctl(engine_.Set(), EPOLL_CTL_DEL, fd_, nullptr);
        if (onLine_) {
            line_.Close();  // its settings put back
        } else {
            close(fd_);
        }
        fd_ = -1;
        onLine_ = false;
        engine_.Closed(this);
    }
    connecting_ = connectDue_ = writing_ = readable_ = hungUp_ = wantRead_ = false;
    writeLeft_ = 0;
    if (resolving_) {
        resolving_ = false;
        engine_.ResolveEnded();
    }
}

void EpollChannel::SetAlarm(EngineClock::time_point when) {
    engine_.SetAlarm(id_, ++alarmGeneration_, when);
    alarmSet_ = true;
}

void EpollChannel::CancelAlarm() noexcept {
    ++alarmGeneration_;
    alarmSet_ = false;
}

void EpollChannel::OnAlarm(std::uint64_t generation) noexcept {
    if (!alarmSet_ || generation != alarmGeneration_) return;
    alarmSet_ = false;
    owner_.AlarmRang();
}

}  // namespace

std::unique_ptr<SocketEngine> MakeEpollEngine() {
    return std::make_unique<EpollEngine>();
}

}  // namespace vudaduv::transport
