// Files and folders the same way on every system, over <filesystem> and <fstream>.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "os.h"

namespace vudaduv::cli::os {

namespace fs = std::filesystem;

namespace {

// The system's reason for the failure that errno holds.
std::string LastReason() {
    return std::error_code(errno, std::generic_category()).message();
}

bool ReadStandardInput(std::string& bytes, std::string& error) {
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes.append(buffer, n);
    if (!std::ferror(stdin)) return true;
    error = LastReason();
    return false;
}

}  // namespace

bool ReadAllBytes(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    if (path.empty()) return ReadStandardInput(bytes, error);
    std::error_code code;
    if (fs::is_directory(fs::u8path(path), code)) {
        error = std::make_error_code(std::errc::is_a_directory).message();
        return false;
    }
    errno = 0;
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) {
        error = errno != 0 ? LastReason() : "cannot be opened";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.bad()) return true;
    error = "a read error";
    return false;
}

bool WriteAllBytes(const std::string& path, const std::string& bytes, std::string& error) {
    errno = 0;
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    if (!out) {
        error = errno != 0 ? LastReason() : "cannot be made";
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    error = errno != 0 ? LastReason() : "not every byte could be written";
    return false;
}

bool ReplaceFileWhole(const std::string& path, const std::string& bytes, std::string& error) {
    std::string temp = path + ".new";
    std::error_code code;
    if (!WriteAllBytes(temp, bytes, error)) {
        fs::remove(fs::u8path(temp), code);
        return false;
    }
    fs::rename(fs::u8path(temp), fs::u8path(path), code);
    if (!code) return true;
    error = code.message();
    fs::remove(fs::u8path(temp), code);
    return false;
}

bool CanWriteFile(const std::string& path, std::string& error) {
    std::error_code missing;
    bool existed = fs::exists(fs::u8path(path), missing);
    errno = 0;
    // Opened for appending, so that a file that is there keeps what it holds.
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::app);
    if (!out) {
        error = errno != 0 ? LastReason() : "cannot be made";
        return false;
    }
    out.close();
    std::error_code ignored;
    if (!existed) fs::remove(fs::u8path(path), ignored);
    return true;
}

bool MakeTempDirectory(const std::string& prefix, std::string& path, std::string& error) {
    std::error_code code;
    fs::path base = fs::temp_directory_path(code);
    if (code) {
        error = "no folder for temporary files: " + code.message();
        return false;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    const char* letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + "-";
        for (int i = 0; i < 8; ++i) name += letters[random() % 36];
        fs::path candidate = base / name;
        // create_directory is false for a name that is taken: then another name.
        if (fs::create_directory(candidate, code)) {
            path = candidate.u8string();
            return true;
        }
        if (code) break;
    }
    error = "cannot create a directory in " + base.u8string() + ": " +
            (code ? code.message() : "every name tried was taken");
    return false;
}

bool ChangeDirectory(const std::string& path) {
    std::error_code code;
    fs::current_path(fs::u8path(path), code);
    return !code;
}

std::string CurrentDirectory() {
    std::error_code code;
    fs::path current = fs::current_path(code);
    return code ? "." : current.u8string();
}

void RemoveFileAndDirectory(const std::string& directory, const std::string& fileName) {
    std::error_code ignored;
    fs::remove(fs::u8path(directory) / fs::u8path(fileName), ignored);
    fs::remove(fs::u8path(directory), ignored);
}

}  // namespace vudaduv::cli::os
