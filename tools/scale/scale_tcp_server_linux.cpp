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
#include <functional>
#include <mutex>
#include <system_error>
#include <vector>

#include "scale_platform.h"
#include "scale_tcp_server_common.h"

namespace vudaduv::scale {

namespace {

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

class EpollEngine;

// One connection's socket and what epoll watches on it; its replies are ScaleConnection's.
// Reading pauses while the peer does not take the replies (they would pile up).
struct Connection : Watched, ScaleConnection<Connection> {
    Connection(int f, ScaleMemory& memory, EpollEngine& e);
    ~Connection() {
        if (!closed) close(fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The socket calls of ScaleConnection.
    bool TrySend(std::string_view bytes, std::size_t& sent);
    void WaitForRoom();
    void WaitForDelay(Clock::time_point due);
    void RepliesSent();
    void Abandon();

    int fd;
    EpollEngine& engine;
    uint32_t events = 0;  // what epoll watches for
    bool paused = false;  // not reading, for the pile of replies
    bool ended = false;   // not reading, for good
    bool queued = false;  // in the delay queue
    bool closed = false;  // the socket is closed; freed once out of the delay queue
};

class EpollEngine final : public TcpServerEngine {
  public:
    explicit EpollEngine(std::chrono::milliseconds delay) : replyDelay(delay) {}

    ~EpollEngine() override {
        connections.clear();
        listeners.clear();
        if (wakeFd >= 0) close(wakeFd);
        if (poller >= 0) close(poller);
    }

    bool Listen(const std::vector<ScaleMemory*>& memories, const ServerOptions& options,
                std::vector<uint16_t>& ports, std::string& error) override {
        return OpenLoop(error) && ListenAll(memories, options, ports, error);
    }

    void Run() override {
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

    void Halt() override {
        stopping = true;
        WakeUp();
    }

    void Post(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(tasksMutex);
            tasks.push_back(std::move(task));
        }
        WakeUp();
    }

    // ---- what a connection asks of the loop ----------------------------------------------------

    // Tells epoll what the connection waits for now, when that changed.
    void WatchFor(Connection& connection) {
        uint32_t wanted = (connection.paused || connection.ended ? 0u : uint32_t{EPOLLIN}) |
                          (connection.Writing() ? uint32_t{EPOLLOUT} : 0u);
        if (wanted == connection.events || connection.closed) return;
        epoll_event event{};
        event.events = wanted;
        event.data.ptr = static_cast<Watched*>(&connection);
        epoll_ctl(poller, EPOLL_CTL_MOD, connection.fd, &event);
        connection.events = wanted;
    }

    void Delay(Connection& connection, Clock::time_point due) { delays.Add(&connection, due); }

    // Closes the socket at once; the connection itself goes once nothing refers to it. The socket
    // leaves the epoll set first: a process started meanwhile may hold a copy of it until its
    // exec, and the set reports events of an open socket, even one this process closed, so the
    // freed connection would be handled.
    void Close(Connection& connection) {
        if (connection.closed) return;
        epoll_ctl(poller, EPOLL_CTL_DEL, connection.fd, nullptr);
        close(connection.fd);
        connection.closed = true;
        closedOnes.push_back(&connection);
    }

    const std::chrono::milliseconds replyDelay;

  private:
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

    bool ListenOn(const sockaddr* address, socklen_t length, ScaleMemory& memory,
                  const std::string& host, std::vector<uint16_t>& ports, std::string& error) {
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
            error = CannotListen(host, ntohs(port), step, SystemMessage(errno));
            return false;
        }
        port = bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                          : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port;
        ports.push_back(ntohs(port));
        return true;
    }

    bool ListenAll(const std::vector<ScaleMemory*>& memories, const ServerOptions& options,
                   std::vector<uint16_t>& ports, std::string& error) {
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
            uint16_t port = ScalePort(options.port, i);
            v4.sin_port = htons(port);
            v6.sin6_port = htons(port);
            const sockaddr* address = isV4 ? reinterpret_cast<const sockaddr*>(&v4)
                                           : reinterpret_cast<const sockaddr*>(&v6);
            socklen_t length = isV4 ? sizeof v4 : sizeof v6;
            if (!ListenOn(address, length, *memories[i], options.host, ports, error)) return false;
        }
        return true;
    }

