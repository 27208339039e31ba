// The virtual scale over TCP on Linux: every scale it serves, every connection and every reply
// delay on one epoll loop, run by one thread, however many scales and connections there are.
//
// A fleet of thousands must cost less CPU per reply than whatever talks to it, or a test at that
// size measures the fleet. So a command costs the fleet what it costs a sender: one read and one
// write. Sockets stay registered for reading (level-triggered) and are registered anew only
// while a peer does not take its replies; a read takes what is there and answers every whole
// command line in it. The reply delay is the same for every reply, so the replies waiting for it
// are due in the order they were queued: one queue serves them all, and the loop's wait ends when
// the first falls due, to the millisecond. A reply is written at once; only what the socket did not
// take waits for room.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "scale_line_reader.h"
#include "scale_platform.h"
#include "scale_tcp_server_common.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

namespace {

using Clock = std::chrono::steady_clock;

// One read takes up to this much: every command line that is there.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kEventsPerWait = 256;

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

std::string SystemMessage(int error) {
    return std::system_category().message(error);
}

// What epoll hands back: a listener, a connection or the wake-up of the loop.
struct Watched {
    enum class Kind { kListener, kConnection, kWakeUp };
    explicit Watched(Kind k) : kind(k) {}
    Kind kind;
};

struct Listener : Watched {
    Listener(int f, ScaleMemory& m) : Watched(Kind::kListener), fd(f), memory(m) {}
    ~Listener() { close(fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int fd;
    ScaleMemory& memory;
};

// One connection: reads command lines as they come, answers them through the reader and sends
// each reply after the reply delay, in order, as a scale that answers one command at a time.
// Reading pauses while the peer does not take the replies (they would pile up).
struct Connection : Watched {
    Connection(int f, ScaleMemory& memory) : Watched(Kind::kConnection), fd(f), reader(memory) {}
    ~Connection() {
        if (!closed) close(fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Unsent replies the peer is not taking.
    bool PileUp() const { return writing || replies.size() - replied > kMaxUnsentReplies; }

    int fd;
    CommandLineReader reader;
    std::string replies;
    std::size_t replied = 0;
    std::size_t writeEnd = 0;  // while writing: where the write in progress ends
    uint32_t events = 0;       // what epoll watches for
    bool replying = false;     // in the delay queue or writing
    bool writing = false;      // a write waits for room in the socket
    bool paused = false;       // not reading, for the pile of replies
    bool ended = false;        // not reading, for good
    bool queued = false;       // in the delay queue
    bool closed = false;       // the socket is closed; freed once out of the delay queue
};

}  // namespace

struct TcpScaleServer::Impl {
    struct Waiting {
        Clock::time_point due;
        Connection* connection;
    };
    struct Paused {
        Clock::time_point due;
        Listener* listener;
    };

    std::vector<ScaleMemory*> memories;
    ServerOptions options;
    std::vector<uint16_t> ports;
    std::thread thread;
    std::chrono::nanoseconds lastCpuTime{0};  // the loop's thread's, written as it ends

    int poller = -1;
    int wakeFd = -1;
    Watched wakeUp{Watched::Kind::kWakeUp};
    std::atomic<bool> stopping{false};
    std::mutex tasksMutex;
    std::vector<std::function<void()>> tasks;  // from other threads, run on the loop

    // Touched on the loop's thread only, once it runs.
    std::vector<std::unique_ptr<Listener>> listeners;
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<Connection*> closedOnes;
    std::deque<Waiting> delays;
    std::deque<Paused> pausedListeners;
    std::vector<char> buffer;

    Impl(std::vector<ScaleMemory*> m, ServerOptions o)
        : memories(std::move(m)), options(std::move(o)) {}

    // ---- setting up, on the caller's thread --------------------------------------------------

    bool OpenLoop(std::string& error) {
        poller = epoll_create1(EPOLL_CLOEXEC);
        wakeFd = poller < 0 ? -1 : eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = &wakeUp;
        if (wakeFd >= 0 && epoll_ctl(poller, EPOLL_CTL_ADD, wakeFd, &event) == 0) return true;
        error = "cannot start the scale's event loop: " + SystemMessage(errno);
        return false;
    }

    bool Listen(const sockaddr* address, socklen_t length, ScaleMemory& memory,
                std::string& error) {
        const char* step = "socket";
        int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        bool ok = fd >= 0;
        if (ok) {
            listeners.push_back(std::make_unique<Listener>(fd, memory));
            platform::PrepareToListen(static_cast<std::uintptr_t>(fd));
            step = "bind";
            ok = bind(fd, address, length) == 0;
        }
        if (ok) {
            step = "listen";
            ok = listen(fd, SOMAXCONN) == 0;
        }
        sockaddr_storage bound{};
        socklen_t boundLength = sizeof bound;
        if (ok) {
            step = "getsockname";
            ok = getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0;
        }
        if (ok) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.ptr = static_cast<Watched*>(listeners.back().get());
            step = "epoll_ctl";
            ok = epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event) == 0;
        }
        uint16_t port = address->sa_family == AF_INET
                            ? reinterpret_cast<const sockaddr_in*>(address)->sin_port
                            : reinterpret_cast<const sockaddr_in6*>(address)->sin6_port;
        if (!ok) {
            error = CannotListen(options.host, ntohs(port), step, SystemMessage(errno));
            return false;
        }
        port = bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                          : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port;
        ports.push_back(ntohs(port));
        return true;
    }

    bool ListenAll(std::string& error) {
        sockaddr_in v4{};
        sockaddr_in6 v6{};
        v4.sin_family = AF_INET;
        v6.sin6_family = AF_INET6;
        bool isV4 = inet_pton(AF_INET, options.host.c_str(), &v4.sin_addr) == 1;
        if (!isV4 && inet_pton(AF_INET6, options.host.c_str(), &v6.sin6_addr) != 1) {
            error = NotAnAddress(options.host);
            return false;
        }
        for (std::size_t i = 0; i < memories.size(); ++i) {
            uint16_t port = options.port == 0 ? 0 : static_cast<uint16_t>(options.port + i);
            v4.sin_port = htons(port);
            v6.sin6_port = htons(port);
            bool ok =
                isV4 ? Listen(reinterpret_cast<sockaddr*>(&v4), sizeof v4, *memories[i], error)
                     : Listen(reinterpret_cast<sockaddr*>(&v6), sizeof v6, *memories[i], error);
            if (!ok) return false;
        }
        return true;
    }

    // Back to the state before Start, once the loop's thread has ended (or never began).
    void Forget() {
        connections.clear();
        closedOnes.clear();
        delays.clear();
        pausedListeners.clear();
        listeners.clear();
        if (wakeFd >= 0) close(wakeFd);
        if (poller >= 0) close(poller);
        wakeFd = poller = -1;
        stopping = false;
        tasks.clear();
    }

    // Runs task on the loop's thread.
    void Post(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(tasksMutex);
            tasks.push_back(std::move(task));
        }
        WakeUp();
    }

