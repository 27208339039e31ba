// Reading scales and the sync: the fleet's work on the session's scales, settings, state
// directory, progress and stop flag.
#include <cctype>
#include <cstddef>

#include "findings.h"
#include "image_text.h"
#include "text_encoding.h"
#include "vudaduv_charset.h"
#include "vudaduv_model.h"

using namespace vudaduv::fleet::c_api;
namespace fleet = vudaduv::fleet;
namespace transport = vudaduv::transport;

namespace {

// Why a scale read is no full reading of it: the transport's cause, the replies that are none of
// a scale's, or the records that did not come back intact.
std::string CauseOfRead(const fleet::ScaleImage& scale) {
    if (scale.code != WQDS_OK) {
        return transport::TransportFailure(scale.code, scale.answered, scale.reads, 0, scale.cause);
    }
    if (!scale.failure.empty()) return scale.failure;
    std::string cause;
    for (const std::string& broken : scale.broken) cause += (cause.empty() ? "" : "; ") + broken;
    return cause;
}

// Why a scale is not as the sync asked: its failure, or the cap that held it back, then the
// records that did not come back as foreseen.
std::string CauseOfSync(const fleet::ScaleSync& scale) {
    std::string cause = scale.failure;
    if (scale.status == fleet::SyncStatus::kRefusedCap) {
        cause = "its plan empties " + std::to_string(scale.removed) +
                " record(s), its cap allows " + std::to_string(scale.removalCap);
    }
    for (const std::string& note : scale.notes) cause += (cause.empty() ? "" : "; ") + note;
    return cause;
}

// The records of the list that no scale gets (a line with no GBK form, a record no image line can
// hold), which a C caller has no check of its own to learn of: each scale's cause names them.
std::string RecordsLeftAlone(const fleet::WantedList& list) {
    std::string notes;
    for (const auto& record : list) {
        if (record.second.unkeepable.empty()) continue;
        notes += (notes.empty() ? "" : "; ") + fleet::KeyName(record.first) +
                 " left alone: " + record.second.unkeepable;
    }
    return notes;
}

// The status as the C header numbers it.
int64_t StatusCodeOf(fleet::SyncStatus status) {
    switch (status) {
        case fleet::SyncStatus::kInStep:
            return VDFLEET_STATUS_IN_STEP;
        case fleet::SyncStatus::kSynced:
            return VDFLEET_STATUS_SYNCED;
        case fleet::SyncStatus::kDriftRepaired:
            return VDFLEET_STATUS_DRIFT_REPAIRED;
        case fleet::SyncStatus::kRefusedCap:
            return VDFLEET_STATUS_REFUSED_CAP;
        case fleet::SyncStatus::kFailed:
            return VDFLEET_STATUS_FAILED;
        case fleet::SyncStatus::kInterrupted:
            return VDFLEET_STATUS_INTERRUPTED;
        case fleet::SyncStatus::kPlanned:
            break;
    }
    return VDFLEET_STATUS_PLANNED;
}

Session::Row RowOfSync(const Session& session, const std::string& address,
                       const fleet::ScaleSync& scale, const std::string& leftAlone) {
    Session::Row row;
    row.texts[VDFLEET_ADDRESS] = address;
    row.numbers[VDFLEET_STATUS] = StatusCodeOf(scale.status);
    row.texts[VDFLEET_STATUS_NAME] = fleet::SyncStatusName(scale.status);
    row.numbers[VDFLEET_PLANNED] = static_cast<int64_t>(scale.sent);
    row.numbers[VDFLEET_REMOVALS] = static_cast<int64_t>(scale.removed);
    row.numbers[VDFLEET_WRITTEN] = static_cast<int64_t>(scale.written);
    row.numbers[VDFLEET_CONFIRMED] = static_cast<int64_t>(scale.confirmed);
    row.numbers[VDFLEET_PENDING] = static_cast<int64_t>(scale.pending);
    row.numbers[VDFLEET_UNCHANGED] = static_cast<int64_t>(scale.unchanged);
    row.numbers[VDFLEET_PROBED] = static_cast<int64_t>(scale.probed);
    row.numbers[VDFLEET_DIFFERING] = static_cast<int64_t>(scale.differing);
    row.numbers[VDFLEET_CODE] = scale.code;
    row.texts[VDFLEET_CODE_NAME] = transport::TransportCodeName(scale.code);
    std::string cause = CauseOfSync(scale);
    if (!leftAlone.empty()) cause += (cause.empty() ? "" : "; ") + leftAlone;
    row.texts[VDFLEET_CAUSE] = TextOut(session, cause);
    return row;
}

// The phases of a sync as the C header numbers them.
uint32_t PhaseOf(fleet::SyncPhase phase) {
    switch (phase) {
        case fleet::SyncPhase::kReading:
            return VDFLEET_PHASE_READING;
        case fleet::SyncPhase::kReadingInFull:
            return VDFLEET_PHASE_READING_IN_FULL;
        case fleet::SyncPhase::kSending:
            break;
    }
    return VDFLEET_PHASE_SENDING;
}

bool IsUtf8Name(std::string name) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name == "UTF-8" || name == "UTF8";
}

