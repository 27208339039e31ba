#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "core/serial_line.h"
#include "vudaduv_transport.h"

namespace vudaduv::transport::serial {

namespace {

// How long a wait for input on a pipe sleeps before it looks again: a pipe has no read
// time-out of its own.
constexpr DWORD kPipeStepMs = 2;

// The most one ReadFile or WriteFile moves.
constexpr std::size_t kLargestTransfer = 1 << 20;

// A line is a communications device, or a pipe standing in for one (a virtual port, a test).
enum class LineKind { kCommDevice, kPipe, kOther };

HANDLE LineHandle(std::uint32_t link) {
    // Handles fit in 32 bits even in 64-bit processes; they are sign-extended back.
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(static_cast<std::int32_t>(link)));
}

LineKind KindOf(HANDLE line) {
    COMMTIMEOUTS timeouts;
    if (GetCommTimeouts(line, &timeouts)) return LineKind::kCommDevice;
    if (GetFileType(line) == FILE_TYPE_PIPE) return LineKind::kPipe;
    return LineKind::kOther;
}

bool OpenForReadingAndWriting(HANDLE line) {
    PUBLIC_OBJECT_BASIC_INFORMATION information{};
    ULONG length = 0;
    if (!NT_SUCCESS(NtQueryObject(line, ObjectBasicInformation, &information, sizeof information,
                                  &length))) {
        return false;
    }
    const ACCESS_MASK readWrite = FILE_READ_DATA | FILE_WRITE_DATA;
    return (information.GrantedAccess & readWrite) == readWrite;
}

StreamStatus LineErrorStatus(DWORD error) {
    switch (error) {
        // The other end of a pipe is gone, or the device (a USB adapter) was pulled out.
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED:
        case ERROR_HANDLE_EOF:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_BAD_COMMAND:
            return StreamStatus::kClosed;
        default:
            return StreamStatus::kFailed;
    }
}

DWORD MillisecondsLeft(const Deadline& deadline) {
    return static_cast<DWORD>(deadline.RemainingMilliseconds());
}

// A manual-reset event for one transfer, closed with it.
class TransferEvent {
  public:
    TransferEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~TransferEvent() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    TransferEvent(const TransferEvent&) = delete;
    TransferEvent& operator=(const TransferEvent&) = delete;
    HANDLE Get() const { return event_; }

  private:
    HANDLE event_;
};

// One ReadFile or WriteFile (started by start with an OVERLAPPED), over by the deadline. The
// application may have opened the line for overlapped I/O or not; an OVERLAPPED with an event
// serves both. On a line without overlapped I/O the call itself must be bounded: by the device's
// time-outs, or by moving no more than is waiting. moved may be below the size asked for.
template <typename Start>
StreamStatus Transfer(HANDLE line, const Deadline& deadline, Start start, DWORD& moved) {
    moved = 0;
    TransferEvent event;
    if (event.Get() == nullptr) return StreamStatus::kFailed;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    BOOL done = start(&overlapped);
    if (!done && GetLastError() != ERROR_IO_PENDING) return LineErrorStatus(GetLastError());
    if (!done && WaitForSingleObject(event.Get(), MillisecondsLeft(deadline)) != WAIT_OBJECT_0) {
        // Given up: the transfer is cancelled, but what it moved meanwhile still counts.
        CancelIoEx(line, &overlapped);
    }
    if (GetOverlappedResult(line, &overlapped, &moved, TRUE)) return StreamStatus::kOk;
    DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) return StreamStatus::kOk;  // moved says how much
    return LineErrorStatus(error);
}

DWORD CountFor(std::size_t size) {
    return static_cast<DWORD>(std::min(size, kLargestTransfer));
}

StreamStatus ReadOnce(HANDLE line, char* buffer, std::size_t size, const Deadline& deadline,
                      DWORD& got) {
    return Transfer(
        line, deadline,
        [&](OVERLAPPED* overlapped) {
            return ReadFile(line, buffer, CountFor(size), nullptr, overlapped);
        },
        got);
}

StreamStatus WriteOnce(HANDLE line, const char* bytes, std::size_t size, const Deadline& deadline,
                       DWORD& written) {
    return Transfer(
        line, deadline,
        [&](OVERLAPPED* overlapped) {
            return WriteFile(line, bytes, CountFor(size), nullptr, overlapped);
        },
        written);
}

// Sets the device's time-outs for one transfer and puts the application's back afterwards.
class BorrowedTimeouts {
  public:
    explicit BorrowedTimeouts(HANDLE line) : line_(line) {
        saved_ = GetCommTimeouts(line_, &original_) != 0;
    }
    ~BorrowedTimeouts() {
        if (saved_) SetCommTimeouts(line_, &original_);
    }
    BorrowedTimeouts(const BorrowedTimeouts&) = delete;
    BorrowedTimeouts& operator=(const BorrowedTimeouts&) = delete;

