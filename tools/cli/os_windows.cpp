// The tool's system layer on Windows: Win32 files and directories, console control events for
// the stop, and COM ports for serial lines.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <vector>

#include "os.h"
#include "os_serial.h"

namespace vudaduv::cli::os {

namespace {

constexpr int kTempNameTries = 100;

std::string LastErrorText() {
    DWORD code = GetLastError();
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

// The stop request that the console control handler saw: SIGINT or SIGTERM, 0 for none yet.
std::atomic<int> stopSignal{0};
HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    stopSignal.store(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    SetEvent(stopEvent);
    return TRUE;
}

// "COM10" and above are reachable only through the device namespace; "COM3" works either way.
std::string SerialDeviceName(const std::string& device) {
    bool comPort = device.size() > 3 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE,
                                                       device.c_str(), 3, "COM", 3) == CSTR_EQUAL;
    for (std::size_t i = 3; comPort && i < device.size(); ++i) {
        comPort = device[i] >= '0' && device[i] <= '9';
    }
    return comPort ? "\\\\.\\" + device : device;
}

// A handle as the serial exports take it: Windows handles fit in 32 bits, and the transport
// sign-extends them back.
HANDLE HandleOfLink(uint32_t link) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(link)));
}

// Raw bytes, 8 data bits, no parity, one stop bit, no flow control.
bool ConfigureLine(HANDLE line, DWORD rate) {
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(line, &settings)) return false;
    settings.BaudRate = rate;
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
    return SetCommState(line, &settings) != 0;
}

}  // namespace

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "";
    return std::string(name, size);
}

bool LocalTimeOf(std::time_t when, std::tm& local, long& offsetSeconds) {
    std::tm utc{};
    if (localtime_s(&local, &when) != 0 || gmtime_s(&utc, &when) != 0) return false;
    // The offset is the local clock less UTC's, both read as UTC.
    std::tm asUtc = local;
    offsetSeconds = static_cast<long>(_mkgmtime(&asUtc) - _mkgmtime(&utc));
    return true;
}

void UseRawStandardStreams() {
    std::fflush(stdout);
    // Standard input too: in text mode CR LF would become LF and a 0x1A byte would end the data.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool AppendLocked(const std::string& path, const std::string& bytes, std::string& error) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return false;
    }
    // The lock ends with the handle, also when the process dies.
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = LastErrorText();
        CloseHandle(file);
        return false;
    }
    LARGE_INTEGER before{};
    LARGE_INTEGER zero{};
    std::string text = bytes;
    if (!GetFileSizeEx(file, &before)) error = LastErrorText();
    // A last line left open is closed first, so that the new lines stand on lines of their own.
    if (error.empty() && before.QuadPart > 0) {
        LARGE_INTEGER lastByte{};
        lastByte.QuadPart = before.QuadPart - 1;
        char last = '\n';
        DWORD read = 0;
        if (SetFilePointerEx(file, lastByte, nullptr, FILE_BEGIN) &&
            ReadFile(file, &last, 1, &read, nullptr) && read == 1 && last != '\n') {
            text.insert(0, "\r\n");
        }
    }
    if (error.empty() && !SetFilePointerEx(file, zero, nullptr, FILE_END)) error = LastErrorText();
    std::size_t written = 0;
    while (error.empty() && written < text.size()) {
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1u << 20));
        DWORD done = 0;
        if (!WriteFile(file, text.data() + written, piece, &done, nullptr) || done == 0) {
            error = LastErrorText();
            break;
        }
        written += done;
    }
    if (!error.empty() && written > 0 &&
        (!SetFilePointerEx(file, before, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
        error += " (and the part written could not be taken back)";
    }
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    if (!CloseHandle(file) && error.empty()) error = LastErrorText();
    return error.empty();
}

std::string LocaleCharset() {
    UINT codePage = GetACP();
    return codePage == CP_UTF8 ? "UTF-8" : "CP" + std::to_string(codePage);
}

void HoldStopSignals() {
    if (stopEvent == nullptr) stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int WaitForStopSignal() {
    while (stopSignal.load() == 0) {
        if (stopEvent == nullptr || WaitForSingleObject(stopEvent, INFINITE) == WAIT_FAILED) {
            Sleep(100);
        }
    }
    return stopSignal.load();
}

bool OpenSerialLineAtKnownSpeed(const std::string& device, uint32_t baud, uint32_t& link,
                                std::string& error) {
    HANDLE line = CreateFileA(SerialDeviceName(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (line == INVALID_HANDLE_VALUE) {
        error = "cannot open " + device + ": " + LastErrorText();
        return false;
    }
    // The DCB takes the rate in bits per second as it is.
    if (!ConfigureLine(line, static_cast<DWORD>(baud))) {
        error = "cannot configure " + device + " as a serial line: " + LastErrorText();
        CloseHandle(line);
        return false;
    }
    link = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(line));
    if (HandleOfLink(link) != line) {
        error = "the handle of " + device + " does not fit in 32 bits";
        CloseHandle(line);
        return false;
    }
    return true;
}

void CloseSerialLine(uint32_t link) {
    CloseHandle(HandleOfLink(link));
}

}  // namespace vudaduv::cli::os
