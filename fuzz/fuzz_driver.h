// A plain main() for the fuzz targets, so that each also runs as an ordinary test: it feeds the
// files named on the command line, then a fixed number of generated inputs built from the bytes
// that matter to the codec (digits, separators, marker letters, reply codes, high bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

// Aborts with a message when a property of the codec does not hold.
inline void FuzzCheck(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

#ifndef VUDADUV_LIBFUZZER
inline std::string GeneratedInput(std::mt19937& random) {
    static const std::vector<std::string> pieces = {
        "0", "1", "2", "3", "9", "A", "B", "C", "D", "E", "#", "##", " ", "\r\n", "\t", "-",
        "0u", "0w", "0y", "0n", "0s", "0q", "0k", "0v", "0f", "\x80", "\x81", "\xA1", "\xA8",
        "\xB0\xA1", "\xA9\xA6", "\xFE", "\xFF", "\xA8" "A", "\xA8" "#", "0333", "065", "000",
        "0000", std::string(1, '\0'), "x", "P"};
    std::string input;
    std::size_t count = random() % 64;
    for (std::size_t i = 0; i < count; ++i) input += pieces[random() % pieces.size()];
    return input;
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::mt19937 random(20261208);
    for (int i = 0; i < 20000; ++i) {
        std::string input = GeneratedInput(random);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::puts("fuzz inputs passed");
    return 0;
}
#endif
