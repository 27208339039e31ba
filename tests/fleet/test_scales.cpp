// The virtual scales and scratch directories of the C test, behind a C interface.
#include "test_scales.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scripted_peer.h"
#include "virtual_scale.h"

namespace {

namespace scale = vudaduv::scale;

std::vector<std::unique_ptr<scale::ScaleFleet>> fleets;
std::vector<std::unique_ptr<scale::ScaleMemory>> lineMemories;
std::vector<std::unique_ptr<scale::PtyScaleServer>> lines;
std::vector<std::filesystem::path> directories;
std::vector<std::unique_ptr<transport_test::RefusingPort>> refusing;
std::thread thread;

void WriteAddress(uint16_t port, char* address) {
    std::snprintf(address, TEST_ADDRESS_SIZE, "127.0.0.1:%u", static_cast<unsigned>(port));
}

}  // namespace

extern "C" int TestScalesStart(uint32_t count, uint32_t reply_delay_ms,
                               char (*addresses)[TEST_ADDRESS_SIZE]) {
    try {
        scale::ServerOptions options;
        options.replyDelay = std::chrono::milliseconds(reply_delay_ms);
        auto fleet = std::make_unique<scale::ScaleFleet>(count, options);
        std::string error;
        if (!fleet->Start(error)) {
            std::fprintf(stderr, "no virtual scales: %s\n", error.c_str());
            return 1;
        }
        for (uint32_t i = 0; i < count; ++i) WriteAddress(fleet->Ports()[i], addresses[i]);
        fleets.push_back(std::move(fleet));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "no virtual scales: %s\n", e.what());
        return 1;
    }
}

extern "C" int TestScalesStartLines(uint32_t count, uint32_t baud,
                                    char (*addresses)[TEST_ADDRESS_SIZE]) {
    try {
        for (uint32_t i = 0; i < count; ++i) {
            lineMemories.push_back(std::make_unique<scale::ScaleMemory>(scale::TextMode{}));
            scale::LinePace pace;
            pace.baud = baud;
            lines.push_back(std::make_unique<scale::PtyScaleServer>(*lineMemories.back(), pace));
            std::string error;
            if (!lines.back()->Start(error)) {
                std::fprintf(stderr, "no pseudo-terminal: %s\n", error.c_str());
                return 1;
            }
            std::snprintf(addresses[i], TEST_ADDRESS_SIZE, "serial:%s",
                          lines.back()->DevicePath().c_str());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", e.what());
        return 1;
    }
}

extern "C" void TestScalesStopLines(void) {
    lines.clear();
    lineMemories.clear();
}

extern "C" int TestScalesDownAddress(char address[TEST_ADDRESS_SIZE]) {
    // A port held bound and not listening: a connection is refused, and no server started beside
    // it (the thousand scales of another test) can take it, as it could a port freed again.
    try {
        auto port = std::make_unique<transport_test::RefusingPort>();
        if (port->Port() == 0) return 1;
        WriteAddress(port->Port(), address);
        refusing.push_back(std::move(port));
        return 0;
    } catch (const std::exception&) {
        return 1;
    }
}

extern "C" void TestScalesStop(void) {
    TestScalesStopLines();
    fleets.clear();
    refusing.clear();
    std::error_code ignored;
    for (const auto& directory : directories) std::filesystem::remove_all(directory, ignored);
    directories.clear();
}

extern "C" int TestScalesDirectory(char* path, size_t size) {
    try {
        std::random_device random;
        auto made = std::filesystem::temp_directory_path() /
                    ("vudaduv_fleet_c_" + std::to_string(random()) + std::to_string(random()));
        if (!std::filesystem::create_directory(made)) return 1;
        directories.push_back(made);
        std::string text = made.u8string();
        if (text.size() >= size) return 1;
        std::snprintf(path, size, "%s", text.c_str());
        return 0;
    } catch (const std::exception&) {
        return 1;
    }
}

extern "C" int TestFileThere(const char* path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(std::filesystem::u8path(path), ignored) ? 1 : 0;
}

extern "C" int TestThreadStart(void (*run)(void*), void* argument) {
    try {
        thread = std::thread(run, argument);
        return 0;
    } catch (...) {
        return 1;
    }
}

extern "C" void TestThreadJoin(void) {
    if (thread.joinable()) thread.join();
}

extern "C" void TestSleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
