#include "scripted_peer.h"

#include <cctype>
#include <chrono>

#include "peer_io.h"

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

bool WaitForInput(const peer_io::End& end, const Bounds& bounds) {
    while (!bounds.Over()) {
        if (peer_io::WaitForInput(end, kStepMs)) return true;
    }
    return false;
}

bool WriteBounded(const peer_io::End& end, const std::string& bytes, const Bounds& bounds) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (bounds.Over()) return false;
        std::size_t count = 0;
        switch (peer_io::WriteSome(end, bytes.data() + done, bytes.size() - done, kStepMs, count)) {
            case peer_io::Moved::kSome:
                done += count;
                break;
            case peer_io::Moved::kNoneYet:
                break;
            case peer_io::Moved::kEnded:
                return false;
        }
    }
    return true;
}

bool Deliver(const peer_io::End& end, const std::string& bytes, Delivery delivery,
             const Bounds& bounds) {
    if (delivery == Delivery::kWhole) return WriteBounded(end, bytes, bounds);
    for (char byte : bytes) {
        if (!WriteBounded(end, std::string(1, byte), bounds)) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return true;
}

enum class SessionEnd { kOtherSideClosed, kHungUp, kOver };

// Reads command lines from end and does what the script says, until one side ends it.
SessionEnd ServeConnection(const peer_io::End& end, int connection, const PeerScript& script,
                           Delivery delivery, PeerLog& log, const Bounds& bounds) {
    std::string pending;
    for (;;) {
        if (!WaitForInput(end, bounds)) return SessionEnd::kOver;
        char piece[4096];
        std::size_t count = 0;
        peer_io::Moved moved = peer_io::ReadSome(end, piece, sizeof piece, count);
        if (moved == peer_io::Moved::kNoneYet) continue;
        if (moved == peer_io::Moved::kEnded) return SessionEnd::kOtherSideClosed;
        pending.append(piece, count);
        for (std::size_t lineEnd = pending.find('\n'); lineEnd != std::string::npos;
             lineEnd = pending.find('\n')) {
            std::string command = pending.substr(0, lineEnd);
            pending.erase(0, lineEnd + 1);
            if (!command.empty() && command.back() == '\r') command.pop_back();
            PeerEvent event{connection, log.ReceivedCount(), command};
            log.Received(command);
            PeerAnswer answer = script(event);
            if (answer.kind == PeerAnswer::Kind::kHangUp) return SessionEnd::kHungUp;
            if (answer.kind == PeerAnswer::Kind::kSilence) continue;
            // Logged first: once the answer is out the test may already be looking.
            log.Answered(command);
            if (!Deliver(end, answer.bytes, delivery, bounds)) return SessionEnd::kOver;
            if (answer.kind == PeerAnswer::Kind::kReplyThenHangUp) return SessionEnd::kHungUp;
        }
        if (pending.size() > kLongestCommand) return SessionEnd::kHungUp;
    }
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
    listener_ = peer_io::BindLoopback(ipv6, true, port_);
    if (listener_.IsOpen()) thread_ = std::thread([this] { Run(); });
}

LoopbackPeer::~LoopbackPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    peer_io::Close(listener_);
}

void LoopbackPeer::Run() {
    Bounds bounds{stop_, Clock::now() + kPeerLife};
    while (WaitForInput(listener_, bounds)) {
        peer_io::End connection = peer_io::Accept(listener_);
        if (!connection.IsOpen()) continue;
        log_.Connected();
        SessionEnd end =
            ServeConnection(connection, log_.Connections() - 1, script_, delivery_, log_, bounds);
        peer_io::Close(connection);
        if (end == SessionEnd::kOver) return;
    }
}

ResettingPeer::ResettingPeer() {
    listener_ = peer_io::BindLoopback(false, true, port_);
    if (!listener_.IsOpen()) return;
    thread_ = std::thread([this] {
        Bounds bounds{stop_, Clock::now() + kPeerLife};
        while (WaitForInput(listener_, bounds)) {
            peer_io::End connection = peer_io::Accept(listener_);
            if (!connection.IsOpen()) continue;
            ++connections_;
            peer_io::Reset(connection);
        }
    });
}

ResettingPeer::~ResettingPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    peer_io::Close(listener_);
}

LinePeer::LinePeer(PeerScript script, Delivery delivery, peer_io::LineMode mode)
    : script_(std::move(script)), delivery_(delivery) {
    open_ = peer_io::OpenLinePair(mode, end_, link_);
    if (!open_) return;
    log_.Connected();
    thread_ = std::thread([this] {
        Bounds bounds{stop_, Clock::now() + kPeerLife};
        // Closing the peer's end also frees a transport stuck in a read when the peer's time is
        // up.
        ServeConnection(end_, 0, script_, delivery_, log_, bounds);
        peer_io::Close(end_);
    });
}

LinePeer::~LinePeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    peer_io::Close(end_);
    if (open_) peer_io::CloseLink(link_);
}

RefusingPort::RefusingPort(bool ipv6) {
    socket_ = peer_io::BindLoopback(ipv6, false, port_);
}

RefusingPort::~RefusingPort() {
    peer_io::Close(socket_);
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
