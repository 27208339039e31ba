// A "Rec.txt" that can be read but not created anew for writing, as when another program holds
// it or the directory forbids it.
#pragma once

#include <memory>

namespace vudaduv::testing {

class UnwritableUploadFile {
  public:
    UnwritableUploadFile();
    ~UnwritableUploadFile();
    UnwritableUploadFile(const UnwritableUploadFile&) = delete;
    UnwritableUploadFile& operator=(const UnwritableUploadFile&) = delete;

    // Puts such a file, holding one token, in place of "Rec.txt" in the current directory. False
    // when this system offers no way to make one; the test is then skipped.
    bool Make();

  private:
    struct Hold;
    std::unique_ptr<Hold> hold_;
};

}  // namespace vudaduv::testing
