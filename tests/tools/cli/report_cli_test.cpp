// The reports of send and sync, as a chain of tools reads them: one numbered JSON shape for
// both commands, the --report values each takes, and the HTML page of the same run in a real
// browser. Real virtual scales and the tool as a process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "browser.h"
#include "temp_directory.h"
#include "tool_process.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;
using Json = nlohmann::json;

// A field a report must hold, and the kind of JSON value it is.
struct Field {
    const char* name;
    char kind;  // 'n' number, 's' string, 'b' true or false, 'a' array
};

const std::vector<Field> kRunFields = {
    {"schema", 'n'},  {"command", 's'},     {"ok", 'b'},     {"interrupted", 'b'},
    {"scales", 'a'},  {"served", 'n'},      {"failed", 'n'}, {"interrupted_scales", 'n'},
    {"seconds", 'n'}, {"milliseconds", 'n'}};
const std::vector<Field> kScaleFields = {
    {"address", 's'}, {"status", 's'},         {"ok", 'b'},
    {"failure", 's'}, {"transport_code", 'n'}, {"transport_code_name", 's'},
    {"planned", 'n'}, {"written", 'n'},        {"confirmed", 'n'},
    {"pending", 'n'}, {"seconds", 'n'}};
// What each command adds; send keeps the fields of its first report.
const std::vector<Field> kSendRunFields = {
    {"record_type", 'n'}, {"verify", 'b'},  {"commands", 'n'}, {"started", 's'},
    {"finished", 's'},    {"version", 's'}, {"host", 's'}};
const std::vector<Field> kSendScaleFields = {
    {"verified", 'b'}, {"differing", 'n'},   {"code", 'n'},        {"cause", 's'},
    {"answered", 'n'}, {"connections", 'n'}, {"milliseconds", 'n'}};
const std::vector<Field> kSyncRunFields = {
    {"status", 's'}, {"started", 's'},     {"finished", 's'}, {"version", 's'},
    {"host", 's'},   {"error", 's'},       {"targets", 'n'},  {"dry_run", 'b'},
    {"probed", 'b'}, {"state_error", 's'}, {"refused", 'n'},  {"drift_repaired", 'n'}};
const std::vector<Field> kSyncScaleFields = {
    {"name", 's'},           {"sent", 'n'},        {"removed", 'n'}, {"removals_planned", 'n'},
    {"unchanged", 'n'},      {"removal_cap", 'n'}, {"probed", 'n'},  {"differing", 'n'},
    {"read_from_scale", 'b'}};

bool OfKind(const Json& value, char kind) {
    switch (kind) {
        case 'n':
            return value.is_number();
        case 's':
            return value.is_string();
        case 'b':
            return value.is_boolean();
        default:
            return value.is_array();
    }
}

void ExpectFields(const Json& object, const std::vector<Field>& fields, const std::string& where) {
    for (const Field& field : fields) {
        ASSERT_TRUE(object.contains(field.name)) << where << " lacks " << field.name;
        EXPECT_TRUE(OfKind(object[field.name], field.kind)) << where << "." << field.name;
    }
}

// One run against two virtual scales and a dead port (in that order), and what its report
// says of the run and of each of the three scales.
struct ShapeCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<const char*, Json>> run;
    std::vector<std::pair<const char*, Json>> scales;  // each value: one for each scale
};

const std::vector<ShapeCase> kShapeCases = {
    {"Send",
     {"send", "--type", "1"},
     {{"command", "send"},
      {"verify", false},
      {"ok", false},
      {"served", 2},
      {"failed", 1},
      {"commands", 2},
      {"record_type", 1}},
     {{"status", {"synced", "synced", "failed"}},
      {"ok", {true, true, false}},
      {"transport_code_name", {"WQDS_OK", "WQDS_OK", "WQDS_REFUSED"}},
      {"planned", {2, 2, 2}},
      {"written", {2, 2, 0}},
      {"confirmed", {2, 2, 0}},
      {"pending", {0, 0, 2}},
      {"answered", {2, 2, 0}},
      {"verified", {false, false, false}}}},
    {"SendVerified",
     {"send", "--type", "1", "--verify"},
     {{"command", "send"}, {"verify", true}, {"ok", false}, {"served", 2}, {"failed", 1}},
     {{"status", {"synced", "synced", "failed"}},
      {"confirmed", {2, 2, 0}},
      {"verified", {true, true, false}},
      {"differing", {0, 0, 0}}}},
    {"Sync",
     {"sync", "--file", "items.txt", "--type", "1", "--state", "state"},
     {{"command", "sync"}, {"dry_run", false}, {"ok", false}, {"served", 2}, {"failed", 1}},
     {{"status", {"synced", "synced", "failed"}},
      {"ok", {true, true, false}},
      {"sent", {2, 2, 0}},
      {"planned", {2, 2, 0}},
      {"confirmed", {2, 2, 0}},
      {"transport_code_name", {"WQDS_OK", "WQDS_OK", "WQDS_REFUSED"}}}},
    {"SyncDryRun",
     {"sync", "--file", "items.txt", "--type", "1", "--state", "state", "--dry-run"},
     {{"command", "sync"}, {"dry_run", true}, {"served", 2}, {"failed", 1}},
     {{"status", {"planned", "planned", "failed"}},
      {"planned", {2, 2, 0}},
      {"written", {0, 0, 0}},
      {"confirmed", {0, 0, 0}}}},
};

