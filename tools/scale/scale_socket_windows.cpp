// The socket layer of the virtual scale on Windows, over Winsock 2.
#include <algorithm>
#include <cstdint>

#include "scale_socket.h"

namespace vudaduv::scale::platform {

namespace {

constexpr int kReadChunk = 4096;
constexpr int kWriteWaitMs = 50;  // how often a blocked write looks at the stop flag

// Winsock must be started once in every process before the first socket call.
bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::string ErrorText(int code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "Winsock error " + std::to_string(code);
    return message;
}

bool WouldBlock() {
    int code = WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAEINTR;
}

// Waits at most waitMs until socket is readable (or, with forWrite, writable).
bool WaitFor(SOCKET socket, bool forWrite, int waitMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval timeout{waitMs / 1000, (waitMs % 1000) * 1000};
    int ready = forWrite ? select(0, nullptr, &set, nullptr, &timeout)
                         : select(0, &set, nullptr, nullptr, &timeout);
    return ready > 0;
}

class WinsockStream : public Stream {
  public:
    explicit WinsockStream(SOCKET socket) : socket_(socket) { MakeNonBlocking(socket_); }
    ~WinsockStream() override { closesocket(socket_); }
    WinsockStream(const WinsockStream&) = delete;
    WinsockStream& operator=(const WinsockStream&) = delete;

    ReadStatus Read(std::string& out, int waitMs) override {
        if (!WaitFor(socket_, false, waitMs)) return ReadStatus::kNothingYet;
        char buffer[kReadChunk];
        int got = recv(socket_, buffer, sizeof buffer, 0);
        if (got > 0) {
            out.append(buffer, static_cast<std::size_t>(got));
            return ReadStatus::kData;
        }
        if (got < 0 && WouldBlock()) return ReadStatus::kNothingYet;
        return ReadStatus::kClosed;
    }

    bool Write(std::string_view bytes, const std::atomic<bool>& stop) override {
        while (!bytes.empty()) {
            int piece = static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 20));
            int sent = send(socket_, bytes.data(), piece, 0);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(sent));
            } else if (sent < 0 && WouldBlock()) {
                if (stop.load()) return false;
                WaitFor(socket_, true, kWriteWaitMs);
            } else {
                return false;
            }
        }
        return true;
    }

  private:
    SOCKET socket_;
};

}  // namespace

bool StartSockets(std::string& error) {
    if (WinsockStarted()) return true;
    error = "Winsock could not be started";
    return false;
}

std::string AddressErrorText(int status) {
    return ErrorText(status);
}

std::string SocketError(const char* what) {
    return std::string(what) + ": " + ErrorText(WSAGetLastError());
}

void CloseSocket(SocketHandle socket) {
    closesocket(socket);
}

void MakeNonBlocking(SocketHandle socket) {
    u_long on = 1;
    ioctlsocket(socket, FIONBIO, &on);
}

std::unique_ptr<Stream> SocketStream(SocketHandle socket) {
    return std::make_unique<WinsockStream>(socket);
}

}  // namespace vudaduv::scale::platform
