#include "temp_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vudaduv::testing {

namespace fs = std::filesystem;

void InTempDirectory::SetUp() {
    previous_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "vudaduv-core-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    fs::current_path(directory_);
}

void InTempDirectory::TearDown() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    if (!directory_.empty()) {
        // A test may have taken the write right away.
        fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(directory_, ignored);
    }
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

bool MakeReadOnlyUploadFile() {
    if (geteuid() != 0) {
        WriteWholeFile("Rec.txt", "0eREADONLY\r\n");
        fs::permissions("Rec.txt", fs::perms::owner_read | fs::perms::group_read);
        return true;
    }
    // Root may write any file it owns; a sysctl that cannot be changed refuses even root.
    const char* target = "/proc/sys/kernel/osrelease";
    if (access(target, R_OK) != 0) return false;
    int fd = open(target, O_WRONLY);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    std::error_code error;
    fs::create_symlink(target, "Rec.txt", error);
    return !error;
}

}  // namespace vudaduv::testing