    void WakeUp() {
        uint64_t one = 1;
        ssize_t written = write(wakeFd, &one, sizeof one);
        (void)written;  // a counter already set wakes the loop as well
    }

    // ---- the loop, on its own thread ---------------------------------------------------------

    void Run() {
        buffer.resize(kReadChunk);
        std::vector<epoll_event> ready(kEventsPerWait);
        while (!stopping.load(std::memory_order_relaxed)) {
            int count = Wait(ready);
            for (int i = 0; i < count; ++i) {
                const epoll_event& event = ready[static_cast<std::size_t>(i)];
                Handle(*static_cast<Watched*>(event.data.ptr), event.events);
            }
            Clock::time_point now = Clock::now();
            SendDue(now);
            ResumeAccepting(now);
            FreeClosed();
        }
        connections.clear();
    }

    std::chrono::nanoseconds TimeToNextDue() const {
        Clock::time_point next = Clock::time_point::max();
        if (!delays.empty()) next = delays.front().due;
        if (!pausedListeners.empty()) next = std::min(next, pausedListeners.front().due);
        if (next == Clock::time_point::max()) return std::chrono::nanoseconds::max();
        return std::max(next - Clock::now(), Clock::duration::zero());
    }

    int Wait(std::vector<epoll_event>& ready) {
        std::chrono::nanoseconds left = TimeToNextDue();
        int maximum = static_cast<int>(ready.size());
        int count = 0;
        if (left == std::chrono::nanoseconds::max()) {
            count = epoll_wait(poller, ready.data(), maximum, -1);
        } else {
            count = WaitAtMost(ready.data(), maximum, left);
        }
        return count < 0 ? 0 : count;  // interrupted, or a failure that the next wait tells again
    }

    // Whole milliseconds, rounded up: a reply may leave up to a millisecond after its delay, and
    // the replies of many scales fall due together, each wake-up sending a batch of them (waking
    // to the nanosecond costs a wake-up for almost every reply).
    int WaitAtMost(epoll_event* ready, int maximum, std::chrono::nanoseconds left) {
        auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return epoll_wait(
            poller, ready, maximum,
            static_cast<int>(std::min<decltype(milliseconds)>(milliseconds, 1 << 30)));
    }

