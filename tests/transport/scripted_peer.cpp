#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <chrono>

#include "scripted_peer.h"

namespace transport_test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPeerLife = std::chrono::seconds(30);  // a peer never outlives this
constexpr int kStepMs = 10;                           // how often a waiting peer looks up
constexpr std::size_t kLongestCommand = 65536;        // a longer line makes the peer hang up

struct Bounds {
    const std::atomic<bool>& stop;
    Clock::time_point end;
    bool Over() const { return stop.load() || Clock::now() >= end; }
};

bool WaitFor(int fd, short events, const Bounds& bounds) {
    while (!bounds.Over()) {
        pollfd entry{fd, events, 0};
        if (poll(&entry, 1, kStepMs) > 0) return true;
    }
    return false;
}

bool SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

ssize_t WriteSome(int fd, bool isSocket, const char* bytes, std::size_t size) {
    return isSocket ? send(fd, bytes, size, MSG_NOSIGNAL) : write(fd, bytes, size);
}

bool WriteBounded(int fd, bool isSocket, const std::string& bytes, const Bounds& bounds) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!WaitFor(fd, POLLOUT, bounds)) return false;
        ssize_t n = WriteSome(fd, isSocket, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool Deliver(int fd, bool isSocket, const std::string& bytes, Delivery delivery,
             const Bounds& bounds) {
    if (delivery == Delivery::kWhole) return WriteBounded(fd, isSocket, bytes, bounds);
    for (char byte : bytes) {
        if (!WriteBounded(fd, isSocket, std::string(1, byte), bounds)) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return true;
}

enum class SessionEnd { kOtherSideClosed, kHungUp, kOver };

// Reads command lines from fd and does what the script says, until one side ends it.
SessionEnd ServeConnection(int fd, bool isSocket, int connection, const PeerScript& script,
                           Delivery delivery, PeerLog& log, const Bounds& bounds) {
    std::string pending;
    for (;;) {
        if (!WaitFor(fd, POLLIN, bounds)) return SessionEnd::kOver;
        char piece[4096];
        ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return SessionEnd::kOtherSideClosed;
        pending.append(piece, static_cast<std::size_t>(n));
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n')) {
            std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!command.empty() && command.back() == '\r') command.pop_back();
            PeerEvent event{connection, log.ReceivedCount(), command};
            log.Received(command);
            PeerAnswer answer = script(event);
            if (answer.kind == PeerAnswer::Kind::kHangUp) return SessionEnd::kHungUp;
            if (answer.kind == PeerAnswer::Kind::kSilence) continue;
            // Logged first: once the answer is out the test may already be looking.
            log.Answered(command);
            if (!Deliver(fd, isSocket, answer.bytes, delivery, bounds)) return SessionEnd::kOver;
            if (answer.kind == PeerAnswer::Kind::kReplyThenHangUp) return SessionEnd::kHungUp;
        }
        if (pending.size() > kLongestCommand) return SessionEnd::kHungUp;
    }
}

std::uint16_t BoundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// A TCP socket bound to a free loopback port, or -1.
int BindLoopback(bool ipv6) {
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int bound = -1;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (bound != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void PeerLog::Connected() {
    std::lock_guard<std::mutex> lock(mutex_);
    perConnection_.emplace_back();
}

void PeerLog::Received(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    perConnection_.back().push_back(command);
}

void PeerLog::Answered(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    answered_.push_back(command);
}

std::vector<std::vector<std::string>> PeerLog::PerConnection() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return perConnection_;
}

std::vector<std::string> PeerLog::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> all;
    for (const auto& connection : perConnection_) {
        all.insert(all.end(), connection.begin(), connection.end());
    }
    return all;
}

std::vector<std::string> PeerLog::Answered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
}

int PeerLog::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(perConnection_.size());
}

std::size_t PeerLog::ReceivedCount() const {
    return Received().size();
}

void PeerLog::WaitForReceived(std::size_t count) const {
    auto end = Clock::now() + std::chrono::seconds(5);
    while (ReceivedCount() < count && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
}

LoopbackPeer::LoopbackPeer(bool ipv6, PeerScript script, Delivery delivery)
    : script_(std::move(script)), delivery_(delivery) {
    listener_ = BindLoopback(ipv6);
    if (listener_ < 0) return;
    if (listen(listener_, 8) != 0 || !SetNonBlocking(listener_)) {
        close(listener_);
        listener_ = -1;
        return;
    }
    port_ = BoundPort(listener_);
    thread_ = std::thread([this] { Run(); });
}

LoopbackPeer::~LoopbackPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
}

void LoopbackPeer::Run() {
    Bounds bounds{stop_, Clock::now() + kPeerLife};
    while (WaitFor(listener_, POLLIN, bounds)) {
        int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) continue;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        SetNonBlocking(fd);
        log_.Connected();
        SessionEnd end =
            ServeConnection(fd, true, log_.Connections() - 1, script_, delivery_, log_, bounds);
        close(fd);
        if (end == SessionEnd::kOver) return;
    }
}

PtyPeer::PtyPeer(PeerScript script, Delivery delivery)
    : script_(std::move(script)), delivery_(delivery) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return;
    char name[256] = {};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0 || !SetNonBlocking(master_)) {
        return;
    }
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) return;
    cfmakeraw(&settings);
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
        close(slave_);
        slave_ = -1;
        return;
    }
    log_.Connected();
    thread_ = std::thread([this] {
        Bounds bounds{stop_, Clock::now() + kPeerLife};
        // Closing the master also frees a transport stuck in a read when the peer's time is up.
        ServeConnection(master_, false, 0, script_, delivery_, log_, bounds);
        close(master_);
        master_ = -1;
    });
}

PtyPeer::~PtyPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

RefusingPort::RefusingPort(bool ipv6) {
    socket_ = BindLoopback(ipv6);
    if (socket_ >= 0) port_ = BoundPort(socket_);
}

RefusingPort::~RefusingPort() {
    if (socket_ >= 0) close(socket_);
}

std::string ScaleReply(const std::string& command) {
    if (command.size() < 3) return "0e";
    std::string body = command.substr(3);
    if (!body.empty() && body.back() == '\n') body.pop_back();
    if (!body.empty() && body.back() == '\r') body.pop_back();
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(command[2])));
    return std::string("0") + letter + body;
}

PeerScript AnswerAll(const std::string& tag) {
    return [tag](const PeerEvent& event) {
        return PeerAnswer::Reply(ScaleReply(event.command) + tag + "\r\n");
    };
}

}  // namespace transport_test
