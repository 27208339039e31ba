// The names and causes of the transports' result codes, and the one phrasing of a scale's
// transport failure, for messages and reports.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

struct CodeRow {
    std::int32_t code;
    const char* networkName;
    const char* serialName;  // nullptr: the serial transport has no such code
    const char* cause;
};

// The two transports share the number wherever the meaning is the same.
constexpr CodeRow kCodes[] = {
    {WQDS_OK, "WQDS_OK", "WQCS_OK", "done"},
    {WQDS_BAD_REQUEST, "WQDS_BAD_REQUEST", "WQCS_BAD_REQUEST", "bad request"},
    {WQDS_BAD_ADDRESS, "WQDS_BAD_ADDRESS", nullptr, "no such host, or a bad address"},
    {WQDS_REFUSED, "WQDS_REFUSED", nullptr, "refused or unreachable"},
    {WQDS_TIMEOUT, "WQDS_TIMEOUT", "WQCS_TIMEOUT", "timed out"},
    {WQDS_CLOSED, "WQDS_CLOSED", "WQCS_CLOSED", "closed by the scale"},
    {WQDS_REPLY_TOO_LONG, "WQDS_REPLY_TOO_LONG", "WQCS_REPLY_TOO_LONG", "reply too long"},
    {WQDS_UPLOAD_FILE, "WQDS_UPLOAD_FILE", "WQCS_UPLOAD_FILE", "Rec.txt not written"},
    {WQDS_INTERNAL, "WQDS_INTERNAL", "WQCS_INTERNAL", "failure of this machine"},
};

static_assert(WQCS_OK == WQDS_OK && WQCS_BAD_REQUEST == WQDS_BAD_REQUEST &&
                  WQCS_TIMEOUT == WQDS_TIMEOUT && WQCS_CLOSED == WQDS_CLOSED &&
                  WQCS_REPLY_TOO_LONG == WQDS_REPLY_TOO_LONG &&
                  WQCS_UPLOAD_FILE == WQDS_UPLOAD_FILE && WQCS_INTERNAL == WQDS_INTERNAL,
              "one row per number serves both transports");

const CodeRow* FindCode(std::int32_t code) {
    for (const CodeRow& row : kCodes) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

}  // namespace

const char* TransportCodeName(std::int32_t code, bool serial) {
    const CodeRow* row = FindCode(code);
    if (row == nullptr) return "unknown";
    const char* name = serial ? row->serialName : row->networkName;
    return name == nullptr ? "unknown" : name;
}

const char* TransportCodeCause(std::int32_t code) {
    const CodeRow* row = FindCode(code);
    return row == nullptr ? "unknown code" : row->cause;
}

std::string TransportFailure(std::int32_t code, std::size_t answered, std::size_t commands,
                             std::uint32_t tries, const std::string& cause) {
    if (code == WQDS_OK) return "";
    std::string failure = (cause.empty() ? std::string(TransportCodeCause(code)) : cause) + " (" +
                          std::to_string(answered) + " of " + std::to_string(commands) +
                          " command line(s) answered";
    if (tries != 0) failure += ", " + std::to_string(tries) + (tries == 1 ? " try" : " tries");
    return failure + ")";
}

}  // namespace vudaduv::transport
