// The session behind the C handle, and what every export shares: the guard that keeps C++ out of
// the C boundary, the results table, and texts in and out in the session's encoding.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "vudaduv_fleet.h"
#include "vudaduv_fleet_c.h"

struct VDFleetSession {
    bool utf8 = false;
    bool en = false;
    std::string stateDir;  // as the fleet takes a path: UTF-8 on Windows, the caller's bytes
                           // elsewhere
    vudaduv::transport::SendSettings settings;
    VDFleetProgress progress = nullptr;
    VDFleetProgressEvents progressEvents = nullptr;  // set instead of progress, or neither
    void* user = nullptr;
    // Set by VDFleetCancel from any thread or by a progress function; read by the transport.
    std::atomic<bool> stop{false};
    // One call at a time: a second one (another thread, or the progress function) is refused.
    std::atomic<bool> busy{false};
    // Whether a call runs, against the stop flag: a cancel counts only while one does.
    std::mutex callMutex;
    bool running = false;
    // VDFleetLastError may read it from another thread while a call sets it.
    std::mutex errorMutex;
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

// The sessions VDFleetOpen made and VDFleetClose has not freed: a pointer that is none of them
// is never read.
void RegisterSession(Session* session);  // throws std::bad_alloc
// Frees the session unless a call runs on it: VDFLEET_OK, VDFLEET_E_SESSION or VDFLEET_E_BUSY.
int32_t CloseSession(Session* session) noexcept;

// Starts a call on a live, idle session (VDFLEET_OK), or refuses it: VDFLEET_E_SESSION for a
// pointer that is no open session, VDFLEET_E_BUSY while another call runs. A cancel counts from
// here until EndCall.
int32_t BeginCall(Session* session) noexcept;
void EndCall(Session& session) noexcept;

// Runs fn(Session&) on a live session while no other thread frees it (VDFleetCancel,
// VDFleetLastError: they run beside a call); VDFLEET_E_SESSION for one that is not live.
template <typename Function>
int32_t WithLiveSession(Session* session, Function fn) noexcept;

// Runs work (int32_t work(Session&)) as the body of an export: refuses a session that is not
// open, or busy, and turns every exception into a code. A call that makes results starts with no
// last error and no results, and empties them again when it throws, so no half-made table is
// read; the calls that read results leave the last error for the caller to read after them.
template <typename Work>
int32_t Guarded(Session* session, bool makesResults, Work work) noexcept {
    int32_t code = BeginCall(session);
    if (code != VDFLEET_OK) return code;
    code = VDFLEET_E_FAILED;
    try {
        if (makesResults) {
            SetErrorQuietly(*session, "");
            session->results.clear();
        }
        code = work(*session);
    } catch (const std::bad_alloc&) {
        if (makesResults) session->results.clear();
        SetErrorQuietly(*session, "memory ran out");
        code = VDFLEET_E_MEMORY;
    } catch (...) {
        if (makesResults) session->results.clear();
        SetErrorQuietly(*session, "an unexpected failure inside the library");
    }
    EndCall(*session);
    return code;
}

// A C text in the session's encoding as GBK bytes (NULL as ""); false when it has none.
bool TextIn(const Session& session, const char* text, std::string& gbk);
// GBK bytes as a text of the session's encoding; bytes that are no GBK character show as "?".
std::string TextOut(const Session& session, const std::string& gbk);
// A text that names a path (the state directory's errors) as the session's encoding: on Windows
// from UTF-8, as the fleet's paths are there (a GBK session gets it in GBK where GBK can write
// it); elsewhere the path's bytes as the caller gave them, never converted.
std::string PathTextOut(const Session& session, const std::string& text);

// A C list of texts (NULL items with count 0; a NULL text as ""), each as the session's encoding
// gives it in GBK; false naming the first that has none.
bool TextsIn(Session& session, const char* const* items, uint32_t count, const char* what,
             std::vector<std::string>& gbk, std::string& error);

// How many of text's first bytes (at most limit) end on a character boundary of the encoding:
// a GBK or UTF-8 character is never halved.
std::size_t CharacterBoundary(const std::string& text, std::size_t limit, bool utf8);

// Copies text (of the session's encoding) into a caller's buffer, snprintf's way, cut at a
// character boundary: the length, or a negative code.
int32_t CopyOut(const std::string& text, bool utf8, char* buffer, uint32_t size);

// The progress function of the session (VDFleetSetProgress's or VDFleetSetProgressEvents'),
// told from the fleet's observer; a non-zero answer sets the stop flag. Phase starts and scales
// done are told at once (the counts function is told the count then), the lines answered at
// most every kInterval and once more as the phase ends (Finish).
class ProgressRelay {
  public:
    static constexpr std::chrono::milliseconds kInterval{10};

    explicit ProgressRelay(Session& session) : session_(session) {}
    void Start(uint32_t phase, std::size_t scales, std::size_t total);
    void Answered();
    void ScaleDone(std::size_t scale);
    // Tells the phase's last count when it has not been told yet.
    void Finish();

  private:
    void TellCount(bool now);
    void Tell(uint32_t kind, uint32_t scale);

    Session& session_;
    uint32_t phase_ = VDFLEET_PHASE_READING;
    uint32_t done_ = 0;
    uint32_t total_ = 0;
    uint32_t scalesDone_ = 0;
    uint32_t scales_ = 0;
    bool untold_ = false;
    std::chrono::steady_clock::time_point lastTold_{};
};

// The observer that relays progress and carries the session's stop flag.
transport::SendObserver ObserverOf(Session& session, ProgressRelay& relay);

}  // namespace vudaduv::fleet::c_api

namespace vudaduv::fleet::c_api {

// The registry's lock, held while fn runs: the session cannot be freed meanwhile.
std::mutex& RegistryMutex();
bool IsLive(const Session* session);

template <typename Function>
int32_t WithLiveSession(Session* session, Function fn) noexcept {
    try {
        std::lock_guard<std::mutex> hold(RegistryMutex());
        if (!IsLive(session)) return VDFLEET_E_SESSION;
        return fn(*session);
    } catch (const std::bad_alloc&) {
        return VDFLEET_E_MEMORY;
    } catch (...) {
        return VDFLEET_E_FAILED;
    }
}

}  // namespace vudaduv::fleet::c_api
