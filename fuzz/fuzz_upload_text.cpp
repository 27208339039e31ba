// The upload rewrite on any reply file, both text modes.
#include <string>

#include "fuzz_driver.h"
#include "upload/upload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);
    for (bool en : {false, true}) {
        std::string output = vudaduv::ConvertUploadText(file, en);
        FuzzCheck(output.empty() || output.compare(output.size() - 2, 2, "\r\n") == 0,
                  "upload text ends with CR LF");
        FuzzCheck(output.find("\r\n\r\n") == std::string::npos && output.compare(0, 2, "\r\n") != 0,
                  "no empty upload line");
    }
    return 0;
}
