#include "upload/upload_file_lock.h"

namespace vudaduv {

namespace {

std::mutex& ThreadsOfThisProcess() {
    static std::mutex threads;
    return threads;
}

}  // namespace

// The mutex first: the file lock of POSIX belongs to the whole process.
UploadFileLock::UploadFileLock()
    : threads_(ThreadsOfThisProcess()), processes_(kUploadLockFileName) {}

}  // namespace vudaduv
