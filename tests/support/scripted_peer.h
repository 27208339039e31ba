// Scale stand-ins for the transport tests: they read command lines and do what a script says
// with each one (answer, stay silent, hang up), over a loopback socket or a line pair standing in
// for a serial line.
// Every peer runs on a thread of its own, waits in short steps and stops by itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peer_io.h"

namespace transport_test {

struct PeerEvent {
    int connection;        // 0 for the first connection
    std::size_t received;  // command lines received before this one, over all connections
    std::string command;   // without its CR LF
};

struct PeerAnswer {
    enum class Kind { kReply, kSilence, kHangUp, kReplyThenHangUp };
    Kind kind = Kind::kReply;
    std::string bytes;  // written for the replies, as they are (line ends included)

    static PeerAnswer Reply(std::string bytes) {
        return PeerAnswer{Kind::kReply, std::move(bytes)};
    }
    static PeerAnswer Silence() { return PeerAnswer{Kind::kSilence, ""}; }
    static PeerAnswer HangUp() { return PeerAnswer{Kind::kHangUp, ""}; }
    static PeerAnswer ReplyThenHangUp(std::string bytes) {
        return PeerAnswer{Kind::kReplyThenHangUp, std::move(bytes)};
    }
};

using PeerScript = std::function<PeerAnswer(const PeerEvent&)>;

// How the bytes of an answer go out: in one write, or one byte a write with pauses between.
enum class Delivery { kWhole, kByteByByte };

// What a peer saw, shared between its thread and the test.
class PeerLog {
  public:
    void Connected();
    void Received(const std::string& command);
    void Answered(const std::string& command);

    std::vector<std::vector<std::string>> PerConnection() const;
    std::vector<std::string> Received() const;  // every command line, over all connections
    std::vector<std::string> Answered() const;  // the commands that got an answer
    int Connections() const;
    std::size_t ReceivedCount() const;

    // Waits (at most a few seconds) until count command lines have come.
    void WaitForReceived(std::size_t count) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::string>> perConnection_;
    std::vector<std::string> answered_;
};

// Listens on a loopback address (127.0.0.1, or ::1 when ipv6) and serves one connection after
// another.
class LoopbackPeer {
  public:
    LoopbackPeer(bool ipv6, PeerScript script, Delivery delivery = Delivery::kWhole);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool Listening() const { return listener_.IsOpen(); }
    std::uint16_t Port() const { return port_; }
    const PeerLog& Log() const { return log_; }

  private:
    void Run();

    PeerScript script_;
    Delivery delivery_;
    PeerLog log_;
    peer_io::End listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Listens on 127.0.0.1 and resets every connection as soon as it has taken it, as a scale does
// that is starting up or has no room for another client.
class ResettingPeer {
  public:
    ResettingPeer();
    ~ResettingPeer();
    ResettingPeer(const ResettingPeer&) = delete;
    ResettingPeer& operator=(const ResettingPeer&) = delete;

    bool Listening() const { return listener_.IsOpen(); }
    std::uint16_t Port() const { return port_; }
    int Connections() const { return connections_.load(); }

  private:
    peer_io::End listener_;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A line pair (see peer_io.h): the test hands link to the serial transport, the peer answers on
// its own end. Hanging up closes the peer's end.
class LinePeer {
  public:
    explicit LinePeer(PeerScript script, Delivery delivery = Delivery::kWhole,
                      peer_io::LineMode mode = peer_io::LineMode::kBlocking);
    ~LinePeer();
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    bool Open() const { return open_; }
    std::uint32_t Link() const { return link_; }
    const PeerLog& Log() const { return log_; }

  private:
    PeerScript script_;
    Delivery delivery_;
    PeerLog log_;
    peer_io::End end_;
    std::uint32_t link_ = 0;
    bool open_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A loopback port where nobody listens: bound, so no one else takes it, but not listening, so
// every connection is refused. ipv6: on ::1.
class RefusingPort {
  public:
    explicit RefusingPort(bool ipv6 = false);
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return port_; }

  private:
    peer_io::End socket_;
    std::uint16_t port_ = 0;
};

// The scale's acknowledgement form: "!0U0003A" -> "0u0003A".
std::string ScaleReply(const std::string& command);

// A script that answers every command with ScaleReply + tag + CR LF.
PeerScript AnswerAll(const std::string& tag = "");

}  // namespace transport_test
