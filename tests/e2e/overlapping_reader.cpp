// A program that reads items back from a scale through the shipped library, in its current
// folder, for the tests of sends that overlap in one folder:
//   overlapping_reader read ADDRESS FIRST COUNT   reads items FIRST.. FIRST+COUNT-1, two a call;
//                                                  exits 0 when every call returned WQ_OK
//   overlapping_reader hang ADDRESS                one read from a scale that never answers,
//                                                  waiting a minute: a process to be killed
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vudaduv.h"

namespace {

int32_t Read(const char* address, const std::vector<std::string>& items,
             const std::vector<uint32_t>& settings) {
    std::vector<const char*> lines;
    for (const std::string& item : items) lines.push_back(item.c_str());
    WQST request{{&address, 1},
                 {lines.data(), static_cast<uint32_t>(lines.size())},
                 {settings.data(), static_cast<uint32_t>(settings.size())},
                 2};
    return WQTCPSendST(&request);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "read") == 0) {
        const int first = std::atoi(argv[3]);
        const int count = std::atoi(argv[4]);
        int failed = 0;
        for (int item = first; item < first + count; item += 2) {
            std::vector<std::string> items{std::to_string(item)};
            if (item + 1 < first + count) items.push_back(std::to_string(item + 1));
            if (Read(argv[2], items, {}) != WQ_OK) ++failed;
        }
        return failed == 0 ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "hang") == 0) {
        Read(argv[2], {"1"}, {60000, 60000, 0xFFFFFFFFu});
        return 0;
    }
    return 2;
}
