// The socket engines a transport test runs on, a case each: Asio everywhere, epoll on Linux too.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "core/socket_engine.h"

namespace transport_test {

struct EngineCase {
    const char* name;
    std::unique_ptr<vudaduv::transport::SocketEngine> (*make)();
};

inline const EngineCase kEngines[] = {
    {"Asio", vudaduv::transport::MakeAsioEngine},
#ifdef __linux__
    {"Epoll", vudaduv::transport::MakeEpollEngine},
#endif
};

inline void PrintTo(const EngineCase& engine, std::ostream* out) {
    *out << engine.name;
}

// The name of a test's instance: the engine's.
inline std::string EngineName(const ::testing::TestParamInfo<EngineCase>& info) {
    return info.param.name;
}

}  // namespace transport_test
