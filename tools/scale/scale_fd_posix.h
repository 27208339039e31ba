// A stream over a POSIX terminal descriptor: a pseudo-terminal's master or a serial device.
#pragma once

#include "scale_platform.h"

namespace vudaduv::scale::platform {

class FdStream : public Stream {
  public:
    explicit FdStream(int fd);  // takes the descriptor and makes it non-blocking
    ~FdStream() override;
    FdStream(const FdStream&) = delete;
    FdStream& operator=(const FdStream&) = delete;

    ReadStatus Read(std::string& out, int waitMs) override;
    bool Write(std::string_view bytes, const std::atomic<bool>& stop) override;

  private:
    int fd_;
};

void MakeNonBlocking(int fd);

// The text of errno with a lead-in, for error messages.
std::string SystemError(const char* what);

}  // namespace vudaduv::scale::platform