const char kItems[] = "12A1,25##Pear\n13A2,50##Apple\n";

class ReportShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ReportShape, OneNumberedShapeForSendAndSync) {
    const ShapeCase& row = GetParam();
    TempDirectory directory;
    ScaleProcess fleet(2, 0);
    ASSERT_TRUE(fleet.Started()) << fleet.Output();
    std::vector<std::string> addresses = fleet.OutputLines();
    ASSERT_EQ(addresses.size(), 2u);
    addresses.push_back("127.0.0.1:" + std::to_string(ClosedPort()));
    WriteWholeFile("scales.txt", addresses[0] + "\n" + addresses[1] + "\n" + addresses[2] + "\n");
    WriteWholeFile("items.txt", kItems);
    std::vector<std::string> args = row.args;
    args.insert(args.end(),
                {"--targets-file", "scales.txt", "--retries", "0", "--report", "json:report.json"});
    ToolRun run = RunTool(args, kItems);
    EXPECT_EQ(run.status, 1) << run.out << run.err;

    std::string text = ReadWholeFile("report.json");
    Json report = Json::parse(text, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << text;
    EXPECT_EQ(report["schema"], 1);
    bool send = row.args[0] == "send";
    ExpectFields(report, kRunFields, "report");
    ExpectFields(report, send ? kSendRunFields : kSyncRunFields, "report");
    for (const auto& [field, value] : row.run) EXPECT_EQ(report[field], value) << field;
    ASSERT_EQ(report["scales"].size(), addresses.size()) << text;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const Json& scale = report["scales"][i];
        std::string where = "scale " + std::to_string(i);
        ExpectFields(scale, kScaleFields, where);
        ExpectFields(scale, send ? kSendScaleFields : kSyncScaleFields, where);
        EXPECT_EQ(scale["address"], addresses[i]);
        EXPECT_EQ(scale["failure"].get<std::string>().empty(), scale["ok"].get<bool>()) << where;
        for (const auto& [field, values] : row.scales) {
            EXPECT_EQ(scale[field], values[i]) << where << "." << field << "\n" << text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportShape, ::testing::ValuesIn(kShapeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The values of --report each command refuses, before anything is sent.
struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

const std::vector<OptionCase> kOptionCases = {
    {"SendJsonTwice",
     {"send", "--type", "1", "--target", "127.0.0.1:1", "--report", "json:a.json", "--report",
      "json:b.json"},
     "--report json: is given twice"},
    {"SyncHtmlTwice",
     {"sync", "--file", "items.txt", "--type", "1", "--state", "state", "--target", "127.0.0.1:1",
      "--report", "html:a.html", "--report", "html:b.html"},
     "--report html: is given twice"},
    {"SendHtmlToStdout",
     {"send", "--type", "1", "--target", "127.0.0.1:1", "--report", "html:-"},
     "--report html:- would mix the report with the upload lines"},
    {"SyncJsonToStdout",
     {"sync", "--file", "items.txt", "--type", "1", "--state", "state", "--target", "127.0.0.1:1",
      "--report", "json:-"},
     "--report json:- would mix the report with the scales' lines"},
    {"SyncUnknownFormat",
     {"sync", "--file", "items.txt", "--type", "1", "--state", "state", "--target", "127.0.0.1:1",
      "--report", "xml:r.xml"},
     "--report wants json:FILE, html:FILE or metrics:FILE, not 'xml:r.xml'"},
    {"SendHtmlInMissingFolder",
     {"send", "--type", "1", "--target", "127.0.0.1:1", "--report", "json:r.json", "--report",
      "html:no/such/folder/r.html"},
     "--report: no/such/folder/r.html cannot be written"},
};

class ReportOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ReportOption, RefusedBeforeAnythingIsSent) {
    TempDirectory directory;
    WriteWholeFile("items.txt", kItems);
    ToolRun run = RunTool(GetParam().args, kItems);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists("state")) << "nothing is read or written";
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportOption, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A row of the page's table as the browser holds it: its status, whether it is shown, and
// the address in its first cell.
struct PageRow {
    std::string status;
    bool shown;
    std::string address;
};

std::vector<PageRow> RowsOf(const std::string& dom) {
    static const std::regex row("<tr data-status=\"([^\"]*)\"( hidden=\"\")?><td>([^<]*)</td>");
    std::vector<PageRow> rows;
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), row); it != std::sregex_iterator();
         ++it) {
        rows.push_back({(*it)[1].str(), !(*it)[2].matched, (*it)[3].str()});
    }
    return rows;
}

