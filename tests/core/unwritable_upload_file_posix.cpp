#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "temp_directory.h"
#include "unwritable_upload_file.h"

namespace vudaduv::testing {

namespace fs = std::filesystem;

struct UnwritableUploadFile::Hold {};

UnwritableUploadFile::UnwritableUploadFile() = default;
UnwritableUploadFile::~UnwritableUploadFile() = default;

// A read-only file for an ordinary user; root may write any file, so for root a link to a
// kernel setting that cannot be changed, which refuses even root.
bool UnwritableUploadFile::Make() {
    if (geteuid() != 0) {
        WriteWholeFile("Rec.txt", "0eREADONLY\r\n");
        fs::permissions("Rec.txt", fs::perms::owner_read | fs::perms::group_read);
        return true;
    }
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
