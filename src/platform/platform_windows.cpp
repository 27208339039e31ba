#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/platform.h"

namespace vudaduv::platform {

LocalTime GetLocalClock() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute};
}

namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk =
            static_cast<DWORD>(bytes.size() - done > 0x40000000 ? 0x40000000 : bytes.size() - done);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// Share mode 0: while the file is written nobody else may open it, and a file that another
// program holds open cannot be replaced.
bool WriteWholeFile(const char* path, const std::string& bytes, DWORD disposition, bool append) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    if (append) {
        LARGE_INTEGER zero{};
        ok = SetFilePointerEx(file, zero, nullptr, FILE_END) != 0;
    }
    ok = ok && WriteAll(file, bytes);
    if (!CloseHandle(file)) ok = false;
    return ok;
}

}  // namespace

bool ReadFileBytes(const char* path, std::string& out) {
    out.clear();
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        out.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool ReplaceFileBytes(const char* path, const std::string& bytes) {
    return WriteWholeFile(path, bytes, CREATE_ALWAYS, false);
}

bool AppendFileBytes(const char* path, const std::string& bytes) {
    return WriteWholeFile(path, bytes, OPEN_ALWAYS, true);
}

}  // namespace vudaduv::platform
