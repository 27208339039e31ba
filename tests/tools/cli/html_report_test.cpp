// The HTML page of a report, made from JSON in the program itself: every outside text escaped,
// and pages opened in a real browser, a hostile one and one of 5,000 scales.
#include "html_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser.h"
#include "temp_directory.h"

namespace vudaduv::cli {
namespace {

using test::ChromiumPath;
using test::DumpDom;
using test::PrintToPdf;
using test::Screenshot;
using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

struct EscapeCase {
    std::string text;
    std::string html;
};

TEST(HtmlReport, EscapesEveryMarkupCharacter) {
    const std::vector<EscapeCase> cases = {
        {"127.0.0.1:4001", "127.0.0.1:4001"},
        {"<b>", "&lt;b&gt;"},
        {"a & b", "a &amp; b"},
        {"say \"hi\"", "say &quot;hi&quot;"},
        {"it's", "it&#39;s"},
        {"&amp;", "&amp;amp;"},
        {"", ""},
    };
    for (const EscapeCase& row : cases) EXPECT_EQ(EscapeHtml(row.text), row.html) << row.text;
}

ReportJson Scale(const std::string& address, const std::string& status,
                 const std::string& failure) {
    return {{"address", address}, {"status", status}, {"ok", failure.empty()},
            {"failure", failure}, {"planned", 2},     {"written", 2},
            {"confirmed", 2},     {"pending", 0},     {"seconds", 0.25}};
}

ReportJson SendReportOf(const ReportJson& scales) {
    return {{"schema", 1},          {"command", "send"}, {"ok", false},
            {"interrupted", false}, {"verify", false},   {"record_type", 1},
            {"commands", 2},        {"scales", scales},  {"seconds", 1.5}};
}

const char kHostileAddress[] = "<img src=x onerror=\"document.title='taken'\">";
const char kHostileCause[] = "</td></tr></table><script>document.title='taken'</script>'\"&";

TEST(HtmlReport, OutsideTextStaysText) {
    ReportJson scales = ReportJson::array();
    scales.push_back(Scale(kHostileAddress, "failed", kHostileCause));
    scales.push_back(Scale(std::string("scale-\xff\xfe"), "synced", ""));
    std::string page = HtmlReport(SendReportOf(scales));
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("<script>document"), std::string::npos);
    EXPECT_NE(page.find(EscapeHtml(kHostileAddress)), std::string::npos);
    EXPECT_NE(page.find("scale-\xef\xbf\xbd\xef\xbf\xbd"), std::string::npos)
        << "bytes that are no UTF-8 become U+FFFD";
    EXPECT_NE(page.find("<b id=\"count-failed\">1</b>"), std::string::npos);
    EXPECT_NE(page.find("<b id=\"count-synced\">1</b>"), std::string::npos);
}

// The browser reads the hostile texts back as the very texts: no element, no script of theirs.
TEST(HtmlReportInBrowser, HostileTextsAreShownAsText) {
    if (ChromiumPath().empty()) {
        GTEST_SKIP() << "no Chromium installed (apt-get install chromium); not run on Windows";
    }
    TempDirectory directory;
    ReportJson scales = ReportJson::array();
    scales.push_back(Scale(kHostileAddress, "failed", kHostileCause));
    WriteWholeFile("report.html", HtmlReport(SendReportOf(scales)));
    std::string dom = DumpDom("report.html");
    ASSERT_NE(dom, "");
    EXPECT_NE(dom.find("<title>vudaduv send: 1 scale(s)</title>"), std::string::npos) << dom;
    EXPECT_EQ(dom.find("<img"), std::string::npos) << dom;
    // The browser writes a text back with only &, < and > escaped.
    for (const std::string cell :
         {"<td>&lt;img src=x onerror=\"document.title='taken'\"&gt;</td>",
          "<td class=\"cause\">&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;script&gt;document.title="
          "'taken'&lt;/script&gt;'\"&amp;</td>"}) {
        EXPECT_NE(dom.find(cell), std::string::npos) << cell << "\n" << dom;
    }
    EXPECT_NE(dom.find("1 of 1 scale(s) shown"), std::string::npos) << dom;
}

// A fleet of 5,000 scales: one plain row each, and the status filter still finds its rows.
TEST(HtmlReportInBrowser, FiveThousandScales) {
    if (ChromiumPath().empty()) {
        GTEST_SKIP() << "no Chromium installed (apt-get install chromium); not run on Windows";
    }
    TempDirectory directory;
    ReportJson scales = ReportJson::array();
    for (int i = 0; i < 5000; ++i) {
        bool failed = i % 100 == 7;
        scales.push_back(
            Scale("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":4001",
                  failed ? "failed" : "synced", failed ? "timed out" : ""));
    }
    WriteWholeFile("report.html", HtmlReport(SendReportOf(scales)));
    std::string dom = DumpDom("report.html", "status=failed");
    ASSERT_NE(dom, "");
    std::size_t rows = 0;
    for (std::size_t at = dom.find("<tr data-status="); at != std::string::npos;
         at = dom.find("<tr data-status=", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, 5000u);
    EXPECT_NE(dom.find("50 of 5000 scale(s) shown"), std::string::npos);
    EXPECT_NE(dom.find("<b id=\"count-failed\">50</b>"), std::string::npos);
}

// ---- The page of a sync, for a shop manager ---------------------------------------------------

ReportJson SyncScale(const std::string& address, const std::string& name, const std::string& status,
                     const std::string& failure) {
    return {{"address", address}, {"name", name}, {"status", status}, {"ok", failure.empty()},
            {"failure", failure}, {"sent", 1},    {"removed", 0},     {"unchanged", 499},
            {"planned", 1},       {"pending", 0}, {"differing", 0},   {"seconds", 0.5}};
}

ReportJson SyncReportOf(const ReportJson& scales, const std::string& status = "finished") {
    return {
        {"schema", 1},
        {"command", "sync"},
        {"status", status},
        {"started", "2026-12-09T02:00:05+01:00"},
        {"finished", status == "running" ? ReportJson() : ReportJson("2026-12-09T02:03:10+01:00")},
        {"version", "1.0.0"},
        {"host", "backoffice"},
        {"list",
         {{"path", "/srv/export/items.txt"}, {"digest", "0123456789abcdef"}, {"records", 500}}},
        {"dry_run", false},
        {"error", status == "stopped" ? "the state directory state is held by process 4242" : ""},
        {"ok", false},
        {"interrupted", status == "interrupted"},
        {"scales", scales},
        {"seconds", 185.0}};
}

struct WordsCase {
    const char* status;
    const char* cell;
};

TEST(HtmlReport, EveryStatusIsShownInWordsBesideItsCode) {
    const std::vector<WordsCase> cases = {
        {"in-step", "<td>up to date (in-step)</td>"},
        {"synced", "<td>updated (synced)</td>"},
        {"drift-repaired", "<td>repaired: it had been changed at the scale (drift-repaired)</td>"},
        {"refused-cap", "<td>refused: too many removals (refused-cap)</td>"},
        {"failed", "<td>failed</td>"},
        {"interrupted", "<td>stopped before it was done (interrupted)</td>"},
        {"planned", "<td>would be updated (a dry run) (planned)</td>"},
    };
    for (const WordsCase& row : cases) {
        ReportJson scales = ReportJson::array();
        scales.push_back(SyncScale("10.1.12.31:4001", "Store 12, deli counter", row.status, ""));
        std::string page = HtmlReport(SyncReportOf(scales));
        EXPECT_NE(page.find(row.cell), std::string::npos) << row.status;
        EXPECT_NE(page.find("<td>Store 12, deli counter</td>"), std::string::npos);
    }
}

const char kRefusal[] =
    "its plan removes 490 record(s), more than its removal cap of 50 allows; nothing sent";

TEST(HtmlReport, TheLeadSaysWhenWhichListAndHowTheScalesEndedAndWhy) {
    ReportJson scales = ReportJson::array();
    scales.push_back(SyncScale("10.1.12.31:4001", "Store 12, deli", "synced", ""));
    scales.push_back(SyncScale("10.1.12.32:4001", "Store 12, bakery", "in-step", ""));
    scales.push_back(SyncScale("10.1.13.31:4001", "Store 13, deli", "drift-repaired", ""));
    scales.push_back(SyncScale("10.1.14.31:4001", "Store 14, deli", "refused-cap", kRefusal));
    scales.push_back(SyncScale("10.1.15.31:4001", "", "failed", "timed out"));
    scales.push_back(SyncScale("10.1.16.31:4001", "", "failed", "timed out"));
    scales.push_back(SyncScale("10.1.17.31:4001", "", "failed", "refused <by> the host"));
    std::string page = HtmlReport(SyncReportOf(scales));
    EXPECT_NE(page.find("<p class=\"lead\" id=\"lead\">The sync of the list "
                        "/srv/export/items.txt (500 records) on 2026-12-09 02:00:05 +01:00: 7 "
                        "scale(s), 3 up to date (1 already, 1 updated, 1 repaired), 1 not changed "
                        "(its plan removes 490 record(s), more than its removal cap of 50 allows; "
                        "nothing sent), 3 failed (timed out (2 scales); refused &lt;by&gt; the "
                        "host).</p>"),
              std::string::npos)
        << page.substr(0, 4000);
    EXPECT_LT(page.find("id=\"lead\""), page.find("<table")) << "the sentence comes first";
    EXPECT_NE(page.find("Started 2026-12-09 02:00:05 +01:00, finished 2026-12-09 02:03:10 "
                        "+01:00; list /srv/export/items.txt, digest 0123456789abcdef; vudaduv "
                        "1.0.0 on backoffice"),
              std::string::npos);
}

TEST(HtmlReport, ARunThatDidNotFinishSaysSo) {
    std::string running = HtmlReport(SyncReportOf(ReportJson::array(), "running"));
    EXPECT_NE(running.find("started 2026-12-09 02:00:05 +01:00 and has not finished"),
              std::string::npos);
    EXPECT_NE(running.find("finished not yet"), std::string::npos);
    EXPECT_EQ(running.find("Every scale ended well"), std::string::npos);
    std::string stopped = HtmlReport(SyncReportOf(ReportJson::array(), "stopped"));
    EXPECT_NE(stopped.find("stopped before it served any scale: the state directory state is "
                           "held by process 4242."),
              std::string::npos);
}

// A chain's 5,000 scales by name: the lead counts them, the names and words are in the
// browser's document, the status filter finds the refused ones, and the page draws and prints.
TEST(HtmlReportInBrowser, FiveThousandNamedScalesOfASync) {
    if (ChromiumPath().empty()) {
        GTEST_SKIP() << "no Chromium installed (apt-get install chromium); not run on Windows";
    }
    TempDirectory directory;
    ReportJson scales = ReportJson::array();
    for (int i = 0; i < 5000; ++i) {
        bool refused = i % 500 == 3;
        scales.push_back(SyncScale(
            "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":4001",
            "Store " + std::to_string(i / 4) + ", counter " + std::to_string(i % 4),
            refused ? "refused-cap" : "in-step", refused ? kRefusal : ""));
    }
    WriteWholeFile("report.html", HtmlReport(SyncReportOf(scales)));
    std::string dom = DumpDom("report.html", "status=refused-cap");
    ASSERT_NE(dom, "");
    EXPECT_NE(dom.find("5000 scale(s), 4990 up to date (4990 already, 0 updated, 0 repaired), "
                       "10 not changed (its plan removes 490 record(s), more than its removal "
                       "cap of 50 allows; nothing sent (10 scales))."),
              std::string::npos);
    EXPECT_NE(dom.find("10 of 5000 scale(s) shown"), std::string::npos);
    EXPECT_NE(dom.find("<td>Store 0, counter 3</td><td>refused: too many removals "
                       "(refused-cap)</td>"),
              std::string::npos);
    EXPECT_NE(dom.find("<td>Store 1249, counter 3</td>"), std::string::npos);
    EXPECT_TRUE(Screenshot("report.html", "report.png"));
    // Printed: the rows are laid out over pages, not cut off.
    ReportJson few = ReportJson::array();
    for (std::size_t i = 0; i < 300; ++i) few.push_back(scales[i]);
    WriteWholeFile("few.html", HtmlReport(SyncReportOf(few)));
    ASSERT_TRUE(PrintToPdf("few.html", "few.pdf"));
    std::string pdf = ReadWholeFile("few.pdf");
    std::size_t pages = 0;
    for (std::size_t at = pdf.find("/Type /Page"); at != std::string::npos;
         at = pdf.find("/Type /Page", at + 1)) {
        pages += pdf.compare(at, 12, "/Type /Pages") == 0 ? 0 : 1;
    }
    EXPECT_GE(pages, 3u);
    EXPECT_LE(pages, 20u);
}

}  // namespace
}  // namespace vudaduv::cli