// A UTF-8 session keeps its state images in UTF-8 where they have a place there, as the tool
// does for a user of UTF-8; images the state names as GBK, or that it does not name, stay GBK.
fleet::StateCharset StateCharsetOf(const Session& session) {
    fleet::StateCharset charset;
    if (session.utf8) charset.name = "UTF-8";
    // Images the tool kept in another character set (its --charset) are read in that set.
    charset.toGbk = [](const std::string& name, const std::string& text, std::string& gbk) {
        return IsUtf8Name(name) ? Utf8ToGbk(text, gbk)
                                : vudaduv::charset::ConvertToGbk(name, text, gbk);
    };
    charset.fromGbk = [](const std::string& name, const std::string& gbk, std::string& text) {
        text = GbkToUtf8(gbk);
        // The fleet converts back and compares: a "?" put in does not pass.
        return IsUtf8Name(name);
    };
    return charset;
}

// The list of a sync's data lines, checked; a line with no GBK form is a finding, and leaves its
// record alone when the changes are accepted.
int32_t ListOfLines(Session& session, const VDFleetSyncRequest& request, fleet::CheckedList& list,
                    std::vector<uint32_t>& types, std::size_t& lineCount) {
    if (!vudaduv::model::StoresRecord(request.record_type)) {
        return Fail(session, VDFLEET_E_ARGUMENT,
                    "record type " + std::to_string(request.record_type) + " stores no record");
    }
    if (request.lines == nullptr && request.line_count > 0) {
        return Fail(session, VDFLEET_E_ARGUMENT, "lines is NULL with a count");
    }
    std::vector<std::string> lines;
    std::vector<vudaduv::model::Finding> unsendable;
    LinesIn(session, request.lines, request.line_count, lines, unsendable);
    list = fleet::CheckListOfDataLines(request.record_type, session.en, lines, unsendable);
    types = {request.record_type};
    lineCount = lines.size();
    return VDFLEET_OK;
}

// The list of a restore: the records of an image, each of the type of its prefix, checked.
int32_t ListOfImage(Session& session, const VDFleetSyncRequest& request, fleet::CheckedList& list,
                    std::vector<uint32_t>& types, std::size_t& lineCount) {
    fleet::Image image;
    int32_t code = ImageIn(session, request.image, "image", image);
    if (code != VDFLEET_OK) return code;
    list = fleet::CheckListOfImage(image, session.en);
    lineCount = image.size();
    types.clear();
    for (const auto& record : image) {
        if (types.empty() || types.back() != record.first.type) types.push_back(record.first.type);
    }
    return VDFLEET_OK;
}

// A list with findings is not sent unless the request accepts the changes: the findings are the
// rows, as VDFleetCheck gives them.
int32_t RefuseForFindings(Session& session, const fleet::CheckedList& list, std::size_t lines) {
    AddFindingRows(session, list.findings);
    return Fail(session, VDFLEET_E_FINDINGS,
                std::to_string(vudaduv::model::LinesWithFindings(list.findings)) + " of " +
                    std::to_string(lines) +
                    " line(s) would not arrive as written: nothing sent "
                    "(VDFLEET_SYNC_ACCEPT_CHANGES sends anyway)");
}

