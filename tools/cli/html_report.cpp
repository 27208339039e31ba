#include "html_report.h"

#include <cstddef>
#include <vector>

namespace vudaduv::cli {

namespace {

// A status a scale can end in, and the words the summary gives it.
struct StatusLabel {
    const char* status;
    const char* label;
};

// A column of the table: the scale's field, its heading, and whether it sorts as a number.
struct Column {
    const char* field;
    const char* heading;
    bool number;
};

struct CommandLayout {
    const char* command;
    std::vector<StatusLabel> statuses;
    std::vector<Column> columns;
};

const std::vector<CommandLayout>& Layouts() {
    static const std::vector<CommandLayout> layouts = {
        {"sync",
         {{"in-step", "in step"},
          {"synced", "synced"},
          {"drift-repaired", "drift repaired"},
          {"failed", "failed"},
          {"refused-cap", "refused"},
          {"interrupted", "interrupted"},
          {"planned", "planned"}},
         {{"address", "scale", false},
          {"status", "status", false},
          {"sent", "sent", true},
          {"removed", "removed", true},
          {"unchanged", "unchanged", true},
          {"planned", "planned", true},
          {"pending", "pending", true},
          {"differing", "drift", true},
          {"seconds", "seconds", true},
          {"failure", "cause", false}}},
        {"send",
         {{"synced", "synced"}, {"failed", "failed"}, {"interrupted", "interrupted"}},
         {{"address", "scale", false},
          {"status", "status", false},
          {"planned", "planned", true},
          {"written", "answered", true},
          {"confirmed", "confirmed", true},
          {"pending", "pending", true},
          {"differing", "differing", true},
          {"seconds", "seconds", true},
          {"failure", "cause", false}}},
    };
    return layouts;
}

const CommandLayout& LayoutOf(const ReportJson& report) {
    for (const CommandLayout& layout : Layouts()) {
        if (report.value("command", "") == layout.command) return layout;
    }
    return Layouts().front();
}

// A field as a cell shows it: strings as they are, numbers as JSON writes them.
std::string CellText(const ReportJson& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
    if (value.is_null()) return "";
    return value.dump();
}

const char kStyle[] = R"(<style>
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222}
h1{font-size:1.3em;margin:0 0 .3em}
.run{color:#555;margin:0 0 .8em}
.summary{display:flex;flex-wrap:wrap;gap:.5em;margin:0 0 1em;padding:0;list-style:none}
.summary li{border:1px solid #ccc;border-radius:4px;padding:.3em .7em}
.summary b{font-size:1.2em;margin-right:.3em}
.controls{margin:0 0 .6em}
.controls input{width:18em}
table{border-collapse:collapse}
th,td{padding:.2em .6em;border-bottom:1px solid #e4e4e4;text-align:left;white-space:nowrap}
td.n{text-align:right;font-variant-numeric:tabular-nums}
td.cause{white-space:normal;max-width:40em}
th{position:sticky;top:0;background:#f3f3f3;cursor:pointer;user-select:none}
th[aria-sort=ascending]::after{content:" \25B2"}
th[aria-sort=descending]::after{content:" \25BC"}
tr[data-status=failed] td,tr[data-status=refused-cap] td{color:#a40000}
tr[data-status=interrupted] td{color:#8a5a00}
.bad{color:#a40000;font-weight:bold}
</style>
)";

// Sorts on a click of a heading, filters by the text box and the status, and keeps the view in
// the page's address ("#status=failed&filter=TEXT&sort=-field"), which it also reads on load.
const char kScript[] = R"(<script>
(function () {
  var table = document.getElementById("scales"), body = table.tBodies[0];
  var rows = Array.prototype.slice.call(body.rows), heads = table.tHead.rows[0].cells;
  var text = document.getElementById("filter"), status = document.getElementById("status");
  var shown = document.getElementById("shown"), sorted = "";
  function column(field) {
    for (var i = 0; i < heads.length; i++) if (heads[i].dataset.field === field) return i;
    return -1;
  }
  function sortBy(key) {
    var down = key.charAt(0) === "-", i = column(down ? key.slice(1) : key);
    if (i < 0) return;
    var number = heads[i].dataset.type === "number";
    rows.sort(function (a, b) {
      var x = a.cells[i].textContent, y = b.cells[i].textContent;
      var c = number ? x - y : x.localeCompare(y, undefined, {numeric: true});
      return down ? -c : c;
    });
    var all = document.createDocumentFragment();
    rows.forEach(function (row) { all.appendChild(row); });
    body.appendChild(all);
    for (var j = 0; j < heads.length; j++)
      heads[j].setAttribute("aria-sort", j === i ? (down ? "descending" : "ascending") : "none");
    sorted = key;
  }
  function filter() {
    var words = text.value.toLowerCase(), wanted = status.value, count = 0;
    rows.forEach(function (row) {
      var on = (!wanted || row.dataset.status === wanted) &&
               (!words || row.textContent.toLowerCase().indexOf(words) >= 0);
      row.hidden = !on;
      count += on ? 1 : 0;
    });
    shown.textContent = count + " of " + rows.length + " scale(s) shown";
  }
  function keep() {
    var view = [];
    if (status.value) view.push("status=" + encodeURIComponent(status.value));
    if (text.value) view.push("filter=" + encodeURIComponent(text.value));
    if (sorted) view.push("sort=" + encodeURIComponent(sorted));
    history.replaceState(null, "", view.length ? "#" + view.join("&") : location.pathname);
  }
  function read() {
    var view = {};
    location.hash.slice(1).split("&").forEach(function (part) {
      var at = part.indexOf("=");
      if (at > 0) view[part.slice(0, at)] = decodeURIComponent(part.slice(at + 1));
    });
    text.value = view.filter || "";
    status.value = view.status || "";
    if (view.sort) sortBy(view.sort);
    filter();
  }
  for (var i = 0; i < heads.length; i++) heads[i].addEventListener("click", function () {
    var field = this.dataset.field;
    sortBy(sorted === field ? "-" + field : field);
    keep();
  });
  text.addEventListener("input", function () { filter(); keep(); });
  status.addEventListener("change", function () { filter(); keep(); });
  window.addEventListener("hashchange", read);
  read();
})();
</script>
)";

// One line on the run: whether it ended well, how long it took, and what else it says.
std::string RunLine(const ReportJson& report) {
    std::string line = report.value("ok", false) ? "Every scale ended well"
                                                 : "<span class=\"bad\">Not every scale ended "
                                                   "well</span>";
    line += "; " + CellText(report.value("seconds", ReportJson(0))) + " s";
    if (report.value("dry_run", false)) line += "; a dry run: nothing was sent";
    if (report.value("interrupted", false)) line += "; stopped by Ctrl-C";
    if (report.contains("probed") && !report["probed"].get<bool>()) {
        line += "; the scales were not checked (--probe 0)";
    }
    if (report.contains("record_type")) {
        line += "; record type " + CellText(report["record_type"]) + ", " +
                CellText(report.value("commands", ReportJson(0))) + " command line(s)";
    }
    if (report.value("verify", false)) line += "; read back (--verify)";
    std::string stateError = report.value("state_error", "");
    if (!stateError.empty()) {
        line += "; <span class=\"bad\">the state: " + EscapeHtml(stateError) + "</span>";
    }
    return "<p class=\"run\">" + line + "</p>\n";
}

std::string Summary(const CommandLayout& layout, const ReportJson& scales) {
    std::string html = "<ul class=\"summary\">\n";
    for (const StatusLabel& status : layout.statuses) {
        std::size_t count = 0;
        for (const ReportJson& scale : scales) count += scale.value("status", "") == status.status;
        html += std::string("<li><b id=\"count-") + status.status + "\">" + std::to_string(count) +
                "</b>" + status.label + "</li>\n";
    }
    return html + "</ul>\n";
}

std::string Controls(const CommandLayout& layout) {
    std::string html =
        "<p class=\"controls\"><input id=\"filter\" type=\"search\" placeholder=\"filter: "
        "address, status, cause\" aria-label=\"filter\"> <select id=\"status\" "
        "aria-label=\"status\"><option value=\"\">every status</option>";
    for (const StatusLabel& status : layout.statuses) {
        html +=
            std::string("<option value=\"") + status.status + "\">" + status.label + "</option>";
    }
    return html + "</select> <span id=\"shown\"></span></p>\n";
}

// The table of the scales: one plain row a scale, its status in an attribute for the filter.
std::string Table(const CommandLayout& layout, const ReportJson& scales) {
    std::string html = "<table id=\"scales\">\n<thead><tr>";
    for (const Column& column : layout.columns) {
        html += std::string("<th data-field=\"") + column.field + "\"" +
                (column.number ? " data-type=\"number\"" : "") + ">" + column.heading + "</th>";
    }
    html += "</tr></thead>\n<tbody>\n";
    for (const ReportJson& scale : scales) {
        html += "<tr data-status=\"" + EscapeHtml(scale.value("status", "")) + "\">";
        for (const Column& column : layout.columns) {
            std::string text = scale.contains(column.field) ? CellText(scale[column.field]) : "";
            html += std::string(column.number                            ? "<td class=\"n\">"
                                : column.field == std::string("failure") ? "<td class=\"cause\">"
                                                                         : "<td>") +
                    EscapeHtml(text) + "</td>";
        }
        html += "</tr>\n";
    }
    return html + "</tbody>\n</table>\n";
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
    std::string html;
    html.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                html += "&amp;";
                break;
            case '<':
                html += "&lt;";
                break;
            case '>':
                html += "&gt;";
                break;
            case '"':
                html += "&quot;";
                break;
            case '\'':
                html += "&#39;";
                break;
            default:
                html += c;
                break;
        }
    }
    return html;
}

std::string HtmlReport(const ReportJson& report) {
    // The JSON file's own text read back: bytes that are not UTF-8 are U+FFFD here as there.
    ReportJson clean =
        ReportJson::parse(report.dump(-1, ' ', false, ReportJson::error_handler_t::replace));
    const CommandLayout& layout = LayoutOf(clean);
    ReportJson scales = clean.value("scales", ReportJson::array());
    std::string title = std::string("vudaduv ") + layout.command + ": " +
                        std::to_string(scales.size()) + " scale(s)";
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta "
           "name=\"viewport\" content=\"width=device-width\">\n<title>" +
           title + "</title>\n" + kStyle + "</head>\n<body>\n<h1>" + title + "</h1>\n" +
           RunLine(clean) + Summary(layout, scales) + Controls(layout) + Table(layout, scales) +
           kScript + "</body>\n</html>\n";
}

}  // namespace vudaduv::cli
