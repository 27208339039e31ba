// EncodeLine on any data line of any record type, both text modes.
#include <string>
#include <vector>

#include "encode/encode_line.h"
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    uint32_t recordType = data[0] % 16;
    bool en = (data[0] & 0x80) != 0;
    std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> list{line};
    int result = vudaduv::EncodeLine(recordType, list, en);
    FuzzCheck(result == 0 || result == -1, "EncodeLine returns 0 or -1");
    if (result == -1 || recordType == 0 || recordType > 13) {
        FuzzCheck(list.size() == 1 && list[0] == line, "a rejected or unbuilt line is untouched");
        return 0;
    }
    for (const std::string& command : list) {
        FuzzCheck(command.compare(0, 2, "!0") == 0, "a command line begins with !0");
        FuzzCheck(command.size() >= 5 && command.compare(command.size() - 2, 2, "\r\n") == 0,
                  "a command line ends with CR LF");
    }
    return 0;
}