// The sync's options from the request; false with the code set for a value out of range.
int32_t SyncOptionsOf(Session& session, const VDFleetSyncRequest& request, ProgressRelay& relay,
                      fleet::SyncOptions& options) {
    if (request.cap_kind > VDFLEET_CAP_ALL) {
        return Fail(session, VDFLEET_E_ARGUMENT,
                    "cap kind " + std::to_string(request.cap_kind) + " is none of VDFLEET_CAP_");
    }
    static constexpr fleet::RemovalCap::Kind kCaps[] = {
        fleet::RemovalCap::kPercent, fleet::RemovalCap::kCount, fleet::RemovalCap::kAll};
    options.stateDir = session.stateDir;
    options.stateCharset = StateCharsetOf(session);
    options.en = session.en;
    options.removeMissing = (request.flags & VDFLEET_SYNC_REMOVE_MISSING) != 0;
    options.dryRun = (request.flags & VDFLEET_SYNC_DRY_RUN) != 0;
    options.readScales = (request.flags & VDFLEET_SYNC_READ_SCALES) != 0;
    options.readBackSent = (request.flags & VDFLEET_SYNC_NO_READ_BACK) == 0;
    options.maxRemove.kind = kCaps[request.cap_kind];
    if (request.cap_value != 0 || request.cap_kind != VDFLEET_CAP_PERCENT) {
        options.maxRemove.value = request.cap_value;
    }
    if (request.probe != 0) options.probe = request.probe;
    if ((request.flags & VDFLEET_SYNC_NO_PROBE) != 0) options.probe = 0;
    options.settings = session.settings;
    options.observer = ObserverOf(session, relay);
    options.phaseStarted = [&relay](fleet::SyncPhase phase, std::size_t scales,
                                    std::size_t commands) {
        relay.Start(PhaseOf(phase), scales, commands);
    };
    return VDFLEET_OK;
}

// The code of a sync that served its scales: stopped, the state unwritten, or a scale not as
// asked.
int32_t CodeOfSync(Session& session, const fleet::SyncResult& result) {
    if (result.interrupted) {
        return Fail(session, VDFLEET_E_STOPPED,
                    "stopped: what the scales confirmed is kept, the next sync sends the rest");
    }
    if (!result.stateError.empty()) {
        return Fail(session, VDFLEET_E_STATE, PathTextOut(session, result.stateError));
    }
    for (const fleet::ScaleSync& scale : result.scales) {
        if (!fleet::EndedAsAsked(scale.status)) {
            return Fail(session, VDFLEET_SCALES, "not every scale is as asked");
        }
    }
    return VDFLEET_OK;
}

// The code of a sync that did nothing, by its cause: a caller retries a locked state later,
// repairs a state directory, and changes its request when it was refused.
int32_t CodeOfSyncError(fleet::SyncError kind) {
    switch (kind) {
        case fleet::SyncError::kLocked:
            return VDFLEET_E_LOCKED;
        case fleet::SyncError::kState:
            return VDFLEET_E_STATE;
        case fleet::SyncError::kRefused:
        case fleet::SyncError::kNone:
            break;
    }
    return VDFLEET_E_FAILED;
}

// Every address read by the transport's rule before anything is sent to any scale; the first
// that is not fails the call with VDFLEET_E_ARGUMENT, naming it: address 2 ":47001": no host.
int32_t CheckAddresses(Session& session, const char* const* addresses, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        std::string which = "address " + std::to_string(i);
        if (addresses[i] == nullptr) return Fail(session, VDFLEET_E_ARGUMENT, which + " is NULL");
        transport::TargetAddress address;
        std::string why =
            transport::ReadTargetAddress(addresses[i], session.settings.defaultPort, address);
        if (!why.empty()) {
            return Fail(session, VDFLEET_E_ARGUMENT,
                        which + " " + transport::QuoteAddress(addresses[i]) + ": " + why);
        }
    }
    return VDFLEET_OK;
}

}  // namespace