    // A read returns as soon as one byte is there, or after milliseconds with none.
    bool ForRead(DWORD milliseconds) {
        COMMTIMEOUTS timeouts = original_;
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = milliseconds;
        return saved_ && SetCommTimeouts(line_, &timeouts);
    }

    // A write gives up after milliseconds, whatever it moved by then.
    bool ForWrite(DWORD milliseconds) {
        COMMTIMEOUTS timeouts = original_;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = milliseconds;
        return saved_ && SetCommTimeouts(line_, &timeouts);
    }

  private:
    HANDLE line_;
    COMMTIMEOUTS original_{};
    bool saved_;
};

// A device set to stop on a line error (fAbortOnError) refuses every transfer until the error
// is read; reading it costs nothing on a device that is not.
void ClearLineErrors(HANDLE line) {
    DWORD errors = 0;
    ClearCommError(line, &errors, nullptr);
}

StreamStatus ReadFromDevice(HANDLE line, char* buffer, std::size_t capacity,
                            const Deadline& deadline, std::size_t& received) {
    for (DWORD left = MillisecondsLeft(deadline); left > 0; left = MillisecondsLeft(deadline)) {
        ClearLineErrors(line);
        BorrowedTimeouts timeouts(line);
        if (!timeouts.ForRead(left)) return StreamStatus::kFailed;
        DWORD got = 0;
        StreamStatus status = ReadOnce(line, buffer, capacity, deadline, got);
        if (status != StreamStatus::kOk) return status;
        if (got > 0) {
            received = got;
            return StreamStatus::kOk;
        }
    }
    return StreamStatus::kTimeout;
}

// The bytes a pipe holds for reading. False, with the error, when its other end is gone.
bool BytesWaitingInPipe(HANDLE line, DWORD& waiting, DWORD& error) {
    waiting = 0;
    if (PeekNamedPipe(line, nullptr, 0, nullptr, &waiting, nullptr)) return true;
    error = GetLastError();
    return false;
}

StreamStatus ReadFromPipe(HANDLE line, char* buffer, std::size_t capacity, const Deadline& deadline,
                          std::size_t& received) {
    for (;;) {
        DWORD waiting = 0;
        DWORD error = 0;
        if (!BytesWaitingInPipe(line, waiting, error)) return LineErrorStatus(error);
        if (waiting > 0) {
            // No more than is waiting, so that the read returns at once.
            DWORD got = 0;
            StreamStatus status =
                ReadOnce(line, buffer, std::min<std::size_t>(capacity, waiting), deadline, got);
            if (status != StreamStatus::kOk) return status;
            if (got > 0) {
                received = got;
                return StreamStatus::kOk;
            }
        }
        DWORD left = MillisecondsLeft(deadline);
        if (left == 0) return StreamStatus::kTimeout;
        Sleep(std::min(left, kPipeStepMs));
    }
}

// Writes a piece within the time left; a device gives up by its write time-out, a pipe
// without overlapped I/O once its other end has taken the bytes.
StreamStatus WritePiece(HANDLE line, LineKind kind, const char* bytes, std::size_t size,
                        const Deadline& deadline, DWORD& written) {
    written = 0;
    DWORD left = MillisecondsLeft(deadline);
    if (left == 0) return StreamStatus::kTimeout;
    if (kind != LineKind::kCommDevice) return WriteOnce(line, bytes, size, deadline, written);
    ClearLineErrors(line);
    BorrowedTimeouts timeouts(line);
    if (!timeouts.ForWrite(left)) return StreamStatus::kFailed;
    return WriteOnce(line, bytes, size, deadline, written);
}

// Drops what the pipe held when asked; what comes in meanwhile is left for the next read.
void DiscardPipeInput(HANDLE line) {
    DWORD waiting = 0;
    DWORD error = 0;
    if (!BytesWaitingInPipe(line, waiting, error)) return;
    char dropped[4096];
    const Deadline atOnce(0);
    while (waiting > 0) {
        DWORD got = 0;
        std::size_t size = std::min<std::size_t>(sizeof dropped, waiting);
        if (ReadOnce(line, dropped, size, atOnce, got) != StreamStatus::kOk || got == 0) return;
        waiting -= std::min(waiting, got);
    }
}

// "COMn" as CreateFile takes every port, past COM9 too: "\\.\COMn". Any other name as it is.
std::string DeviceFileName(const std::string& device) {
    std::string identity = SerialLineIdentity(device);
    bool comPort = identity.size() > 3 && identity.compare(0, 3, "COM") == 0 &&
                   std::all_of(identity.begin() + 3, identity.end(),
                               [](char c) { return c >= '0' && c <= '9'; });
    return comPort ? "\\\\.\\" + identity : device;
}

