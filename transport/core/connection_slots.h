// How many connections of a call are open at once: no more than the descriptors allow. The
// scales beyond wait their turn, in order, and a slot given back goes to the first that waits.
// Counters only: it makes no system call, so a command costs what it did.
#pragma once

#include <cstddef>
#include <deque>
#include <limits>

namespace vudaduv::transport {

class ConnectionSlots {
  public:
    static constexpr std::size_t kNoWaiter = std::numeric_limits<std::size_t>::max();

    // capacity 0 reads as 1: a call always gets one connection at a time.
    explicit ConnectionSlots(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

    // True when waiter takes a slot now; otherwise it waits at the end of the line.
    bool Take(std::size_t waiter);

    // A holder's slot given back; the waiter that takes it over (it holds it from now on), or
    // kNoWaiter.
    std::size_t GiveBack();

    // The system had no descriptor for the holder waiter's socket: the rest of the process holds
    // more than was left to it. What the call holds without waiter becomes its capacity, and
    // waiter waits first in line for the next slot given back. False, and nothing changes, when
    // waiter holds the call's only slot: none of the call's own would free a descriptor.
    bool WaitForDescriptor(std::size_t waiter);

    // waiter, which waits, waits no more (its scale ended).
    void Leave(std::size_t waiter) noexcept;

    std::size_t Capacity() const { return capacity_; }
    std::size_t Held() const { return held_; }
    std::size_t Waiting() const { return waiting_.size(); }

  private:
    std::size_t capacity_;
    std::size_t held_ = 0;
    std::deque<std::size_t> waiting_;
};

}  // namespace vudaduv::transport
