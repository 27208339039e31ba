// The state directory's files on Windows: durable writes, renames and the lock (LockFileEx on a
// byte far beyond the process id, so that a second sync can still read who holds it; Windows
// drops the lock when its holder dies). Paths are UTF-8, opened through the wide file names:
// a folder may have any name, not only those of the system's code page.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "state_files.h"

namespace vudaduv::fleet {

namespace {

constexpr DWORD kLockedByte = 0x40000000;

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    }
    return wide;
}

std::string Utf8(const wchar_t* wide, int length) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], n, nullptr, nullptr);
    return utf8;
}

// The system's words for the last error, in UTF-8 as the paths beside them.
std::string SystemError() {
    DWORD code = GetLastError();
    wchar_t text[256] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text / sizeof text[0], nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'.')) --n;
    return n > 0 ? Utf8(text, static_cast<int>(n)) : "error " + std::to_string(code);
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(Wide(path).c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteWhole(HANDLE file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

class WindowsLock : public FileLock {
  public:
    explicit WindowsLock(HANDLE file) : file_(file) {}
    ~WindowsLock() override { CloseHandle(file_); }

  private:
    HANDLE file_;
};

}  // namespace

std::filesystem::path FsPath(const std::string& path) {
    return std::filesystem::path(Wide(path));
}

std::string PathText(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    return wide.empty() ? std::string() : Utf8(wide.data(), static_cast<int>(wide.size()));
}

bool ReadFileIfThere(const std::string& path, std::string& bytes, std::string& error) {
    HANDLE file = OpenFile(path, GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return false;
        error = path + ": cannot be read: " + SystemError();
        return false;
    }
    std::string all;
    char buffer[65536];
    DWORD n = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &n, nullptr) != 0) && n > 0) {
        all.append(buffer, n);
    }
    if (!ok) error = path + ": cannot be read: " + SystemError();
    CloseHandle(file);
    if (!ok) return false;
    bytes = std::move(all);
    return true;
}

void RemoveFileIfThere(const std::string& path) {
    DeleteFileW(Wide(path).c_str());
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error) {
    HANDLE file = OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemError();
        return false;
    }
    bool ok = WriteWhole(file, bytes);
    if (!ok) error = SystemError();
    CloseHandle(file);
    return ok;
}

bool AppendToFile(const std::string& path, std::uintmax_t keep, std::string_view bytes,
                  std::string& error) {
    HANDLE file = OpenFile(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = path + ": " + SystemError();
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(
        std::min<std::uintmax_t>(keep, ok ? static_cast<std::uintmax_t>(size.QuadPart) : 0));
    auto cutTo = [file](LARGE_INTEGER place) {
        return SetFilePointerEx(file, place, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    };
    ok = ok && cutTo(at) && WriteWhole(file, bytes);
    if (!ok) {
        error = path + ": " + SystemError();
        // A part written to a full disk keeps it full, and is no confirmed line.
        if (!cutTo(at)) error += " (and it could not be cut back)";
    }
    CloseHandle(file);
    return ok;
}

bool RemoveFile(const std::string& path, std::string& error) {
    if (DeleteFileW(Wide(path).c_str())) return true;
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    error = path + ": " + SystemError();
    return false;
}

bool FlushToDisk(const std::vector<std::string>& paths, std::string& error) {
    for (const std::string& path : paths) {
        HANDLE file = OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
        bool ok = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
        if (!ok) error = path + ": " + SystemError();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!ok) return false;
    }
    return true;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    error = SystemError();
    return false;
}

std::unique_ptr<FileLock> TryLockFile(const std::string& path, std::string& error, bool& held) {
    held = false;
    HANDLE file = OpenFile(path, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = path + ": " + SystemError();
        return nullptr;
    }
    OVERLAPPED at = {};
    at.Offset = kLockedByte;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
        error = path + ": " + SystemError();
        if (busy) {
            char holder[32] = {};
            DWORD n = 0;
            OVERLAPPED start = {};
            if (!ReadFile(file, holder, sizeof holder - 1, &n, &start)) n = 0;
            held = true;
            error =
                LockHolderText(std::string(holder, n), std::to_string(GetCurrentProcessId()), path);
        }
        CloseHandle(file);
        return nullptr;
    }
    std::string pid = std::to_string(GetCurrentProcessId());
    DWORD written = 0;
    OVERLAPPED start = {};
    if (!WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, &start) ||
        SetFilePointer(file, static_cast<LONG>(pid.size()), nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(file)) {
        error = path + ": " + SystemError();
        CloseHandle(file);
        return nullptr;
    }
    return std::make_unique<WindowsLock>(file);
}

}  // namespace vudaduv::fleet
