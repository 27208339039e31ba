// The session behind the C handle, and what every export shares: the guard that keeps C++ out of
// the C boundary, the results table, and texts in and out in the session's encoding.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "vudaduv_fleet.h"
#include "vudaduv_fleet_c.h"

struct VDFleetSession {
    bool utf8 = false;
    bool en = false;
    std::string stateDir;  // GBK bytes, as the fleet takes paths' texts
    vudaduv::transport::SendSettings settings;
    VDFleetProgress progress = nullptr;
    void* user = nullptr;
    // Set by VDFleetCancel from any thread or by a progress function; read by the transport.
    std::atomic<bool> stop{false};
    // One call at a time: a second one (another thread, or the progress function) is refused.
    std::atomic<bool> busy{false};
    std::string lastError;

    struct Row {
        std::map<uint32_t, std::string> texts;
        std::map<uint32_t, int64_t> numbers;
    };
    std::vector<Row> results;
};

namespace vudaduv::fleet::c_api {

using Session = VDFleetSession;

// An error of a call: its code, with the text the session keeps for VDFleetLastError.
int32_t Fail(Session& session, int32_t code, const std::string& why);

// The last error's text without throwing: memory that runs out leaves it empty.
void SetErrorQuietly(Session& session, const char* why) noexcept;

// Runs work (int32_t work(Session&)) as the body of an export: refuses a NULL or busy session
// and turns every exception into a code. A call that makes results starts with no last error and
// no results, and empties them again when it throws, so no half-made table is read; the calls
// that read results leave the last error for the caller to read after them.
template <typename Work>
int32_t Guarded(Session* session, bool makesResults, Work work) noexcept {
    if (session == nullptr) return VDFLEET_E_SESSION;
    bool idle = false;
    if (!session->busy.compare_exchange_strong(idle, true)) return VDFLEET_E_BUSY;
    int32_t code = VDFLEET_E_FAILED;
    try {
        if (makesResults) {
            session->lastError.clear();
            session->results.clear();
        }
        code = work(*session);
    } catch (const std::bad_alloc&) {
        if (makesResults) session->results.clear();
        SetErrorQuietly(*session, "memory ran out");
    } catch (...) {
        if (makesResults) session->results.clear();
        SetErrorQuietly(*session, "an unexpected failure inside the library");
    }
    session->busy = false;
    return code;
}

// A C text in the session's encoding as GBK bytes (NULL as ""); false when it has none.
bool TextIn(const Session& session, const char* text, std::string& gbk);
// GBK bytes as a text of the session's encoding; bytes that are no GBK character show as "?".
std::string TextOut(const Session& session, const std::string& gbk);

// A C list of texts (NULL items with count 0; a NULL text as ""), each as the session's encoding
// gives it in GBK; false naming the first that has none.
bool TextsIn(Session& session, const char* const* items, uint32_t count, const char* what,
             std::vector<std::string>& gbk, std::string& error);

// Copies text into a caller's buffer, snprintf's way: the length, or a negative code.
int32_t CopyOut(const std::string& text, char* buffer, uint32_t size);

// The progress function of the session, told from the fleet's observer; a non-zero answer sets
// the stop flag.
class ProgressRelay {
  public:
    explicit ProgressRelay(Session& session) : session_(session) {}
    void Start(uint32_t phase, std::size_t total);
    void Answered();
    void Tell();

  private:
    Session& session_;
    uint32_t phase_ = VDFLEET_PHASE_READING;
    uint32_t done_ = 0;
    uint32_t total_ = 0;
};

// The observer that relays progress and carries the session's stop flag.
transport::SendObserver ObserverOf(Session& session, ProgressRelay& relay);

}  // namespace vudaduv::fleet::c_api
