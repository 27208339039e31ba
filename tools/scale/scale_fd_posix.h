// A stream over a POSIX file descriptor, shared by the socket and pseudo-terminal layers.
#pragma once

#include "scale_platform.h"

namespace vudaduv::scale::platform {

enum class FdKind { kSocket, kTerminal };

class FdStream : public Stream {
  public:
    FdStream(int fd, FdKind kind);  // takes the descriptor and makes it non-blocking
    ~FdStream() override;
    FdStream(const FdStream&) = delete;
    FdStream& operator=(const FdStream&) = delete;

    ReadStatus Read(std::string& out, int waitMs) override;
    bool Write(std::string_view bytes, const std::atomic<bool>& stop) override;

  private:
    long WriteSome(std::string_view bytes);

    int fd_;
    FdKind kind_;
};

void MakeNonBlocking(int fd);

// The text of errno with a lead-in, for error messages.
std::string SystemError(const char* what);

}  // namespace vudaduv::scale::platform
