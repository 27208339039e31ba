// The report of a send or a sync as one HTML page that stands alone: the run's summary and a
// table of the scales, sorted by a click on a heading and filtered by text and status. Its
// address carries the view, so a link can show one: "#status=failed&filter=10.0.&sort=-seconds".
#pragma once

#include <string>

#include "report_files.h"

namespace vudaduv::cli {

// The page of a report made by SendReport or SyncReport. Every text of the report is escaped;
// bytes that are not UTF-8 become U+FFFD.
std::string HtmlReport(const ReportJson& report);

// Text as HTML shows it, in an element or in a quoted attribute.
std::string EscapeHtml(const std::string& text);

}  // namespace vudaduv::cli
