// One call at a time on "Rec.txt" of the current folder, from the transport's append of the
// replies to the rewrite's rename: a reply appended in between would be lost.
#pragma once

#include <mutex>

#include "platform/platform.h"

namespace vudaduv {

// The lock file beside "Rec.txt": created by the first call and left in place.
constexpr const char* kUploadLockFileName = "Rec.txt.lock";

// Waits for the calls of this process (one current folder for all its threads) and then for
// those of other processes (the lock file), and holds both until it is destroyed. Where the lock
// file cannot be created, as in a folder that may not be written, only this process's threads
// are kept apart.
class UploadFileLock {
  public:
    UploadFileLock();

  private:
    std::lock_guard<std::mutex> threads_;
    platform::FileLock processes_;
};

}  // namespace vudaduv
