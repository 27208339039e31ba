#include "temp_directory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace vudaduv::testing {

namespace fs = std::filesystem;

namespace {

// A name no other test process picks: a random number and a per-process counter.
std::string UniqueName() {
    static std::atomic<unsigned> counter{0};
    static const unsigned long long seed =
        std::random_device{}() ^ static_cast<unsigned long long>(
                                     std::chrono::steady_clock::now().time_since_epoch().count());
    return "vudaduv-test-" + std::to_string(seed % 1000000007ULL) + "-" + std::to_string(counter++);
}

}  // namespace

TempDirectory::TempDirectory() : previous_(fs::current_path()) {
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        fs::path candidate = fs::temp_directory_path() / UniqueName();
        std::error_code error;
        if (fs::create_directory(candidate, error)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no temporary directory could be made");
    fs::current_path(path_);
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    // A test may have taken the write right away.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void InTempDirectory::SetUp() {
    directory_.emplace();
}

void InTempDirectory::TearDown() {
    directory_.reset();
}

bool FileExists(const char* path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

std::string ReadWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const char* path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> DirectoryNames(const char* path) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vudaduv::testing
