// The virtual scale: a stand-in for a label scale that speaks the command-line protocol, so the
// library, the transports and the tool can be tried and tested without hardware.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vudaduv_model.h"
#include "wqdatasend.h"

namespace vudaduv::scale {

// The port a scale listens on unless told otherwise, and the TCP transport's default.
constexpr uint16_t kDefaultScalePort = WQDS_DEFAULT_PORT;

// What a scale keeps and how it answers: the model's.
using model::kMaxCommandLineBytes;
using model::ScaleMemory;
using model::TextMode;

struct ServerOptions {
    std::string host = "127.0.0.1";  // loopback by default
    uint16_t port = 0;  // 0: a free port, chosen by the system; with several scales, the first
                        // of as many consecutive ports (0: a free port each)
    std::chrono::milliseconds replyDelay{0};  // how long a scale takes before every reply
    TextMode mode = TextMode::kZonePosition;  // the text mode of a fleet's scales
};

// "host:port", with the host in brackets when it is an IPv6 address.
std::string ShowAddress(const std::string& host, uint16_t port);

// Serves memories over TCP, each on a port of its own, any number of connections at once. One
// thread runs every listener, connection and reply delay, however many there are.
class TcpScaleServer {
  public:
    TcpScaleServer(ScaleMemory& memory, ServerOptions options);
    // memories[i] is served on the i-th port; the memories outlive the server.
    TcpScaleServer(std::vector<ScaleMemory*> memories, ServerOptions options);
    ~TcpScaleServer();  // stops
    TcpScaleServer(const TcpScaleServer&) = delete;
    TcpScaleServer& operator=(const TcpScaleServer&) = delete;

    // Binds and listens on every port; false with a message naming the address on failure (then
    // nothing listens). Raises the process's open-file limit as far as the scales need and fails
    // when it cannot go that far.
    bool Start(std::string& error);
    uint16_t Port() const;                       // the first port bound, after Start
    const std::vector<uint16_t>& Ports() const;  // every port bound, in the memories' order
    void Stop();  // closes the listeners and every connection, joins the thread

    // The CPU time the server's thread has spent since Start, read by that thread's own clock
    // (the last reading once stopped): what serving costs, apart from whoever talks to it.
    std::chrono::nanoseconds CpuTime() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// count scales, each with a memory of its own, on one server.
class ScaleFleet {
  public:
    ScaleFleet(std::size_t count, ServerOptions options);

    bool Start(std::string& error) { return server_.Start(error); }
    const std::vector<uint16_t>& Ports() const { return server_.Ports(); }
    ScaleMemory& Memory(std::size_t scale) { return *memories_[scale]; }
    void Stop() { server_.Stop(); }
    std::chrono::nanoseconds CpuTime() const { return server_.CpuTime(); }

  private:
    static std::vector<std::unique_ptr<ScaleMemory>> MakeMemories(std::size_t count, TextMode mode);
    static std::vector<ScaleMemory*> MemoriesOf(
        const std::vector<std::unique_ptr<ScaleMemory>>& memories);

    std::vector<std::unique_ptr<ScaleMemory>> memories_;
    TcpScaleServer server_;
};

// How a pseudo-terminal stands in for a serial line: the time its bytes take and the scale's
// own.
struct LinePace {
    uint32_t baud = 0;  // bits per second, 10 a byte (8N1); 0: bytes take no time
    std::chrono::milliseconds replyDelay{0};  // before every reply, once its command is in
};

// Serves a memory on a pseudo-terminal whose device path a serial transport can open, at the
// pace of a line when one is given. Windows has none: there Start fails with a message saying
// so. Stop closes both sides, as an adapter pulled out would.
class PtyScaleServer {
  public:
    explicit PtyScaleServer(ScaleMemory& memory, LinePace pace = {});
    ~PtyScaleServer();  // stops
    PtyScaleServer(const PtyScaleServer&) = delete;
    PtyScaleServer& operator=(const PtyScaleServer&) = delete;

    bool Start(std::string& error);
    std::string DevicePath() const;  // e.g. /dev/pts/5, after Start
    void Stop();

    // The bytes the line has carried so far, both ways: command lines in, replies out.
    uint64_t BytesCarried() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vudaduv::scale
