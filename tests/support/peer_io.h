// The system side of the scale stand-ins: loopback sockets, a line pair standing in for a serial
// line, and moving bytes through them. One implementation per system (scripted_peer_posix.cpp,
// scripted_peer_windows.cpp). No call waits longer than the step it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace transport_test::peer_io {

// One end that a peer talks through: a socket, or the peer's side of a line pair.
struct End {
    enum class Kind { kSocket, kLine };
    std::intptr_t handle = -1;  // a descriptor, a SOCKET or a HANDLE; -1 when closed
    Kind kind = Kind::kSocket;
    bool IsOpen() const { return handle != -1; }
};

enum class Moved {
    kSome,     // count > 0 bytes moved
    kNoneYet,  // nothing this time; try again
    kEnded,    // the other side closed, or the end failed
};

void Close(End& end);

// Closes a connected socket with a reset (RST) instead of an orderly close.
void Reset(End& end);

// Waits at most stepMs for input or for the other side to end; true when a read would not wait.
bool WaitForInput(const End& end, int stepMs);

// Reads what is there, at most size bytes.
Moved ReadSome(const End& end, char* buffer, std::size_t size, std::size_t& count);

// Writes what the end takes within about stepMs, at most size bytes.
Moved WriteSome(const End& end, const char* bytes, std::size_t size, int stepMs,
                std::size_t& count);

// A TCP socket bound to a free port on 127.0.0.1 (or ::1 when ipv6), listening when listen is
// set; a closed End when the system has no such address.
End BindLoopback(bool ipv6, bool listen, std::uint16_t& port);

// A connection waiting on a listening socket, sending small writes at once; a closed End when
// none is waiting.
End Accept(const End& listener);

// How the application opened its line: the transport takes either.
enum class LineMode {
    kBlocking,     // plain blocking descriptor; a HANDLE without overlapped I/O
    kNonBlocking,  // O_NONBLOCK; a HANDLE opened with FILE_FLAG_OVERLAPPED
};

// A pair standing in for a serial line: link, which the test hands to the serial transport, and
// the peer's end. A pseudo-terminal in raw mode on POSIX systems, a named pipe on Windows. False
// when the system cannot make one.
bool OpenLinePair(LineMode mode, End& peerEnd, std::uint32_t& link);
void CloseLink(std::uint32_t link);
bool IsLinkOpen(std::uint32_t link);

// Links that name no line open for reading and writing: a closed one, one open for reading
// only, values that were never handed out. They stay what they are while the object lives.
class UnusableLinks {
  public:
    struct Named {
        std::string name;
        std::uint32_t link;
    };

    UnusableLinks();
    ~UnusableLinks();
    UnusableLinks(const UnusableLinks&) = delete;
    UnusableLinks& operator=(const UnusableLinks&) = delete;

    const std::vector<Named>& All() const { return links_; }

  private:
    std::vector<std::intptr_t> held_;  // kept open while the object lives
    std::vector<Named> links_;
};

}  // namespace transport_test::peer_io