std::int32_t OpenFailure(DWORD error, std::string& cause) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            cause = "no such device";
            return WQDS_BAD_ADDRESS;
        case ERROR_ACCESS_DENIED:  // opened with no sharing, by whoever holds it
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            cause = "in use by another process";
            return WQDS_REFUSED;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_TOO_MANY_OPEN_FILES:
            cause = "no memory or handle left";
            return WQDS_INTERNAL;
        default:
            cause = "cannot be opened (error " + std::to_string(error) + ")";
            return WQDS_REFUSED;
    }
}

// Raw bytes, 8 data bits, no parity, one stop bit, no flow control, at the rate.
bool SetRaw(HANDLE line, DCB settings, std::uint32_t baud) {
    settings.BaudRate = baud;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fNull = FALSE;
    settings.fAbortOnError = FALSE;
    if (!SetCommState(line, &settings)) return false;
    // A read waits for its first byte and returns once the line is quiet for a moment; the
    // session's own alarm bounds every wait.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    return SetCommTimeouts(line, &timeouts) != 0;
}

}  // namespace

struct HeldLine::Saved {
    DCB settings{};
    COMMTIMEOUTS timeouts{};
};

HeldLine::HeldLine() : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {}

HeldLine::~HeldLine() {
    Close();
}

std::int32_t HeldLine::Open(const std::string& device, std::uint32_t baud, std::string& cause) {
    Close();
    // No sharing: another process that opens the port is refused for as long as it is held.
    HANDLE line = CreateFileA(DeviceFileName(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (line == INVALID_HANDLE_VALUE) return OpenFailure(GetLastError(), cause);
    auto saved = std::make_unique<Saved>();
    saved->settings.DCBlength = sizeof saved->settings;
    std::int32_t code = WQDS_OK;
    if (!GetCommState(line, &saved->settings) || !GetCommTimeouts(line, &saved->timeouts)) {
        cause = "not a serial line";
        code = WQDS_BAD_ADDRESS;
    } else if (!SetRaw(line, saved->settings, baud)) {
        cause = "the line does not take " + std::to_string(baud) + " baud";
        code = WQDS_REFUSED;
    }
    if (code != WQDS_OK) {
        CloseHandle(line);
        return code;
    }
    PurgeComm(line, PURGE_RXCLEAR | PURGE_TXCLEAR);
    handle_ = reinterpret_cast<std::intptr_t>(line);
    saved_ = std::move(saved);
    return WQDS_OK;
}

void HeldLine::DiscardInput() noexcept {
    if (saved_) PurgeComm(reinterpret_cast<HANDLE>(handle_), PURGE_RXCLEAR);
}

void HeldLine::Release() noexcept {
    if (!saved_) return;
    HANDLE line = reinterpret_cast<HANDLE>(handle_);
    SetCommState(line, &saved_->settings);
    SetCommTimeouts(line, &saved_->timeouts);
    handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    saved_.reset();
}

void HeldLine::Close() noexcept {
    if (!saved_) return;
    HANDLE line = reinterpret_cast<HANDLE>(handle_);
    Release();
    CloseHandle(line);
}

bool IsOpenLine(std::uint32_t link) {
    HANDLE line = LineHandle(link);
    if (line == nullptr || line == INVALID_HANDLE_VALUE) return false;
    return KindOf(line) != LineKind::kOther && OpenForReadingAndWriting(line);
}

StreamStatus SerialLine::WriteAll(const std::string& bytes, const Deadline& deadline) {
    HANDLE line = LineHandle(link_);
    LineKind kind = KindOf(line);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        StreamStatus status =
            WritePiece(line, kind, bytes.data() + done, bytes.size() - done, deadline, written);
        if (status != StreamStatus::kOk) return status;
        done += written;
    }
    return StreamStatus::kOk;
}

StreamStatus SerialLine::ReadSome(char* buffer, std::size_t capacity, const Deadline& deadline,
                                  std::size_t& received) {
    received = 0;
    HANDLE line = LineHandle(link_);
    if (KindOf(line) == LineKind::kCommDevice) {
        return ReadFromDevice(line, buffer, capacity, deadline, received);
    }
    return ReadFromPipe(line, buffer, capacity, deadline, received);
}

void SerialLine::DiscardInput() {
    HANDLE line = LineHandle(link_);
    if (KindOf(line) == LineKind::kCommDevice) {
        PurgeComm(line, PURGE_RXCLEAR);
    } else {
        DiscardPipeInput(line);
    }
}

}  // namespace vudaduv::transport::serial

namespace vudaduv::transport {

// Windows names a port alike in any case, with or without the prefix of the device namespace.
std::string SerialLineIdentity(const std::string& device) {
    std::string name = device;
    if (name.size() > 4 && name.compare(0, 4, "\\\\.\\") == 0) name.erase(0, 4);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace vudaduv::transport
