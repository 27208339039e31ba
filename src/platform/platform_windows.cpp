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

bool WriteAll(HANDLE file, std::string_view bytes) {
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

// Where a write of path lands: a symbolic link followed to the file it names.
std::string FollowLinks(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    char target[4096];
    DWORD length = GetFinalPathNameByHandleA(file, target, sizeof target, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (length == 0 || length >= sizeof target) return path;
    return std::string(target, length);
}

// Share mode 0: a file that another program holds open, or a read-only one, is not replaced.
bool MayReplace(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    CloseHandle(file);
    return true;
}

// A new file beside path, under a name of its own, open for writing and shared with nobody.
HANDLE CreateFileBeside(const std::string& path, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(attempt) +
               ".tmp";
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool CutBack(HANDLE file, LARGE_INTEGER length) {
    return SetFilePointerEx(file, length, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

bool ReadFileBytes(const char* path, std::string& out) {
    out.clear();
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Room for the whole file at once: growing by doubling would need up to three times its size.
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
        static_cast<unsigned long long>(size.QuadPart) <= out.max_size()) {
        out.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        out.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

namespace {

HANDLE HandleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

FileReplacement::FileReplacement(const char* path) : target_(FollowLinks(path)) {
    if (!MayReplace(target_)) return;
    HANDLE file = CreateFileBeside(target_, temporary_);
    if (file == INVALID_HANDLE_VALUE) return;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    ok_ = true;
}

FileReplacement::~FileReplacement() {
    Discard();
}

void FileReplacement::Discard() {
    if (handle_ == -1) return;
    CloseHandle(HandleOf(handle_));
    DeleteFileA(temporary_.c_str());
    handle_ = -1;
    ok_ = false;
}

bool FileReplacement::Write(std::string_view bytes) {
    ok_ = ok_ && WriteAll(HandleOf(handle_), bytes);
    return ok_;
}

bool FileReplacement::Commit() {
    if (handle_ == -1) return false;
    HANDLE file = HandleOf(handle_);
    bool ok = ok_ && FlushFileBuffers(file);
    handle_ = -1;
    if (!CloseHandle(file)) ok = false;
    ok = ok && MoveFileExA(temporary_.c_str(), target_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(temporary_.c_str());
    return ok;
}

bool ReplaceFileBytes(const char* path, const std::string& bytes) {
    FileReplacement replacement(path);
    return replacement.Write(bytes) && replacement.Commit();
}

// Share mode 0: while the file is appended to nobody else may open it.
bool AppendFileBytes(const char* path, const std::string& bytes) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER start{};
    bool positioned = SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_END);
    bool ok = positioned && WriteAll(file, bytes);
    if (positioned && !ok) CutBack(file, start);  // part of the bytes is worse than none
    if (!CloseHandle(file)) ok = false;
    return ok;
}

FileLock::FileLock(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole{};  // from offset 0 over every byte the file could ever hold
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

FileLock::~FileLock() {
    if (handle_ == -1) return;
    OVERLAPPED whole{};
    UnlockFileEx(HandleOf(handle_), 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(HandleOf(handle_));
}

}  // namespace vudaduv::platform
