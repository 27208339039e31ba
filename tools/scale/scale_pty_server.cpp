// The virtual scale on a pseudo-terminal, for the serial transport.
#include <thread>

#include "scale_line_reader.h"
#include "scale_platform.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

struct PtyScaleServer::Impl {
    ScaleMemory& memory;
    LinePace pace;
    std::unique_ptr<platform::PseudoTerminal> terminal;
    std::atomic<bool> stopping{false};
    std::atomic<std::uint64_t> carried{0};
    std::thread server;

    Impl(ScaleMemory& m, LinePace p) : memory(m), pace(p) {}
};

PtyScaleServer::PtyScaleServer(ScaleMemory& memory, LinePace pace)
    : impl_(std::make_unique<Impl>(memory, pace)) {}

PtyScaleServer::~PtyScaleServer() {
    Stop();
}

bool PtyScaleServer::Start(std::string& error) {
    if (impl_->server.joinable()) {
        error = "the scale is already serving";
        return false;
    }
    impl_->terminal = platform::OpenPseudoTerminal(error);
    if (!impl_->terminal) return false;
    impl_->stopping.store(false);
    impl_->server = std::thread([impl = impl_.get()] {
        ServeStream(impl->memory, impl->terminal->Master(), impl->stopping, impl->pace,
                    &impl->carried);
    });
    return true;
}

std::string PtyScaleServer::DevicePath() const {
    return impl_->terminal ? impl_->terminal->DevicePath() : std::string();
}

std::uint64_t PtyScaleServer::BytesCarried() const {
    return impl_->carried.load();
}

void PtyScaleServer::Stop() {
    impl_->stopping.store(true);
    if (impl_->server.joinable()) impl_->server.join();
    impl_->terminal.reset();
}

}  // namespace vudaduv::scale
