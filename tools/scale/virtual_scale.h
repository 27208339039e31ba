// The virtual scale: a stand-in for a label scale that speaks the command-line protocol, so the
// library, the transports and the tool can be tried and tested without hardware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vudaduv::scale {

// The port a scale listens on unless told otherwise, and the TCP transport's default.
constexpr uint16_t kDefaultScalePort = 4001;

// The longest command line the scale takes, line end not counted; longer ones get "0eTOOLONG".
constexpr std::size_t kMaxCommandLineBytes = 8192;

// What the scale keeps and how it answers one command line. Thread-safe: several connections
// may share one memory.
class ScaleMemory {
  public:
    ScaleMemory();
    ~ScaleMemory();
    ScaleMemory(const ScaleMemory&) = delete;
    ScaleMemory& operator=(const ScaleMemory&) = delete;

    // One command line without its line end (a trailing CR is ignored) in, exactly one reply
    // line without its line end out.
    std::string Answer(std::string_view commandLine);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

struct ServerOptions {
    std::string host = "127.0.0.1";  // loopback by default
    uint16_t port = 0;               // 0: a free port, chosen by the system
};

// Serves a memory over TCP, any number of connections at once, on threads of its own.
class TcpScaleServer {
  public:
    TcpScaleServer(ScaleMemory& memory, ServerOptions options);
    ~TcpScaleServer();  // stops
    TcpScaleServer(const TcpScaleServer&) = delete;
    TcpScaleServer& operator=(const TcpScaleServer&) = delete;

    bool Start(std::string& error);  // binds and listens; false with a message on failure
    uint16_t Port() const;           // the port bound, after Start
    void Stop();                     // closes the listener and every connection, joins threads

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Serves a memory on a pseudo-terminal whose device path a serial transport can open. Windows
// has none: there Start fails with a message saying so.
class PtyScaleServer {
  public:
    explicit PtyScaleServer(ScaleMemory& memory);
    ~PtyScaleServer();  // stops
    PtyScaleServer(const PtyScaleServer&) = delete;
    PtyScaleServer& operator=(const PtyScaleServer&) = delete;

    bool Start(std::string& error);
    std::string DevicePath() const;  // e.g. /dev/pts/5, after Start
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vudaduv::scale