    void Handle(Watched& watched, uint32_t events) {
        switch (watched.kind) {
            case Watched::Kind::kWakeUp:
                return RunTasks();
            case Watched::Kind::kListener:
                return Accept(static_cast<Listener&>(watched));
            case Watched::Kind::kConnection:
                break;
        }
        Connection& connection = static_cast<Connection&>(watched);
        try {
            Serve(connection, events);
        } catch (const std::exception&) {
            Abandon(connection);  // out of memory: this connection goes, the server stays
        }
    }

    void RunTasks() {
        uint64_t count = 0;
        ssize_t got = read(wakeFd, &count, sizeof count);
        (void)got;  // nothing to read: a wake-up already taken
        std::vector<std::function<void()>> now;
        {
            std::lock_guard<std::mutex> lock(tasksMutex);
            now.swap(tasks);
        }
        for (auto& task : now) task();
    }

    // One connection at a time: the next is taken when epoll reports the listener again.
    void Accept(Listener& listener) {
        int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || WouldBlock(errno)) return;
            return PauseAccepting(listener);
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::unique_ptr<Connection> connection;
        try {
            connection = std::make_unique<Connection>(fd, listener.memory);
            connections.push_back(nullptr);
        } catch (const std::exception&) {
            if (!connection) close(fd);
            return;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = static_cast<Watched*>(connection.get());
        if (epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event) != 0) {
            connections.pop_back();
            return;
        }
        connection->events = EPOLLIN;
        connections.back() = std::move(connection);
    }

    void PauseAccepting(Listener& listener) {
        epoll_event event{};
        event.data.ptr = static_cast<Watched*>(&listener);
        epoll_ctl(poller, EPOLL_CTL_MOD, listener.fd, &event);
        pausedListeners.push_back({Clock::now() + kAcceptRetryPause, &listener});
    }

    void ResumeAccepting(Clock::time_point now) {
        while (!pausedListeners.empty() && pausedListeners.front().due <= now) {
            Listener& listener = *pausedListeners.front().listener;
            pausedListeners.pop_front();
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.ptr = static_cast<Watched*>(&listener);
            epoll_ctl(poller, EPOLL_CTL_MOD, listener.fd, &event);
        }
    }

