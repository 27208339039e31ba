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

}  // namespace
}  // namespace vudaduv::cli
