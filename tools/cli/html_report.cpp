#include "html_report.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace vudaduv::cli {

namespace {

// A status a scale can end in, the words the summary gives it, and the plain words its row
// shows beside the code, for a reader who does not know the codes.
struct StatusLabel {
    const char* status;
    const char* label;
    const char* words;
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
         {{"in-step", "in step", "up to date"},
          {"synced", "synced", "updated"},
          {"drift-repaired", "drift repaired", "repaired: it had been changed at the scale"},
          {"failed", "failed", "failed"},
          {"refused-cap", "refused", "refused: too many removals"},
          {"interrupted", "interrupted", "stopped before it was done"},
          {"planned", "planned", "would be updated (a dry run)"}},
         {{"address", "scale", false},
          {"name", "name", false},
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
         {{"synced", "synced", "sent"},
          {"failed", "failed", "failed"},
          {"interrupted", "interrupted", "stopped before it was done"}},
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
td.cause{white-space:normal;min-width:16em;max-width:40em}
th{position:sticky;top:0;background:#f3f3f3;cursor:pointer;user-select:none}
th[aria-sort=ascending]::after{content:" \25B2"}
th[aria-sort=descending]::after{content:" \25BC"}
tr[data-status=failed] td,tr[data-status=refused-cap] td{color:#a40000}
tr[data-status=interrupted] td{color:#8a5a00}
.bad{color:#a40000;font-weight:bold}
.lead{font-size:1.1em;max-width:60em;margin:0 0 .6em}
@media print{
body{margin:0;font-size:9pt;color:#000}
.controls{display:none}
th{position:static;background:none;cursor:auto}
th[aria-sort]::after{content:none}
.summary li{border-color:#888}
table{width:100%}
thead{display:table-header-group}
tr{break-inside:avoid}
td{white-space:normal}
}
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
    std::string run = report.value("status", "");
    std::string line = run == "running" ? "<span class=\"bad\">The run has not finished</span>"
                       : run == "stopped"
                           ? "<span class=\"bad\">The run stopped before it served the "
                             "scales</span>"
                       : report.value("ok", false) ? "Every scale ended well"
                                                   : "<span class=\"bad\">Not every scale "
                                                     "ended well</span>";
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

// "refused: too many removals (refused-cap)": the words, then the code a program reads.
std::string StatusWords(const CommandLayout& layout, const std::string& status) {
    for (const StatusLabel& label : layout.statuses) {
        if (status == label.status && status != label.words) {
            return std::string(label.words) + " (" + status + ")";
        }
    }
    return status;
}

// A moment of the report as a reader takes it: "2026-12-09 02:00:05 +01:00".
std::string ShownTime(const std::string& iso) {
    if (iso.size() < 19) return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 8) +
           (iso.size() > 19 ? " " + iso.substr(19) : "");
}

// The causes of the scales of a status, each once with how many scales it took: "timed out
// (2 scales); refused"; at most three, then how many more.
std::string CausesOf(const ReportJson& scales, const std::string& status) {
    std::vector<std::pair<std::string, std::size_t>> causes;
    for (const ReportJson& scale : scales) {
        if (scale.value("status", "") != status) continue;
        std::string cause = scale.value("failure", "");
        if (cause.empty()) continue;
        std::size_t at = 0;
        while (at < causes.size() && causes[at].first != cause) ++at;
        if (at == causes.size()) causes.emplace_back(cause, 0);
        ++causes[at].second;
    }
    std::string text;
    for (std::size_t i = 0; i < causes.size() && i < 3; ++i) {
        text += (i == 0 ? "" : "; ") + causes[i].first +
                (causes[i].second > 1 ? " (" + std::to_string(causes[i].second) + " scales)" : "");
    }
    if (causes.size() > 3) text += "; and " + std::to_string(causes.size() - 3) + " other cause(s)";
    return text;
}

std::size_t CountOf(const ReportJson& scales, const char* status) {
    std::size_t count = 0;
    for (const ReportJson& scale : scales) count += scale.value("status", "") == status ? 1 : 0;
    return count;
}

// "N words (causes)" for a status that some scales ended in; "" for none.
std::string Part(const ReportJson& scales, const char* status, const std::string& words) {
    std::size_t count = CountOf(scales, status);
    if (count == 0) return "";
    std::string causes = CausesOf(scales, status);
    return ", " + std::to_string(count) + " " + words + (causes.empty() ? "" : " (" + causes + ")");
}

// The one sentence a shop manager reads first: when, which list, and how the scales ended,
// with the causes of those that did not end well.
std::string Lead(const ReportJson& report, const ReportJson& scales) {
    if (report.value("command", "") != "sync" || !report.contains("started")) return "";
    std::string when = ShownTime(report.value("started", ""));
    const ReportJson list = report.value("list", ReportJson::object());
    std::string listText = "the list " + list.value("path", std::string("?"));
    if (list.contains("records") && list["records"].is_number()) {
        listText += " (" + CellText(list["records"]) + " records)";
    }
    std::string run = report.value("status", "");
    std::string text;
    if (run == "running") {
        text = "The sync of " + listText + " started " + when +
               " and has not finished: if it is no longer running, it was stopped before it "
               "could say how the scales ended (killed, or the machine went down).";
    } else if (run == "stopped") {
        text = "The sync of " + listText + " started " + when +
               " stopped before it served any scale: " + report.value("error", "") + ".";
    } else {
        std::size_t upToDate = CountOf(scales, "in-step") + CountOf(scales, "synced") +
                               CountOf(scales, "drift-repaired");
        text = std::string(report.value("dry_run", false) ? "The dry run of " : "The sync of ") +
               listText + " on " + when + (run == "interrupted" ? ", stopped by Ctrl-C," : "") +
               ": " + std::to_string(scales.size()) + " scale(s), " + std::to_string(upToDate) +
               " up to date (" + std::to_string(CountOf(scales, "in-step")) + " already, " +
               std::to_string(CountOf(scales, "synced")) + " updated, " +
               std::to_string(CountOf(scales, "drift-repaired")) + " repaired)" +
               Part(scales, "planned", "would be updated") +
               Part(scales, "refused-cap", "not changed") + Part(scales, "failed", "failed") +
               Part(scales, "interrupted", "stopped before they were done") + ".";
    }
    return "<p class=\"lead\" id=\"lead\">" + EscapeHtml(text) + "</p>\n";
}

// Where the report comes from: the times, the list's digest, the tool and the host.
std::string Origin(const ReportJson& report) {
    if (!report.contains("version")) return "";
    std::string finished = report.contains("finished") && report["finished"].is_string()
                               ? ShownTime(report["finished"].get<std::string>())
                               : "not yet";
    const ReportJson list = report.value("list", ReportJson::object());
    std::string digest = list.contains("digest") && list["digest"].is_string()
                             ? ", digest " + list["digest"].get<std::string>()
                             : "";
    std::string listText =
        list.empty() ? "" : "; list " + EscapeHtml(list.value("path", std::string("?")) + digest);
    return "<p class=\"run\">Started " + EscapeHtml(ShownTime(report.value("started", ""))) +
           ", finished " + EscapeHtml(finished) + listText + "; vudaduv " +
           EscapeHtml(report.value("version", "")) + " on " + EscapeHtml(report.value("host", "")) +
           "</p>\n";
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
        "address, name, status, cause\" aria-label=\"filter\"> <select id=\"status\" "
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
        std::string status = scale.value("status", "");
        html += "<tr data-status=\"" + EscapeHtml(status) + "\">";
        for (const Column& column : layout.columns) {
            std::string text = scale.contains(column.field) ? CellText(scale[column.field]) : "";
            if (column.field == std::string("status")) text = StatusWords(layout, status);
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
           Lead(clean, scales) + RunLine(clean) + Origin(clean) + Summary(layout, scales) +
           Controls(layout) + Table(layout, scales) + kScript + "</body>\n</html>\n";
}

}  // namespace vudaduv::cli
