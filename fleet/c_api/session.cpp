// Sessions, errors, progress, stopping and the results table: the exports every other one
// leans on.
#include "session.h"

#include <limits>
#include <unordered_set>

#include "text_encoding.h"

namespace vudaduv::fleet::c_api {

int32_t Fail(Session& session, int32_t code, const std::string& why) {
    std::lock_guard<std::mutex> hold(session.errorMutex);
    session.lastError = why;
    return code;
}

void SetErrorQuietly(Session& session, const char* why) noexcept {
    try {
        std::lock_guard<std::mutex> hold(session.errorMutex);
        try {
            session.lastError = why;
        } catch (...) {
            session.lastError.clear();
        }
    } catch (...) {
        // no lock to be had: the text stays as it was
    }
}

namespace {

std::unordered_set<const Session*>& LiveSessions() {
    static std::unordered_set<const Session*> live;
    return live;
}

}  // namespace

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

bool IsLive(const Session* session) {
    return session != nullptr && LiveSessions().count(session) > 0;
}

void RegisterSession(Session* session) {
    std::lock_guard<std::mutex> hold(RegistryMutex());
    LiveSessions().insert(session);
}

int32_t CloseSession(Session* session) noexcept {
    int32_t code = WithLiveSession(session, [](Session& s) {
        bool idle = false;
        if (!s.busy.compare_exchange_strong(idle, true)) return VDFLEET_E_BUSY;
        LiveSessions().erase(&s);
        return VDFLEET_OK;
    });
    if (code == VDFLEET_OK) delete session;
    return code;
}

int32_t BeginCall(Session* session) noexcept {
    int32_t code = WithLiveSession(session, [](Session& s) {
        bool idle = false;
        return s.busy.compare_exchange_strong(idle, true) ? VDFLEET_OK : VDFLEET_E_BUSY;
    });
    if (code != VDFLEET_OK) return code;
    try {
        std::lock_guard<std::mutex> hold(session->callMutex);
        session->running = true;
        session->stop = false;
    } catch (...) {
        session->busy = false;
        return VDFLEET_E_FAILED;
    }
    return VDFLEET_OK;
}

void EndCall(Session& session) noexcept {
    try {
        std::lock_guard<std::mutex> hold(session.callMutex);
        session.running = false;
        session.stop = false;
    } catch (...) {
        // the next call's start resets the flag
    }
    session.busy = false;
}

bool TextIn(const Session& session, const char* text, std::string& gbk) {
    if (text == nullptr) {
        gbk.clear();
        return true;
    }
    if (!session.utf8) {
        gbk = text;
        return true;
    }
    return Utf8ToGbk(text, gbk);
}

// The state directory as the fleet takes a path. On Windows that is UTF-8, opened through the
// wide file names: a UTF-8 session's text as it is (any name), a GBK one's converted (names GBK
// can write); false for a text that is no valid text of the session's encoding. Elsewhere a path
// is the bytes the caller gave (UTF-8 on Linux), never converted.
bool StateDirectoryIn(const Session& session, const char* text, std::string& path) {
#if defined(_WIN32)
    return charset::ConvertToUtf8(session.utf8 ? "UTF-8" : "GBK", text == nullptr ? "" : text,
                                  path);
#else
    (void)session;
    path = text == nullptr ? "" : text;
    return true;
#endif
}

std::string PathTextOut(const Session& session, const std::string& text) {
#if defined(_WIN32)
    std::string gbk;
    if (session.utf8 || !charset::ConvertToGbk("UTF-8", text, gbk)) return text;
    return gbk;
#else
    (void)session;
    return text;
#endif
}

std::string TextOut(const Session& session, const std::string& gbk) {
    return session.utf8 ? GbkToUtf8(gbk) : gbk;
}

bool TextsIn(Session& session, const char* const* items, uint32_t count, const char* what,
             std::vector<std::string>& gbk, std::string& error) {
    gbk.clear();
    if (items == nullptr) {
        if (count == 0) return true;
        error = std::string(what) + " is NULL with a count";
        return false;
    }
    gbk.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        if (!TextIn(session, items[i], gbk[i])) {
            error =
                std::string(what) + " " + std::to_string(i) + " is no UTF-8 text with a GBK form";
            return false;
        }
    }
    return true;
}

std::size_t CharacterBoundary(const std::string& text, std::size_t limit, bool utf8) {
    if (limit >= text.size()) return text.size();
    if (utf8) {
        // Back to the start of the character the cut falls in: no continuation byte leads.
        while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
        return limit;
    }
    // GBK: a byte from 0x81 on leads a character of two, whatever follows; only a walk from the
    // start tells a lead byte from a trail byte.
    std::size_t at = 0;
    while (at < limit) {
        std::size_t length = static_cast<unsigned char>(text[at]) >= 0x81 ? 2 : 1;
        if (at + length > limit) break;
        at += length;
    }
    return at;
}