std::vector<std::string> ShownAddresses(const std::vector<PageRow>& rows) {
    std::vector<std::string> shown;
    for (const PageRow& row : rows) {
        if (row.shown) shown.push_back(row.address);
    }
    return shown;
}

std::string CountOf(const std::string& dom, const std::string& status) {
    std::smatch match;
    std::regex count("<b id=\"count-" + status + "\">([0-9]+)</b>");
    return std::regex_search(dom, match, count) ? match[1].str() : "";
}

unsigned PortOf(const std::string& address) {
    return static_cast<unsigned>(std::stoul(address.substr(address.rfind(':') + 1)));
}

// A sync of three scales and a dead one writes both reports; Chromium shows one row a scale,
// the summary's counts, and the view the page's address asks for: a status, a text, an order.
TEST(HtmlReportInBrowser, SyncPageCountsFiltersAndSorts) {
    if (ChromiumPath().empty()) {
        GTEST_SKIP() << "no Chromium installed (apt-get install chromium); not run on Windows";
    }
    TempDirectory directory;
    ScaleProcess fleet(3, 0);
    ASSERT_TRUE(fleet.Started()) << fleet.Output();
    std::vector<std::string> addresses = fleet.OutputLines();
    ASSERT_EQ(addresses.size(), 3u);
    std::string dead = "127.0.0.1:" + std::to_string(ClosedPort());
    WriteWholeFile("items.txt", kItems);
    ToolRun run = RunTool({"sync",
                           "--file",
                           "items.txt",
                           "--type",
                           "1",
                           "--state",
                           "state",
                           "--target",
                           addresses[0],
                           "--target",
                           addresses[1],
                           "--target",
                           addresses[2],
                           "--target",
                           dead,
                           "--retries",
                           "0",
                           "--report",
                           "html:report.html",
                           "--report",
                           "json:report.json"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    Json report = Json::parse(ReadWholeFile("report.json"));

    std::string dom = DumpDom("report.html");
    ASSERT_NE(dom, "") << ReadWholeFile(".browser-errors");
    std::vector<PageRow> rows = RowsOf(dom);
    ASSERT_EQ(rows.size(), report["scales"].size()) << dom;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].address, report["scales"][i]["address"]);
        EXPECT_EQ(rows[i].status, report["scales"][i]["status"]);
        EXPECT_TRUE(rows[i].shown);
    }
    for (const auto& [status, count] : std::vector<std::pair<std::string, std::string>>{
             {"synced", "3"}, {"failed", "1"}, {"in-step", "0"}, {"interrupted", "0"}}) {
        EXPECT_EQ(CountOf(dom, status), count) << status;
    }
    EXPECT_NE(dom.find("4 of 4 scale(s) shown"), std::string::npos) << "the script ran";

    std::vector<std::string> byPortDown = {addresses[0], addresses[1], addresses[2], dead};
    std::sort(byPortDown.begin(), byPortDown.end(),
              [](const std::string& a, const std::string& b) { return PortOf(a) > PortOf(b); });
    std::vector<std::string> syncedDown = byPortDown;
    syncedDown.erase(std::find(syncedDown.begin(), syncedDown.end(), dead));
    const std::vector<std::pair<std::string, std::vector<std::string>>> views = {
        {"status=failed", {dead}},
        {"filter=" + std::to_string(PortOf(addresses[1])), {addresses[1]}},
        {"sort=-address", byPortDown},
        {"status=synced&sort=-address", syncedDown},
    };
    for (const auto& [fragment, expected] : views) {
        std::string shown = DumpDom("report.html", fragment);
        EXPECT_EQ(ShownAddresses(RowsOf(shown)), expected) << fragment;
        EXPECT_NE(shown.find(std::to_string(expected.size()) + " of 4 scale(s) shown"),
                  std::string::npos)
            << fragment;
    }
    EXPECT_TRUE(Screenshot("report.html", "report.png"));
}

}  // namespace
}  // namespace vudaduv::cli::test
