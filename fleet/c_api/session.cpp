// Sessions, errors, progress, stopping and the results table: the exports every other one
// leans on.
#include "session.h"

#include <limits>

#include "text_encoding.h"

namespace vudaduv::fleet::c_api {

int32_t Fail(Session& session, int32_t code, const std::string& why) {
    session.lastError = why;
    return code;
}

void SetErrorQuietly(Session& session, const char* why) noexcept {
    try {
        session.lastError = why;
    } catch (...) {
        session.lastError.clear();
    }
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

// The state directory as the file system names it. On Windows the fleet opens paths in the
// system's code page, GBK where the scales are sold, so the text goes as every other text does;
// elsewhere a path is the bytes the caller gave (UTF-8 on Linux), never converted.
bool StateDirectoryIn(const Session& session, const char* text, std::string& path) {
#if defined(_WIN32)
    return TextIn(session, text, path);
#else
    (void)session;
    path = text == nullptr ? "" : text;
    return true;
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

int32_t CopyOut(const std::string& text, char* buffer, uint32_t size) {
    if (buffer == nullptr && size > 0) return VDFLEET_E_ARGUMENT;
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        return VDFLEET_E_FAILED;
    }
    if (size > 0) {
        std::size_t copied = std::min<std::size_t>(text.size(), size - 1);
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

void ProgressRelay::Start(uint32_t phase, std::size_t total) {
    phase_ = phase;
    done_ = 0;
    total_ = Clamped(total);
    Tell();
}

void ProgressRelay::Answered() {
    if (done_ < UINT32_MAX) ++done_;
    Tell();
}

void ProgressRelay::Tell() {
    if (session_.progress != nullptr &&
        session_.progress(session_.user, phase_, done_, total_) != 0) {
        session_.stop = true;
    }
}

transport::SendObserver ObserverOf(Session& session, ProgressRelay& relay) {
    transport::SendObserver observer;
    observer.lineAnswered = [&relay](std::size_t, std::size_t) { relay.Answered(); };
    observer.scaleDone = [&relay](std::size_t, const transport::ScaleResult&) { relay.Tell(); };
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
        *session = made;
        return VDFLEET_OK;
    } catch (...) {
        return VDFLEET_E_FAILED;
    }
}

int32_t VDFLEET_CALL VDFleetClose(VDFleetSession* session) {
    if (session == nullptr) return VDFLEET_E_SESSION;
    bool idle = false;
    if (!session->busy.compare_exchange_strong(idle, true)) return VDFLEET_E_BUSY;
    delete session;
    return VDFLEET_OK;
}

int32_t VDFLEET_CALL VDFleetLastError(VDFleetSession* session, char* buffer, uint32_t size) {
    if (session == nullptr) return VDFLEET_E_SESSION;
    // Not guarded: it reads what the last call left, even from inside a progress function.
    try {
        return CopyOut(TextOut(*session, session->lastError), buffer, size);
    } catch (...) {
        return VDFLEET_E_FAILED;
    }
}

int32_t VDFLEET_CALL VDFleetSetProgress(VDFleetSession* session, VDFleetProgress progress,
                                        void* user) {
    return Guarded(session, false, [&](Session& s) {
        s.progress = progress;
        s.user = user;
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetCancel(VDFleetSession* session) {
    if (session == nullptr) return VDFLEET_E_SESSION;
    session->stop = true;
    return VDFLEET_OK;
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
        code = CopyOut(*text, buffer, size);
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
