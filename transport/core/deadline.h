// A point in time that every wait of one exchange counts down to, so that a reply arriving in
// many small pieces still has to be whole within one time-out.
#pragma once

#include <chrono>
#include <cstdint>

namespace vudaduv::transport {

class Deadline {
  public:
    explicit Deadline(std::uint32_t milliseconds);

    // Whole milliseconds left, rounded up so that a wait never ends early; 0 once passed, at most
    // the largest int (the unit of poll-style waits).
    int RemainingMilliseconds() const;

  private:
    std::chrono::steady_clock::time_point end_;
};

}  // namespace vudaduv::transport
