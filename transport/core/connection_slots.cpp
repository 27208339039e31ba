// The rule of connection slots (connection_slots.h).
#include "core/connection_slots.h"

#include <algorithm>

namespace vudaduv::transport {

bool ConnectionSlots::Take(std::size_t waiter) {
    if (held_ < capacity_ && waiting_.empty()) {
        ++held_;
        return true;
    }
    waiting_.push_back(waiter);
    return false;
}

std::size_t ConnectionSlots::GiveBack() {
    if (held_ > 0) --held_;
    if (waiting_.empty() || held_ >= capacity_) return kNoWaiter;
    std::size_t next = waiting_.front();
    waiting_.pop_front();
    ++held_;
    return next;
}

bool ConnectionSlots::WaitForDescriptor(std::size_t waiter) {
    if (held_ <= 1) return false;
    --held_;
    capacity_ = held_;
    waiting_.push_front(waiter);
    return true;
}

void ConnectionSlots::Leave(std::size_t waiter) noexcept {
    auto found = std::find(waiting_.begin(), waiting_.end(), waiter);
    if (found != waiting_.end()) waiting_.erase(found);
}

}  // namespace vudaduv::transport
