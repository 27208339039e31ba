// Many scale stand-ins on one thread, for calls to hundreds of scales at once: each scale
// listens on a port of 127.0.0.1 of its own and answers every command line with ScaleReply, its
// tag ("s" and its number) and CR LF, on as many connections as come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace transport_test {

class LoopbackFleet {
  public:
    explicit LoopbackFleet(std::size_t scales);
    ~LoopbackFleet();
    LoopbackFleet(const LoopbackFleet&) = delete;
    LoopbackFleet& operator=(const LoopbackFleet&) = delete;

    std::size_t Size() const;
    std::uint16_t Port(std::size_t scale) const;
    static std::string Tag(std::size_t scale);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace transport_test
