// The TCP server's parts that do not depend on its engine, and the fleet around it.
#include <future>
#include <thread>

#include "scale_platform.h"
#include "scale_tcp_server_common.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

namespace {

// What serving count scales takes of the open-file limit: a listener and one connection each,
// and some to spare for the rest of the process.
constexpr std::size_t kFilesPerScale = 2;
constexpr std::size_t kSpareFiles = 32;

std::vector<ScaleMemory*> OneMemory(ScaleMemory& memory) {
    return {&memory};
}

// The scales' ports: consecutive from firstPort, or all free ones (0).
bool PortsFit(uint16_t firstPort, std::size_t scales, std::string& error) {
    if (firstPort == 0 || firstPort + (scales - 1) <= 65535) return true;
    error = std::to_string(scales) + " consecutive ports from " + std::to_string(firstPort) +
            " go past 65535";
    return false;
}

// Raises the open-file limit as far as serving the scales takes.
bool EnoughFiles(std::size_t scales, std::string& error) {
    std::size_t wanted = kFilesPerScale * scales + kSpareFiles;
    std::size_t limit = platform::RaiseOpenFileLimit(wanted);
    if (limit >= wanted) return true;
    error = "serving " + std::to_string(scales) + " scale(s) takes " + std::to_string(wanted) +
            " open files (a listener and a connection each), but this process may open only " +
            std::to_string(limit);
    return false;
}

}  // namespace

std::string ShowAddress(const std::string& host, uint16_t port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

uint16_t ScalePort(uint16_t firstPort, std::size_t scale) {
    return firstPort == 0 ? 0 : static_cast<uint16_t>(firstPort + scale);
}

std::string NotAnAddress(const std::string& host) {
    return "cannot listen on " + host + ": not a numeric IPv4 or IPv6 address";
}

std::string CannotListen(const std::string& host, uint16_t port, const char* step,
                         const std::string& reason) {
    return "cannot listen on " + ShowAddress(host, port) + ": " + step + ": " + reason;
}

struct TcpScaleServer::Impl {
    std::vector<ScaleMemory*> memories;
    ServerOptions options;
    std::vector<uint16_t> ports;
    std::unique_ptr<TcpServerEngine> engine;  // from Start to Stop
    std::thread thread;
    std::chrono::nanoseconds lastCpuTime{0};  // the loop's thread's, written as it ends

    Impl(std::vector<ScaleMemory*> m, ServerOptions o)
        : memories(std::move(m)), options(std::move(o)) {}
};

TcpScaleServer::TcpScaleServer(ScaleMemory& memory, ServerOptions options)
    : TcpScaleServer(OneMemory(memory), std::move(options)) {}

TcpScaleServer::TcpScaleServer(std::vector<ScaleMemory*> memories, ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(memories), std::move(options))) {}

TcpScaleServer::~TcpScaleServer() {
    Stop();
}

bool TcpScaleServer::Start(std::string& error) {
    Impl& impl = *impl_;
    if (impl.thread.joinable()) {
        error = "the scale is already listening";
        return false;
    }
    impl.ports.clear();
    if (!MayServe(impl.options.port, impl.memories.size(), error)) return false;
    impl.engine = MakeTcpServerEngine(impl.options);
    if (!impl.engine->Listen(impl.memories, impl.options, impl.ports, error)) {
        impl.ports.clear();
        impl.engine.reset();
        return false;
    }
    impl.thread = std::thread([&impl] {
        impl.engine->Run();
        impl.lastCpuTime = platform::ThreadCpuTime();
    });
    return true;
}

uint16_t TcpScaleServer::Port() const {
    return impl_->ports.empty() ? 0 : impl_->ports.front();
}

const std::vector<uint16_t>& TcpScaleServer::Ports() const {
    return impl_->ports;
}

void TcpScaleServer::Stop() {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) return;
    impl.engine->Halt();
    impl.thread.join();
    impl.engine.reset();
}

std::chrono::nanoseconds TcpScaleServer::CpuTime() const {
    Impl& impl = *impl_;
    if (!impl.thread.joinable()) return impl.lastCpuTime;
    std::promise<std::chrono::nanoseconds> reading;
    std::future<std::chrono::nanoseconds> read = reading.get_future();
    impl.engine->Post([&reading] { reading.set_value(platform::ThreadCpuTime()); });
    return read.get();
}

ScaleFleet::ScaleFleet(std::size_t count, ServerOptions options)
    : memories_(MakeMemories(count, options.mode)),
      server_(MemoriesOf(memories_), std::move(options)) {}

std::vector<std::unique_ptr<ScaleMemory>> ScaleFleet::MakeMemories(std::size_t count,
                                                                   TextMode mode) {
    std::vector<std::unique_ptr<ScaleMemory>> memories;
    memories.reserve(count);
    for (std::size_t i = 0; i < count; ++i) memories.push_back(std::make_unique<ScaleMemory>(mode));
    return memories;
}

std::vector<ScaleMemory*> ScaleFleet::MemoriesOf(
    const std::vector<std::unique_ptr<ScaleMemory>>& memories) {
    std::vector<ScaleMemory*> pointers;
    for (const auto& memory : memories) pointers.push_back(memory.get());
    return pointers;
}

bool MayServe(uint16_t firstPort, std::size_t scales, std::string& error) {
    if (scales == 0) {
        error = "no scale to serve";
        return false;
    }
    return PortsFit(firstPort, scales, error) && EnoughFiles(scales, error);
}

}  // namespace vudaduv::scale