int32_t CopyOut(const std::string& text, bool utf8, char* buffer, uint32_t size) {
    if (buffer == nullptr && size > 0) return VDFLEET_E_ARGUMENT;
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        return VDFLEET_E_FAILED;
    }
    if (size > 0) {
        std::size_t copied = CharacterBoundary(text, size - 1, utf8);
        text.copy(buffer, copied);
        buffer[copied] = '\0';
    }
    return static_cast<int32_t>(text.size());
}

namespace {

uint32_t Clamped(std::size_t count) {
    return count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
}

}  // namespace

void ProgressRelay::Start(uint32_t phase, std::size_t scales, std::size_t total) {
    Finish();
    phase_ = phase;
    done_ = 0;
    total_ = Clamped(total);
    scalesDone_ = 0;
    scales_ = Clamped(scales);
    Tell(VDFLEET_EVENT_PHASE, VDFLEET_NO_SCALE);
}

void ProgressRelay::Answered() {
    if (done_ < UINT32_MAX) ++done_;
    untold_ = true;
    TellCount(false);
}

void ProgressRelay::ScaleDone(std::size_t scale) {
    if (scalesDone_ < UINT32_MAX) ++scalesDone_;
    if (session_.progressEvents != nullptr) {
        Tell(VDFLEET_EVENT_SCALE_DONE, Clamped(scale));
    } else {
        untold_ = true;
        TellCount(false);
    }
}

void ProgressRelay::Finish() {
    if (untold_) TellCount(true);
}

// A count is told when the interval since the last has passed, or now when the phase ends: a
// thousand scales answer 160,000 lines a sync, too many calls for a progress bar.
void ProgressRelay::TellCount(bool now) {
    auto time = std::chrono::steady_clock::now();
    if (!now && time - lastTold_ < kInterval) return;
    Tell(VDFLEET_EVENT_LINES, VDFLEET_NO_SCALE);
}

void ProgressRelay::Tell(uint32_t kind, uint32_t scale) {
    untold_ = false;
    lastTold_ = std::chrono::steady_clock::now();
    int32_t answer = 0;
    if (session_.progressEvents != nullptr) {
        VDFleetProgressEvent told{
            sizeof(VDFleetProgressEvent), kind, phase_, done_, total_, scale, scalesDone_, scales_};
        answer = session_.progressEvents(session_.user, &told);
    } else if (session_.progress != nullptr) {
        answer = session_.progress(session_.user, phase_, done_, total_);
    }
    if (answer != 0) session_.stop = true;
}

transport::SendObserver ObserverOf(Session& session, ProgressRelay& relay) {
    transport::SendObserver observer;
    observer.lineAnswered = [&relay](std::size_t, std::size_t) { relay.Answered(); };
    observer.scaleDone = [&relay](std::size_t scale, const transport::ScaleResult&) {
        relay.ScaleDone(scale);
    };
    observer.stop = &session.stop;
    return observer;
}

}  // namespace vudaduv::fleet::c_api

using namespace vudaduv::fleet::c_api;

namespace {

// The row and field of a result, or why there is none.
template <typename Value>
int32_t FindField(Session& session, uint32_t row, uint32_t field,
                  const std::map<uint32_t, Value> Session::Row::*column, const Value*& value) {
    if (row >= session.results.size()) {
        return Fail(session, VDFLEET_E_ARGUMENT,
                    "row " + std::to_string(row) + " of " + std::to_string(session.results.size()));
    }
    const auto& fields = session.results[row].*column;
    auto found = fields.find(field);
    if (found == fields.end()) {
        return Fail(session, VDFLEET_E_ARGUMENT,
                    "the rows have no such field of this kind: " + std::to_string(field));
    }
    value = &found->second;
    return VDFLEET_OK;
}

}  // namespace