    void WakeUp() {
        uint64_t one = 1;
        ssize_t written = write(wakeFd, &one, sizeof one);
        (void)written;  // a counter already set wakes the loop as well
    }

    // ---- the loop, on its own thread ---------------------------------------------------------

    std::chrono::nanoseconds TimeToNextDue() const {
        Clock::time_point next = std::min(delays.NextDue(), pausedListeners.NextDue());
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
            connection.Abandon();  // out of memory: this connection goes, the server stays
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
            connection = std::make_unique<Connection>(fd, listener.memory, *this);
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
        pausedListeners.Add(&listener, Clock::now() + kAcceptRetryPause);
    }

    void ResumeAccepting(Clock::time_point now) {
        Listener* listener = nullptr;
        while (pausedListeners.TakeDue(now, listener)) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.ptr = static_cast<Watched*>(listener);
            epoll_ctl(poller, EPOLL_CTL_MOD, listener->fd, &event);
        }
    }

    void Serve(Connection& connection, uint32_t events) {
        if (connection.closed) return;
        if (connection.Writing() && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
            WriteOn(connection);
        }
        if (connection.closed) return;
        if (connection.paused || connection.ended) {
            // A peer gone while nothing is read nor written: its replies can go nowhere.
            if ((events & (EPOLLERR | EPOLLHUP)) && !connection.Writing()) connection.Abandon();
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
            connection.Take(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            if (connection.closed || static_cast<std::size_t>(got) < buffer.size()) break;
        }
        if (!connection.closed && !connection.ended && connection.PileUp()) {
            connection.paused = true;
            WatchFor(connection);
        }
    }

    // The peer sends no more (or went): the replies owed still go.
    void EndOfCommands(Connection& connection) {
        connection.ended = true;
        if (!connection.Replying()) return Close(connection);
        WatchFor(connection);
    }

    // Every reply due by now goes; a connection whose next line waits again goes back at the
    // end of the queue, where its due time belongs.
    void SendDue(Clock::time_point now) {
        Connection* connection = nullptr;
        while (delays.TakeDue(now, connection)) {
            connection->queued = false;
            if (connection->closed) continue;
            try {
                connection->SendNextLine(now);
            } catch (const std::exception&) {
                connection->Abandon();
            }
        }
    }

    // The rest of a write, now that the socket has room (or the peer went).
    void WriteOn(Connection& connection) {
        std::size_t sent = 0;
        if (!connection.TrySend(connection.Unwritten(), sent)) return connection.Abandon();
        connection.Wrote(sent);
        WatchFor(connection);  // once, for what the next reply left
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
    DueQueue<Connection*> delays;
    DueQueue<Listener*> pausedListeners;
    std::vector<char> buffer;
};

Connection::Connection(int f, ScaleMemory& memory, EpollEngine& e)
    : Watched(Kind::kConnection), ScaleConnection(memory, e.replyDelay), fd(f), engine(e) {}

bool Connection::TrySend(std::string_view bytes, std::size_t& sent) {
    for (;;) {
        ssize_t done = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (done >= 0) {
            sent = static_cast<std::size_t>(done);
            return true;
        }
        if (errno == EINTR) continue;
        return WouldBlock(errno);
    }
}

// Reading pauses meanwhile (PileUp), so the write in progress is all that epoll waits for.
void Connection::WaitForRoom() {
    engine.WatchFor(*this);
}

void Connection::WaitForDelay(Clock::time_point due) {
    engine.Delay(*this, due);
    queued = true;
}

void Connection::RepliesSent() {
    if (ended) return engine.Close(*this);
    if (paused) {
        paused = false;
        engine.WatchFor(*this);  // level-triggered: commands already there are reported
    }
}

// The peer takes no more replies: the connection ends.
void Connection::Abandon() {
    ended = true;
    engine.Close(*this);
}

}  // namespace

std::unique_ptr<TcpServerEngine> MakeTcpServerEngine(const ServerOptions& options) {
    return std::make_unique<EpollEngine>(options.replyDelay);
}

}  // namespace vudaduv::scale