extern "C" {

int32_t VDFLEET_CALL VDFleetReadScales(VDFleetSession* session, const char* const* addresses,
                                       uint32_t count, const uint32_t* types, uint32_t type_count,
                                       int32_t first_item, int32_t last_item) {
    return Guarded(session, true, [&](Session& s) {
        std::vector<std::string> gbk;
        std::string error;
        if (addresses == nullptr && count > 0)
            return Fail(s, VDFLEET_E_ARGUMENT, "addresses is NULL");
        if (int32_t bad = CheckAddresses(s, addresses, count); bad != VDFLEET_OK) return bad;
        if (!TextsIn(s, addresses, count, "address", gbk, error))
            return Fail(s, VDFLEET_E_TEXT, error);
        if (types == nullptr && type_count > 0) return Fail(s, VDFLEET_E_ARGUMENT, "types is NULL");
        fleet::PullRequest request;
        if (type_count > 0) request.types.assign(types, types + type_count);
        for (uint32_t type : request.types) {
            if (!vudaduv::model::StoresRecord(type)) {
                return Fail(s, VDFLEET_E_ARGUMENT,
                            "record type " + std::to_string(type) + " stores no record");
            }
        }
        request.firstItem = first_item;
        request.lastItem = last_item;
        ProgressRelay relay(s);
        relay.Start(VDFLEET_PHASE_READING, gbk.size(), 0);
        std::vector<fleet::ScaleImage> scales =
            fleet::Pull(gbk, fleet::SlotsOf(request), s.en, s.settings, ObserverOf(s, relay));
        relay.Finish();
        bool allRead = true;
        for (std::size_t i = 0; i < scales.size(); ++i) {
            Session::Row row;
            std::string cause = CauseOfRead(scales[i]);
            allRead = allRead && cause.empty();
            row.texts[VDFLEET_ADDRESS] = addresses[i];
            row.numbers[VDFLEET_CODE] = scales[i].code;
            row.texts[VDFLEET_CODE_NAME] = transport::TransportCodeName(scales[i].code);
            row.texts[VDFLEET_CAUSE] = TextOut(s, cause);
            bool known = scales[i].code == WQDS_OK && scales[i].failure.empty();
            row.texts[VDFLEET_IMAGE] = known ? TextOut(s, fleet::WriteImage(scales[i].image)) : "";
            row.numbers[VDFLEET_RECORDS] = static_cast<int64_t>(scales[i].image.size());
            s.results.push_back(std::move(row));
        }
        if (s.stop) return Fail(s, VDFLEET_E_STOPPED, "stopped: the rows tell what came back");
        return allRead ? VDFLEET_OK : Fail(s, VDFLEET_SCALES, "not every scale was read whole");
    });
}

int32_t VDFLEET_CALL VDFleetSync(VDFleetSession* session, const VDFleetSyncRequest* request) {
    return Guarded(session, true, [&](Session& s) {
        // A 1.0 caller's record ends before reserved on 32-bit systems; on 64-bit ones its size
        // covers it as padding that an older program may have left unset, so it is not read.
        if (request == nullptr || request->size < offsetof(VDFleetSyncRequest, reserved)) {
            return Fail(s, VDFLEET_E_ARGUMENT, "the request is NULL or its size too small");
        }
        if (s.stateDir.empty()) {
            return Fail(s, VDFLEET_E_ARGUMENT, "the session has no state directory");
        }
        if (request->addresses == nullptr || request->address_count == 0) {
            return Fail(s, VDFLEET_E_ARGUMENT, "no addresses");
        }
        if (int32_t bad = CheckAddresses(s, request->addresses, request->address_count);
            bad != VDFLEET_OK) {
            return bad;
        }
        std::vector<std::string> addresses;
        std::string error;
        if (!TextsIn(s, request->addresses, request->address_count, "address", addresses, error)) {
            return Fail(s, VDFLEET_E_TEXT, error);
        }
        fleet::SyncOptions options;
        fleet::CheckedList checked;
        std::size_t lineCount = 0;
        int32_t code = request->image != nullptr
                           ? ListOfImage(s, *request, checked, options.listTypes, lineCount)
                           : ListOfLines(s, *request, checked, options.listTypes, lineCount);
        ProgressRelay relay(s);
        if (code == VDFLEET_OK) code = SyncOptionsOf(s, *request, relay, options);
        if (code != VDFLEET_OK) return code;
        if (!checked.findings.empty() && (request->flags & VDFLEET_SYNC_ACCEPT_CHANGES) == 0) {
            return RefuseForFindings(s, checked, lineCount);
        }
        const fleet::WantedList& list = checked.list;
        fleet::SyncResult result = fleet::Sync(list, addresses, options);
        relay.Finish();
        if (!result.error.empty()) {
            // A locked or unusable state names its files; a refused list says why in words.
            bool aboutState = result.errorKind == fleet::SyncError::kLocked ||
                              result.errorKind == fleet::SyncError::kState;
            return Fail(s, CodeOfSyncError(result.errorKind),
                        aboutState ? PathTextOut(s, result.error) : TextOut(s, result.error));
        }
        std::string leftAlone = RecordsLeftAlone(list);
        for (std::size_t i = 0; i < result.scales.size(); ++i) {
            s.results.push_back(RowOfSync(s, request->addresses[i], result.scales[i], leftAlone));
        }
        return CodeOfSync(s, result);
    });
}

}  // extern "C"
