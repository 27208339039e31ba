// What the virtual scale's servers ask of Windows beyond Asio.
// winsock2.h must come before windows.h.
#include <winsock2.h>
// (a group of its own, so that sorting keeps that order)
#include <windows.h>

#include <cstdint>

#include "scale_platform.h"

namespace vudaduv::scale::platform {

// Sockets are handles on Windows, with no per-process limit to raise.
std::size_t RaiseOpenFileLimit(std::size_t) {
    return SIZE_MAX;
}

// SO_REUSEADDR would let a second scale take the port from the first on Windows; claim the port
// for this socket alone instead.
void PrepareToListen(std::uintptr_t socket) {
    BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&on), sizeof on);
}

// Kernel and user time, in the 100 ns units Windows counts in.
std::chrono::nanoseconds ThreadCpuTime() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return std::chrono::nanoseconds(0);
    }
    auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return std::chrono::nanoseconds(100 * (ticks(kernel) + ticks(user)));
}

}  // namespace vudaduv::scale::platform
