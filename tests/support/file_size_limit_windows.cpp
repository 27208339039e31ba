#include "file_size_limit.h"

namespace vudaduv::testing {

// Windows caps no file's size per process.
struct FileSizeLimit::Saved {};

FileSizeLimit::FileSizeLimit() = default;
FileSizeLimit::~FileSizeLimit() = default;

bool FileSizeLimit::Set(std::uint64_t) {
    return false;
}

}  // namespace vudaduv::testing
