// Loopback TCP for tests, over Asio: a client stream that reads with a bound on the wait, and a
// listener that holds a port. Only loopback addresses are meant here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vudaduv::testing {

enum class ReadStatus { kData, kNothingYet, kClosed };

class LoopbackStream {
  public:
    ~LoopbackStream();
    LoopbackStream(const LoopbackStream&) = delete;
    LoopbackStream& operator=(const LoopbackStream&) = delete;

    // Waits at most waitMs for bytes and appends those that came.
    ReadStatus Read(std::string& out, int waitMs);
    // Writes every byte; false when the peer has gone.
    bool Write(std::string_view bytes);
    // Sends no more: the peer reads the end of the stream, and what it sends still comes.
    bool EndWrites();

  private:
    friend std::unique_ptr<LoopbackStream> ConnectTcp(const std::string&, uint16_t, std::string&);
    struct Impl;
    explicit LoopbackStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Connects to host (a numeric address) and port; null with a message on failure.
std::unique_ptr<LoopbackStream> ConnectTcp(const std::string& host, uint16_t port,
                                           std::string& error);

// A listening socket that takes no connection, to hold a port.
class HeldPort {
  public:
    ~HeldPort();
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    uint16_t Port() const { return port_; }

  private:
    friend std::unique_ptr<HeldPort> ListenTcp(const std::string&, uint16_t, std::string&);
    struct Impl;
    HeldPort(std::unique_ptr<Impl> impl, uint16_t port);
    std::unique_ptr<Impl> impl_;
    uint16_t port_;
};

// Binds host (numeric) and port (0: any free one) and listens; null with a message on failure.
std::unique_ptr<HeldPort> ListenTcp(const std::string& host, uint16_t port, std::string& error);

// Whether the name "localhost" resolves to 127.0.0.1 here. A minimal container may lack
// /etc/hosts, and then the name resolves to nothing (or only through whatever DNS says).
bool LocalhostIsLoopback();

}  // namespace vudaduv::testing
