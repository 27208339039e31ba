// A cap on the size of the files this process writes, standing in for a full disk: a write that
// would grow a file past it fails part-way. Lifted again when the object goes.
#pragma once

#include <cstdint>
#include <memory>

namespace vudaduv::testing {

class FileSizeLimit {
  public:
    FileSizeLimit();
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // Caps every file at bytes. False when this system offers no such cap; the test is then
    // skipped.
    bool Set(std::uint64_t bytes);

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace vudaduv::testing
