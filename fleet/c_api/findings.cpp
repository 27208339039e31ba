#include "findings.h"

namespace vudaduv::fleet::c_api {

void LinesIn(const Session& session, const char* const* items, uint32_t count,
             std::vector<std::string>& gbk, std::vector<model::Finding>& unsendable) {
    gbk.assign(count, std::string());
    unsendable.assign(count, model::Finding());
    for (uint32_t i = 0; i < count; ++i) {
        if (TextIn(session, items[i], gbk[i])) continue;
        // The number comes first and is plain ASCII: the record is still known by it.
        gbk[i] = items[i];
        unsendable[i] = {"line", "its line has no GBK form"};
    }
}

void AddFindingRows(Session& session, const std::vector<model::ListFinding>& findings) {
    for (const model::ListFinding& finding : findings) {
        Session::Row row;
        row.numbers[VDFLEET_LINE] = static_cast<int64_t>(finding.line);
        row.texts[VDFLEET_KEY] = TextOut(session, finding.record);
        row.texts[VDFLEET_FIELD] = TextOut(session, finding.field);
        row.texts[VDFLEET_WHAT] = TextOut(session, finding.what);
        session.results.push_back(std::move(row));
    }
}

}  // namespace vudaduv::fleet::c_api