extern "C" {

int32_t VDFLEET_CALL VDFleetVersion(void) {
    return VUDADUV_FLEET_VERSION_MAJOR * 10000 + VUDADUV_FLEET_VERSION_MINOR * 100 +
           VUDADUV_FLEET_VERSION_PATCH;
}

const char* VDFLEET_CALL VDFleetCodeName(int32_t code) {
    switch (code) {
        case VDFLEET_OK:
            return "VDFLEET_OK";
        case VDFLEET_SCALES:
            return "VDFLEET_SCALES";
        case VDFLEET_E_ARGUMENT:
            return "VDFLEET_E_ARGUMENT";
        case VDFLEET_E_SESSION:
            return "VDFLEET_E_SESSION";
        case VDFLEET_E_TEXT:
            return "VDFLEET_E_TEXT";
        case VDFLEET_E_FAILED:
            return "VDFLEET_E_FAILED";
        case VDFLEET_E_STOPPED:
            return "VDFLEET_E_STOPPED";
        case VDFLEET_E_BUSY:
            return "VDFLEET_E_BUSY";
        case VDFLEET_E_SCALES:
            return "VDFLEET_E_SCALES";
        case VDFLEET_E_FINDINGS:
            return "VDFLEET_E_FINDINGS";
        case VDFLEET_E_LOCKED:
            return "VDFLEET_E_LOCKED";
        case VDFLEET_E_STATE:
            return "VDFLEET_E_STATE";
        case VDFLEET_E_MEMORY:
            return "VDFLEET_E_MEMORY";
        default:
            return "VDFLEET_UNKNOWN";
    }
}

int32_t VDFLEET_CALL VDFleetOpen(const VDFleetOptions* options, VDFleetSession** session) {
    if (session == nullptr) return VDFLEET_E_ARGUMENT;
    *session = nullptr;
    if (options == nullptr || options->size < sizeof(VDFleetOptions) ||
        options->text > VDFLEET_TEXT_UTF8) {
        return VDFLEET_E_ARGUMENT;
    }
    try {
        auto made = new VDFleetSession;
        made->utf8 = options->text == VDFLEET_TEXT_UTF8;
        made->en = options->en != 0;
        if (!StateDirectoryIn(*made, options->state_dir, made->stateDir)) {
            delete made;
            return VDFLEET_E_TEXT;
        }
        if (options->timeout_ms != 0) {
            made->settings.replyTimeoutMs = options->timeout_ms;
            made->settings.connectTimeoutMs = options->timeout_ms;
        }
        if (options->tries != 0) made->settings.tries = options->tries;
        if (options->port != 0) made->settings.defaultPort = options->port;
        try {
            RegisterSession(made);
        } catch (...) {
            delete made;
            throw;
        }
        *session = made;
        return VDFLEET_OK;
    } catch (const std::bad_alloc&) {
        return VDFLEET_E_MEMORY;
    } catch (...) {
        return VDFLEET_E_FAILED;
    }
}

int32_t VDFLEET_CALL VDFleetClose(VDFleetSession* session) {
    return CloseSession(session);
}

int32_t VDFLEET_CALL VDFleetLastError(VDFleetSession* session, char* buffer, uint32_t size) {
    // Not guarded: it reads what the last call left, from inside a progress function or from
    // another thread while a call runs. The text is of the session's encoding already.
    return WithLiveSession(session, [&](Session& s) {
        std::lock_guard<std::mutex> hold(s.errorMutex);
        return CopyOut(s.lastError, s.utf8, buffer, size);
    });
}

int32_t VDFLEET_CALL VDFleetSetProgress(VDFleetSession* session, VDFleetProgress progress,
                                        void* user) {
    return Guarded(session, false, [&](Session& s) {
        s.progress = progress;
        s.progressEvents = nullptr;
        s.user = user;
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetSetProgressEvents(VDFleetSession* session,
                                              VDFleetProgressEvents progress, void* user) {
    return Guarded(session, false, [&](Session& s) {
        s.progressEvents = progress;
        s.progress = nullptr;
        s.user = user;
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetCancel(VDFleetSession* session) {
    return WithLiveSession(session, [](Session& s) {
        // Only a running call is stopped: a cancel between calls would stop the next one, which
        // the caller may make long after, for another reason.
        std::lock_guard<std::mutex> hold(s.callMutex);
        if (s.running) s.stop = true;
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetResultCount(VDFleetSession* session, uint32_t* count) {
    return Guarded(session, false, [&](Session& s) {
        if (count == nullptr) return Fail(s, VDFLEET_E_ARGUMENT, "count is NULL");
        *count = static_cast<uint32_t>(s.results.size());
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetResultText(VDFleetSession* session, uint32_t row, uint32_t field,
                                       char* buffer, uint32_t size) {
    return Guarded(session, false, [&](Session& s) {
        const std::string* text = nullptr;
        int32_t code = FindField(s, row, field, &Session::Row::texts, text);
        if (code != VDFLEET_OK) return code;
        code = CopyOut(*text, s.utf8, buffer, size);
        if (code == VDFLEET_E_ARGUMENT) return Fail(s, code, "buffer is NULL and size is not 0");
        return code;
    });
}

int32_t VDFLEET_CALL VDFleetResultNumber(VDFleetSession* session, uint32_t row, uint32_t field,
                                         int64_t* value) {
    return Guarded(session, false, [&](Session& s) {
        if (value == nullptr) return Fail(s, VDFLEET_E_ARGUMENT, "value is NULL");
        const int64_t* number = nullptr;
        int32_t code = FindField(s, row, field, &Session::Row::numbers, number);
        if (code == VDFLEET_OK) *value = *number;
        return code;
    });
}

}  // extern "C"
