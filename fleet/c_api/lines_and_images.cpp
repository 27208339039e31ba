// The check of data lines, image texts and the diff: no scale involved.
#include "findings.h"
#include "image_text.h"
#include "text_encoding.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet::c_api {

namespace {

// "SOURCE:N: has no GBK form" for the first line of text that has none.
std::string FirstLineWithoutGbk(const std::string& text, const char* source) {
    std::size_t start = 0;
    for (std::size_t number = 1; start <= text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string gbk;
        if (!Utf8ToGbk(text.substr(start, end - start), gbk)) {
            return std::string(source) + ":" + std::to_string(number) +
                   ": is no UTF-8 text with a GBK form";
        }
        start = end + 1;
    }
    return std::string(source) + ": is no UTF-8 text with a GBK form";
}

}  // namespace

int32_t ImageIn(Session& session, const char* text, const char* source, Image& image) {
    if (text == nullptr) return Fail(session, VDFLEET_E_ARGUMENT, std::string(source) + " is NULL");
    std::string gbk;
    if (!TextIn(session, text, gbk)) {
        return Fail(session, VDFLEET_E_TEXT, FirstLineWithoutGbk(text, source));
    }
    std::string error;
    if (!ReadImageText(source, gbk, image, error)) {
        return Fail(session, VDFLEET_E_TEXT, TextOut(session, error));
    }
    return VDFLEET_OK;
}

}  // namespace vudaduv::fleet::c_api

using namespace vudaduv::fleet::c_api;
namespace fleet = vudaduv::fleet;

namespace {

Session::Row DiffRowOf(const Session& session, const fleet::DiffRow& row,
                       const fleet::FieldChange* change) {
    static constexpr int64_t kKinds[] = {VDFLEET_ADDED, VDFLEET_REMOVED, VDFLEET_CHANGED};
    Session::Row out;
    out.numbers[VDFLEET_KIND] = kKinds[row.kind];
    out.texts[VDFLEET_KEY] = TextOut(session, fleet::KeyName(row.key));
    out.texts[VDFLEET_FIELD] = change ? TextOut(session, change->field) : "";
    out.texts[VDFLEET_BEFORE] = TextOut(session, change ? change->before : row.before);
    out.texts[VDFLEET_AFTER] = TextOut(session, change ? change->after : row.after);
    return out;
}

}  // namespace

extern "C" {

int32_t VDFLEET_CALL VDFleetCheck(VDFleetSession* session, uint32_t record_type,
                                  const char* const* lines, uint32_t count) {
    return Guarded(session, true, [&](Session& s) {
        // A type that stores nothing has no way down and back to check: no findings would
        // read as "every line comes back as written".
        if (!vudaduv::model::StoresRecord(record_type)) {
            return Fail(s, VDFLEET_E_ARGUMENT,
                        "record type " + std::to_string(record_type) + " stores no record");
        }
        if (lines == nullptr && count > 0) {
            return Fail(s, VDFLEET_E_ARGUMENT, "line is NULL with a count");
        }
        // Every finding of every line, a line with no GBK form and a record named twice too.
        std::vector<std::string> gbk;
        std::vector<vudaduv::model::Finding> unsendable;
        LinesIn(s, lines, count, gbk, unsendable);
        AddFindingRows(s, vudaduv::model::CheckList(record_type, s.en, gbk, unsendable));
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetReadImage(VDFleetSession* session, const char* image) {
    return Guarded(session, true, [&](Session& s) {
        fleet::Image read;
        int32_t code = ImageIn(s, image, "image", read);
        if (code != VDFLEET_OK) return code;
        for (const auto& [key, line] : read) {
            Session::Row row;
            row.texts[VDFLEET_KEY] = TextOut(s, fleet::KeyName(key));
            row.numbers[VDFLEET_TYPE] = key.type;
            row.numbers[VDFLEET_NUMBER] = key.number;
            row.texts[VDFLEET_RECORD] = TextOut(s, line);
            s.results.push_back(std::move(row));
        }
        return VDFLEET_OK;
    });
}

int32_t VDFLEET_CALL VDFleetDiff(VDFleetSession* session, const char* image_a,
                                 const char* image_b) {
    return Guarded(session, true, [&](Session& s) {
        fleet::Image a;
        fleet::Image b;
        int32_t code = ImageIn(s, image_a, "image a", a);
        if (code == VDFLEET_OK) code = ImageIn(s, image_b, "image b", b);
        if (code != VDFLEET_OK) return code;
        for (const fleet::DiffRow& row : fleet::DiffImages(a, b)) {
            if (row.kind != fleet::DiffRow::kChanged)
                s.results.push_back(DiffRowOf(s, row, nullptr));
            for (const fleet::FieldChange& change : row.fields) {
                s.results.push_back(DiffRowOf(s, row, &change));
            }
        }
        return VDFLEET_OK;
    });
}

}  // extern "C"