    void Serve(Connection& connection, uint32_t events) {
        if (connection.closed) return;
        if (connection.writing && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
            WriteOn(connection);
        }
        if (connection.closed) return;
        if (connection.paused || connection.ended) {
            // A peer gone while nothing is read nor written: its replies can go nowhere.
            if ((events & (EPOLLERR | EPOLLHUP)) && !connection.writing) Abandon(connection);
            return;
        }
        if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) Read(connection);
    }

    // Reads what is there: a read shorter than the buffer took all of it.
    void Read(Connection& connection) {
        for (;;) {
            ssize_t got = recv(connection.fd, buffer.data(), buffer.size(), 0);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && WouldBlock(errno)) break;
            if (got <= 0) return EndOfCommands(connection);
            Take(connection, static_cast<std::size_t>(got));
            if (connection.closed || static_cast<std::size_t>(got) < buffer.size()) break;
        }
        if (!connection.closed && !connection.ended && connection.PileUp()) {
            connection.paused = true;
            WatchFor(connection);
        }
    }

    void Take(Connection& connection, std::size_t got) {
        connection.reader.AppendAnswers(std::string_view(buffer.data(), got), connection.replies);
        if (!connection.replying && connection.replied < connection.replies.size()) {
            connection.replying = true;
            ReplyNext(connection, Clock::now());
        }
    }

    // The peer sends no more (or went): the replies owed still go.
    void EndOfCommands(Connection& connection) {
        connection.ended = true;
        if (!connection.replying) return Close(connection);
        WatchFor(connection);
    }

    void ReplyNext(Connection& connection, Clock::time_point now) {
        if (connection.replied == connection.replies.size()) return RepliesSent(connection);
        if (options.replyDelay.count() == 0) {
            return Write(connection, connection.replies.size(), now);
        }
        delays.push_back({now + options.replyDelay, &connection});
        connection.queued = true;
    }

    void RepliesSent(Connection& connection) {
        connection.replies.clear();
        connection.replied = 0;
        connection.replying = false;
        if (connection.ended) return Close(connection);
        if (connection.paused) {
            connection.paused = false;
            WatchFor(connection);  // level-triggered: commands already there are reported
        }
    }

    // Every reply due by now goes; a connection whose next line waits again goes back at the
    // end of the queue, where its due time belongs.
    void SendDue(Clock::time_point now) {
        while (!delays.empty() && delays.front().due <= now) {
            Connection& connection = *delays.front().connection;
            delays.pop_front();
            connection.queued = false;
            if (connection.closed) continue;
            std::size_t lineEnd = connection.replies.find('\n', connection.replied);
            std::size_t end =
                lineEnd == std::string::npos ? connection.replies.size() : lineEnd + 1;
            try {
                Write(connection, end, now);
            } catch (const std::exception&) {
                Abandon(connection);
            }
        }
    }

    // Writes the replies up to end: at once as far as the socket takes them, the rest when it
    // can take more (reading pauses meanwhile, so the replies stay where the write left them).
    void Write(Connection& connection, std::size_t end, Clock::time_point now) {
        if (!Send(connection, end)) return Abandon(connection);
        if (connection.replied == end) return ReplyNext(connection, now);
        connection.writing = true;
        connection.writeEnd = end;
        WatchFor(connection);
    }

    void WriteOn(Connection& connection) {
        if (!Send(connection, connection.writeEnd)) return Abandon(connection);
        if (connection.replied < connection.writeEnd) return;
        connection.writing = false;
        ReplyNext(connection, Clock::now());
        WatchFor(connection);  // once, for what the next reply left
    }

    // Sends what the socket takes of the replies up to end; false when the peer is gone.
    bool Send(Connection& connection, std::size_t end) {
        for (;;) {
            ssize_t sent = send(connection.fd, connection.replies.data() + connection.replied,
                                end - connection.replied, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                connection.replied += static_cast<std::size_t>(sent);
                return true;
            }
            if (errno == EINTR) continue;
            return WouldBlock(errno);
        }
    }

    // Tells epoll what the connection waits for now, when that changed.
    void WatchFor(Connection& connection) {
        uint32_t wanted = (connection.paused || connection.ended ? 0u : uint32_t{EPOLLIN}) |
                          (connection.writing ? uint32_t{EPOLLOUT} : 0u);
        if (wanted == connection.events || connection.closed) return;
        epoll_event event{};
        event.events = wanted;
        event.data.ptr = static_cast<Watched*>(&connection);
        epoll_ctl(poller, EPOLL_CTL_MOD, connection.fd, &event);
        connection.events = wanted;
    }

    // The peer takes no more replies: the connection ends.
    void Abandon(Connection& connection) {
        connection.ended = true;
        Close(connection);
    }

    // Closes the socket at once; the connection itself goes once nothing refers to it.
    void Close(Connection& connection) {
        if (connection.closed) return;
        close(connection.fd);
        connection.closed = true;
        closedOnes.push_back(&connection);
    }

    void FreeClosed() {
        if (closedOnes.empty()) return;
        auto stillQueued = std::partition(closedOnes.begin(), closedOnes.end(),
                                          [](const Connection* c) { return c->queued; });
        if (stillQueued == closedOnes.end()) return;
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const std::unique_ptr<Connection>& c) {
                                             return c->closed && !c->queued;
                                         }),
                          connections.end());
        closedOnes.erase(stillQueued, closedOnes.end());
    }
};

TcpScaleServer::TcpScaleServer(std::vector<ScaleMemory*> memories, ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(memories), std::move(options))) {}

TcpScaleServer::~TcpScaleServer() {
    Stop();
}

bool TcpScaleServer::Start(std::string& error) {
    Impl& impl = *impl_;
    if (impl.thread.joinable()) {
        error = "the scale is already listening";
        return false;
    }
    impl.ports.clear();
    if (!MayServe(impl.options.port, impl.memories.size(), error) || !impl.OpenLoop(error) ||
        !impl.ListenAll(error)) {
        impl.ports.clear();
        impl.Forget();
        return false;
    }
    impl.thread = std::thread([&impl] {
        impl.Run();
        impl.lastCpuTime = platform::ThreadCpuTime();
    });
    return true;
}

uint16_t TcpScaleServer::Port() const {
    return impl_->ports.empty() ? 0 : impl_->ports.front();
}

const std::vector<uint16_t>& TcpScaleServer::Ports() const {
    return impl_->ports;
}

void TcpScaleServer::Stop() {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) return;
    impl.stopping = true;
    impl.WakeUp();
    impl.thread.join();
    impl.Forget();
}

std::chrono::nanoseconds TcpScaleServer::CpuTime() const {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) return impl.lastCpuTime;
    std::promise<std::chrono::nanoseconds> reading;
    std::future<std::chrono::nanoseconds> read = reading.get_future();
    impl.Post([&reading] { reading.set_value(platform::ThreadCpuTime()); });
    return read.get();
}

}  // namespace vudaduv::scale
