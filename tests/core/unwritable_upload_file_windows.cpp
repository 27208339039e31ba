#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "temp_directory.h"
#include "unwritable_upload_file.h"

namespace vudaduv::testing {

// Another program holding the file open and letting others only read it.
struct UnwritableUploadFile::Hold {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Hold() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
};

UnwritableUploadFile::UnwritableUploadFile() = default;
UnwritableUploadFile::~UnwritableUploadFile() = default;

bool UnwritableUploadFile::Make() {
    WriteWholeFile("Rec.txt", "0eHELD\r\n");
    hold_ = std::make_unique<Hold>();
    hold_->file = CreateFileA("Rec.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return hold_->file != INVALID_HANDLE_VALUE;
}

}  // namespace vudaduv::testing
