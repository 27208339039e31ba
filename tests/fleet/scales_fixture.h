// A fleet test's ground: a scratch directory it runs in and virtual scales on loopback ports.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "temp_directory.h"
#include "virtual_scale.h"

namespace vudaduv::fleet {

class OnVirtualScales : public testing::InTempDirectory {
  protected:
    explicit OnVirtualScales(std::size_t count) : count_(count) {}

    void SetUp() override {
        InTempDirectory::SetUp();
        StartScales(scale::ServerOptions{});
    }

    // Starts the scales afresh (new memories, new ports) with options; addresses_ follows.
    void StartScales(const scale::ServerOptions& options) {
        addresses_.clear();
        fleet_ = std::make_unique<scale::ScaleFleet>(count_, options);
        std::string error;
        ASSERT_TRUE(fleet_->Start(error)) << error;
        for (std::uint16_t port : fleet_->Ports())
            addresses_.push_back("127.0.0.1:" + std::to_string(port));
    }

    std::unique_ptr<scale::ScaleFleet> fleet_;
    std::vector<std::string> addresses_;  // "127.0.0.1:PORT" of each scale

  private:
    std::size_t count_;
};

}  // namespace vudaduv::fleet
