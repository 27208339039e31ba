#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>

#include "peer_io.h"
#include "peer_socket.h"

namespace transport_test::peer_io {

namespace {

// The test program's own use of Winsock, started once and left running.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET SocketOf(const End& end) {
    return static_cast<SOCKET>(end.handle);
}

HANDLE HandleOf(const End& end) {
    return reinterpret_cast<HANDLE>(end.handle);
}

HANDLE LinkHandle(std::uint32_t link) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(static_cast<std::int32_t>(link)));
}

std::uint32_t LinkOf(HANDLE handle) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::intptr_t>(handle));
}

bool SocketReady(SOCKET socket, bool forInput, int stepMs) {
    fd_set watched{};
    watched.fd_count = 1;
    watched.fd_array[0] = socket;
    timeval wait{stepMs / 1000, (stepMs % 1000) * 1000};
    return select(0, forInput ? &watched : nullptr, forInput ? nullptr : &watched, nullptr, &wait) >
           0;
}

Moved SocketMoved(int n, std::size_t& count) {
    count = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (n > 0) return Moved::kSome;
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return Moved::kNoneYet;
    return Moved::kEnded;
}

int CountFor(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

bool PipeBytesWaiting(HANDLE pipe, DWORD& waiting) {
    waiting = 0;
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) != 0;
}

// One transfer on the peer's end of the pipe (opened for overlapped I/O), given up after
// stepMs; what moved before it was given up counts.
template <typename Start>
Moved PipeTransfer(HANDLE pipe, int stepMs, Start start, std::size_t& count) {
    count = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return Moved::kEnded;
    bool started = start(&overlapped) || GetLastError() == ERROR_IO_PENDING;
    DWORD moved = 0;
    bool finished = false;
    if (started) {
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(stepMs)) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &overlapped);
        }
        finished = GetOverlappedResult(pipe, &overlapped, &moved, TRUE) != 0 ||
                   GetLastError() == ERROR_OPERATION_ABORTED;
    }
    CloseHandle(overlapped.hEvent);
    count = moved;
    if (moved > 0) return Moved::kSome;
    return finished ? Moved::kNoneYet : Moved::kEnded;
}

// A name no other pipe of this or another test program has.
std::string UniquePipeName() {
    static std::atomic<unsigned> made{0};
    return "\\\\.\\pipe\\vudaduv-transport-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(made++);
}

SOCKET BindLoopbackSocket(bool ipv6) {
    if (!WinsockStarted()) return INVALID_SOCKET;
    SOCKET socket = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return INVALID_SOCKET;
    // Refusing ports stay bound while the test runs: no other program may take them over.
    BOOL exclusive = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    if (!BindToLoopback(socket, ipv6)) {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

bool SetNonBlocking(SOCKET socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

End SocketEnd(SOCKET socket) {
    return End{static_cast<std::intptr_t>(socket), End::Kind::kSocket};
}

}  // namespace

void Close(End& end) {
    if (!end.IsOpen()) return;
    if (end.kind == End::Kind::kSocket) {
        closesocket(SocketOf(end));
    } else {
        CloseHandle(HandleOf(end));
    }
    end.handle = -1;
}

void Reset(End& end) {
    if (!end.IsOpen()) return;
    linger abrupt{1, 0};
    setsockopt(SocketOf(end), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abrupt),
               sizeof abrupt);
    Close(end);
}

bool WaitForInput(const End& end, int stepMs) {
    if (end.kind == End::Kind::kSocket) return SocketReady(SocketOf(end), true, stepMs);
    // A pipe cannot be waited on for input: it is looked at in short steps.
    for (int waited = 0;; ++waited) {
        DWORD waiting = 0;
        if (!PipeBytesWaiting(HandleOf(end), waiting) || waiting > 0) return true;
        if (waited >= stepMs) return false;
        Sleep(1);
    }
}

Moved ReadSome(const End& end, char* buffer, std::size_t size, std::size_t& count) {
    count = 0;
    if (end.kind == End::Kind::kSocket) {
        return SocketMoved(recv(SocketOf(end), buffer, CountFor(size), 0), count);
    }
    DWORD waiting = 0;
    if (!PipeBytesWaiting(HandleOf(end), waiting)) return Moved::kEnded;
    if (waiting == 0) return Moved::kNoneYet;
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, waiting));
    return PipeTransfer(
        HandleOf(end), 0,
        [&](OVERLAPPED* overlapped) {
            return ReadFile(HandleOf(end), buffer, wanted, nullptr, overlapped);
        },
        count);
}

Moved WriteSome(const End& end, const char* bytes, std::size_t size, int stepMs,
                std::size_t& count) {
    count = 0;
    if (end.kind == End::Kind::kSocket) {
        if (!SocketReady(SocketOf(end), false, stepMs)) return Moved::kNoneYet;
        return SocketMoved(send(SocketOf(end), bytes, CountFor(size), 0), count);
    }
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
    return PipeTransfer(
        HandleOf(end), stepMs,
        [&](OVERLAPPED* overlapped) {
            return WriteFile(HandleOf(end), bytes, wanted, nullptr, overlapped);
        },
        count);
}

End BindLoopback(bool ipv6, bool listen, std::uint16_t& port) {
    SOCKET socket = BindLoopbackSocket(ipv6);
    if (socket == INVALID_SOCKET) return End{};
    if (listen && (::listen(socket, 8) != 0 || !SetNonBlocking(socket))) {
        closesocket(socket);
        return End{};
    }
    port = BoundPort(socket);
    return SocketEnd(socket);
}

End Accept(const End& listener) {
    SOCKET socket = accept(SocketOf(listener), nullptr, nullptr);
    if (socket == INVALID_SOCKET) return End{};
    BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    SetNonBlocking(socket);
    return SocketEnd(socket);
}

// The peer holds the server end of a duplex byte pipe, opened for overlapped I/O so that its
// waits are bounded; the link is the client end, opened as an application opens a port.
bool OpenLinePair(LineMode mode, End& peerEnd, std::uint32_t& link) {
    std::string name = UniquePipeName();
    HANDLE server = CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536,
        65536, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE) return false;
    HANDLE client =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    mode == LineMode::kNonBlocking ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
        CloseHandle(server);
        return false;
    }
    peerEnd = End{reinterpret_cast<std::intptr_t>(server), End::Kind::kLine};
    link = LinkOf(client);
    return true;
}

void CloseLink(std::uint32_t link) {
    CloseHandle(LinkHandle(link));
}

bool IsLinkOpen(std::uint32_t link) {
    DWORD flags = 0;
    return GetHandleInformation(LinkHandle(link), &flags) != 0;
}

UnusableLinks::UnusableLinks() {
    // An event: a handle open for everything, but no line.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The read end of an anonymous pipe: a pipe, but not open for writing.
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (CreatePipe(&readEnd, &writeEnd, nullptr, 0)) CloseHandle(writeEnd);
    // Closed only when the others are open, so that its value is not one of theirs.
    CloseHandle(closed);
    for (HANDLE held : {event, readEnd}) {
        if (held != nullptr) held_.push_back(reinterpret_cast<std::intptr_t>(held));
    }
    links_ = {{"closed", LinkOf(closed)},        {"read end of a pipe", LinkOf(readEnd)},
              {"an event", LinkOf(event)},       {"null", 0},
              {"never handed out", 0x7FFFFFF0u}, {"the process itself (all ones)", 0xFFFFFFFFu},
              {"the thread itself", 0xFFFFFFFEu}};
}

UnusableLinks::~UnusableLinks() {
    for (std::intptr_t handle : held_) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace transport_test::peer_io
