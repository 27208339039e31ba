// What every fuzz target shares: FuzzCheck for its properties and, unless the target is built as a
// libFuzzer program, a plain main() so that each also runs as an ordinary test. That main feeds
// the files named on the command line (a directory stands for every file in it: the seed corpus
// and the inputs that once broke the target), then a fixed number of generated inputs built from
// the bytes that matter to the codec, the scale and the transports (digits, separators, marker
// letters, reply codes, command prefixes, line ends, high bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

// Aborts with a message when a property does not hold.
inline void FuzzCheck(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

// Reads fuzz input from the front: a byte at a time, then the rest. Past the end every byte
// reads as 0, so a short input is as good as a long one.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    uint8_t Byte() {
        if (rest_.empty()) return 0;
        auto byte = static_cast<uint8_t>(rest_[0]);
        rest_.remove_prefix(1);
        return byte;
    }
    std::string_view Rest() const { return rest_; }

  private:
    std::string_view rest_;
};

#ifndef VUDADUV_LIBFUZZER
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

inline std::string GeneratedInput(std::mt19937& random) {
    static const std::vector<std::string> pieces = {"0",
                                                    "1",
                                                    "2",
                                                    "3",
                                                    "9",
                                                    "A",
                                                    "B",
                                                    "C",
                                                    "D",
                                                    "E",
                                                    "#",
                                                    "##",
                                                    " ",
                                                    "\r\n",
                                                    "\t",
                                                    "-",
                                                    "0u",
                                                    "0w",
                                                    "0y",
                                                    "0n",
                                                    "0s",
                                                    "0q",
                                                    "0k",
                                                    "0v",
                                                    "0f",
                                                    "\x80",
                                                    "\x81",
                                                    "\xA1",
                                                    "\xA8",
                                                    "\xB0\xA1",
                                                    "\xA9\xA6",
                                                    "\xFE",
                                                    "\xFF",
                                                    "\xA8"
                                                    "A",
                                                    "\xA8"
                                                    "#",
                                                    "0333",
                                                    "065",
                                                    "000",
                                                    "0000",
                                                    std::string(1, '\0'),
                                                    "x",
                                                    "P",
                                                    "!0",
                                                    "!0X05A",
                                                    "!0W05A",
                                                    "!0V0012A",
                                                    "!0U0012A",
                                                    "\n",
                                                    "\r",
                                                    ":",
                                                    "[",
                                                    "]",
                                                    "::1",
                                                    "127.0.0.1",
                                                    "\xE4\xBD\xA0",
                                                    "\xC3"};
    std::string input;
    std::size_t count = random() % 64;
    for (std::size_t i = 0; i < count; ++i) input += pieces[random() % pieces.size()];
    return input;
}

// Names the file first, so that a failure shows which input broke the target.
inline void FeedFile(const std::filesystem::path& path) {
    std::fprintf(stderr, "input %s\n", path.string().c_str());
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// How many generated inputs follow the files; a target whose every input is slow where its tests
// run may ask for fewer.
#ifndef VUDADUV_FUZZ_GENERATED
#define VUDADUV_FUZZ_GENERATED 20000
#endif

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (!std::filesystem::exists(path)) {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 1;
        }
        if (!std::filesystem::is_directory(path)) {
            FeedFile(path);
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.is_regular_file()) FeedFile(entry.path());
        }
    }
    std::mt19937 random(20261208);
    for (int i = 0; i < VUDADUV_FUZZ_GENERATED; ++i) {
        std::string input = GeneratedInput(random);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::puts("fuzz inputs passed");
    return 0;
}
#endif
