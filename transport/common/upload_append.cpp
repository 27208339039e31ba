#include "common/upload_append.h"

#include "platform/platform.h"

namespace vudaduv::transport {

namespace {
constexpr const char* kUploadFileName = "Rec.txt";
}

bool AppendRepliesToUploadFile(const std::vector<std::string>& replies) {
    std::string bytes;
    for (const std::string& reply : replies) {
        bytes += reply;
        bytes += "\r\n";
    }
    return platform::AppendFileBytes(kUploadFileName, bytes);
}

}  // namespace vudaduv::transport
