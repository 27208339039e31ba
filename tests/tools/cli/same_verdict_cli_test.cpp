// One check, one verdict, every door: the same lists (tests/fleet/same_verdict_lists.json, which
// the Python binding's test reads too) go through the tool's sync and check and through the
// fleet's C library. Each door refuses the list with the same findings and sends nothing; with
// the changes accepted, both send the same records, read back from the scales.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "temp_directory.h"
#include "tool_process.h"
#include "vudaduv_fleet_c.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

// (line index, field, what): a finding as a door tells it.
using Finding = std::tuple<std::size_t, std::string, std::string>;

struct ListCase {
    std::string name;
    std::vector<std::string> lines;
    bool cutLastLine = false;       // the file's last line has no line end (the tool's doors only)
    std::vector<Finding> findings;  // what: the start of the finding's text
};

void PrintTo(const ListCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<ListCase> LoadCases() {
    nlohmann::json table = nlohmann::json::parse(ReadWholeFile(VUDADUV_SAME_VERDICT_LISTS));
    std::vector<ListCase> cases;
    for (const auto& row : table) {
        ListCase one{row["name"], row["lines"], row.value("cutLastLine", false), {}};
        for (const auto& finding : row["findings"]) {
            one.findings.emplace_back(finding[0], finding[1], finding[2]);
        }
        cases.push_back(std::move(one));
    }
    return cases;
}

std::string FileOf(const ListCase& c) {
    std::string text;
    for (const std::string& line : c.lines) text += line + "\n";
    if (c.cutLastLine) text.pop_back();
    return text;
}

// The findings of the tool's lines "list.txt:N: field: what" (or "list.txt:N: what").
std::vector<Finding> ToolFindings(const std::string& err) {
    std::vector<Finding> found;
    std::size_t start = 0;
    while (start < err.size()) {
        std::size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 9, "list.txt:") != 0) continue;
        std::size_t colon = line.find(": ", 9);
        std::size_t number = std::stoul(line.substr(9, colon - 9));
        std::string rest = line.substr(colon + 2);
        std::size_t field = rest.find(": ");
        // A field is a few words; "no line end; ..." has none.
        bool hasField = field != std::string::npos && rest.find(';') > field;
        found.emplace_back(number - 1, hasField ? rest.substr(0, field) : "",
                           hasField ? rest.substr(field + 2) : rest);
    }
    return found;
}

std::string Text(VDFleetSession* session, uint32_t row, uint32_t field) {
    int32_t length = VDFleetResultText(session, row, field, nullptr, 0);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    VDFleetResultText(session, row, field, text.data(), static_cast<uint32_t>(text.size()));
    text.pop_back();
    return text;
}

uint32_t Rows(VDFleetSession* session) {
    uint32_t rows = 0;
    EXPECT_EQ(VDFleetResultCount(session, &rows), VDFLEET_OK);
    return rows;
}

std::vector<Finding> LibraryFindings(VDFleetSession* session) {
    std::vector<Finding> found;
    for (uint32_t row = 0; row < Rows(session); ++row) {
        int64_t line = -1;
        EXPECT_EQ(VDFleetResultNumber(session, row, VDFLEET_LINE, &line), VDFLEET_OK);
        found.emplace_back(static_cast<std::size_t>(line), Text(session, row, VDFLEET_FIELD),
                           Text(session, row, VDFLEET_WHAT));
    }
    return found;
}

// Each finding as expected: the same line and field, its text beginning with the expected.
void ExpectFindings(const std::vector<Finding>& found, const std::vector<Finding>& expected,
                    const std::string& door) {
    ASSERT_EQ(found.size(), expected.size()) << door;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(std::get<0>(found[i]), std::get<0>(expected[i])) << door;
        EXPECT_EQ(std::get<1>(found[i]), std::get<1>(expected[i])) << door;
        EXPECT_EQ(std::get<2>(found[i]).rfind(std::get<2>(expected[i]), 0), 0u)
            << door << ": " << std::get<2>(found[i]);
    }
}

class Library {
  public:
    explicit Library(const std::string& state) {
        VDFleetOptions options{};
        options.size = sizeof options;
        options.tries = 1;
        state_ = (std::filesystem::current_path() / state).string();
        options.state_dir = state_.c_str();
        EXPECT_EQ(VDFleetOpen(&options, &session_), VDFLEET_OK);
    }
    ~Library() { VDFleetClose(session_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    int32_t Sync(const std::vector<std::string>& lines, const std::string& address,
                 uint32_t flags) {
        std::vector<const char*> pointers;
        for (const std::string& line : lines) pointers.push_back(line.c_str());
        const char* addresses[] = {address.c_str()};
        VDFleetSyncRequest request{};
        request.size = sizeof request;
        request.record_type = 1;
        request.lines = pointers.data();
        request.line_count = static_cast<uint32_t>(pointers.size());
        request.addresses = addresses;
        request.address_count = 1;
        request.flags = flags;
        return VDFleetSync(session_, &request);
    }
    // Items 3100 to 4000 of the scale, as an image.
    std::string Read(const std::string& address) {
        const char* addresses[] = {address.c_str()};
        const uint32_t types[] = {1};
        EXPECT_EQ(VDFleetReadScales(session_, addresses, 1, types, 1, 3100, 4000), VDFLEET_OK);
        return Text(session_, 0, VDFLEET_IMAGE);
    }
    VDFleetSession* Session() { return session_; }

  private:
    std::string state_;
    VDFleetSession* session_ = nullptr;
};

std::vector<std::string> ToolSync(const std::string& state, const std::string& scale,
                                  std::vector<std::string> more) {
    std::vector<std::string> args = {"sync", "--file",   "list.txt", "--type",    "1", "--state",
                                     state,  "--target", scale,      "--retries", "0"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class SameVerdict : public ::testing::TestWithParam<ListCase> {};

TEST_P(SameVerdict, EveryDoorRefusesTheListAlikeAndSendsTheSameWhenAccepted) {
    const ListCase& c = GetParam();
    TempDirectory directory;
    WriteWholeFile("list.txt", FileOf(c));
    ScaleProcess fleet(2, 0);
    ASSERT_TRUE(fleet.Started());
    std::vector<std::string> scales = fleet.OutputLines();
    ASSERT_EQ(scales.size(), 2u);

    ToolRun check = RunTool({"check", "--type", "1", "--file", "list.txt"});
    EXPECT_EQ(check.status, 4) << check.out << check.err;
    ExpectFindings(ToolFindings(check.out), c.findings, "check");
    ToolRun refused = RunTool(ToolSync("tool-state", scales[0], {}));
    EXPECT_EQ(refused.status, 4) << refused.out << refused.err;
    ExpectFindings(ToolFindings(refused.err), c.findings, "sync");

    Library library("library-state");
    if (!c.cutLastLine) {
        EXPECT_EQ(library.Sync(c.lines, scales[1], 0), VDFLEET_E_FINDINGS);
        ExpectFindings(LibraryFindings(library.Session()), c.findings, "VDFleetSync");
        const char* const* lines = nullptr;
        std::vector<const char*> pointers;
        for (const std::string& line : c.lines) pointers.push_back(line.c_str());
        lines = pointers.data();
        EXPECT_EQ(VDFleetCheck(library.Session(), 1, lines, static_cast<uint32_t>(pointers.size())),
                  VDFLEET_OK);
        ExpectFindings(LibraryFindings(library.Session()), c.findings, "VDFleetCheck");
    }
    // Refused: nothing reached either scale.
    EXPECT_EQ(library.Read(scales[0]), "");
    EXPECT_EQ(library.Read(scales[1]), "");

    ToolRun accepted = RunTool(ToolSync("tool-state", scales[0], {"--accept-changes"}));
    EXPECT_EQ(accepted.status, 0) << accepted.out << accepted.err;
    std::string sentByTool = library.Read(scales[0]);
    EXPECT_NE(sentByTool, "");
    if (c.cutLastLine) {
        EXPECT_EQ(sentByTool.find("1P" + c.lines.back().substr(0, 4)), std::string::npos)
            << sentByTool;
        return;
    }
    EXPECT_EQ(library.Sync(c.lines, scales[1], VDFLEET_SYNC_ACCEPT_CHANGES), VDFLEET_OK)
        << Text(library.Session(), 0, VDFLEET_CAUSE);
    EXPECT_EQ(library.Read(scales[1]), sentByTool);
}

INSTANTIATE_TEST_SUITE_P(Lists, SameVerdict, ::testing::ValuesIn(LoadCases()),
                         [](const ::testing::TestParamInfo<ListCase>& info) {
                             return info.param.name;
                         });

// A list cut while it was written: the cut line is never sent, and its record stays on the scale
// as it was, with removals on too; check --file and send --file of an image refuse it alike.
TEST(CutList, TheCutLinesRecordIsLeftAloneOnTheScale) {
    TempDirectory directory;
    ScaleProcess fleet(1, 0);
    ASSERT_TRUE(fleet.Started());
    std::string scale = fleet.OutputLines().at(0);
    ToolRun before =
        RunTool({"send", "--type", "1", "--target", scale}, "3120A0100000599##Pear\n3121A5##Old\n");
    ASSERT_EQ(before.status, 0) << before.err;
    WriteWholeFile("list.txt", "3121A5##New\n3120A01000");
    ToolRun accepted =
        RunTool({"sync", "--file", "list.txt", "--type", "1", "--state", "state", "--target", scale,
                 "--remove-missing", "--max-remove", "all", "--accept-changes"});
    EXPECT_EQ(accepted.status, 0) << accepted.out << accepted.err;
    EXPECT_NE(accepted.err.find("list.txt:2: no line end; the file may have been cut while it "
                                "was written"),
              std::string::npos)
        << accepted.err;
    Library library("library-state");
    EXPECT_EQ(library.Read(scale), "1P3120A0100000599##Pear\n1P3121A5##New\n");

    WriteWholeFile("image.txt", "1P3121A5##Newer\n1P3120A01000");
    ToolRun check = RunTool({"check", "--file", "image.txt"});
    EXPECT_EQ(check.status, 4) << check.out << check.err;
    EXPECT_EQ(check.out,
              "image.txt:2: no line end; the file may have been cut while it was "
              "written\n");
    ToolRun send = RunTool({"send", "--file", "image.txt", "--target", scale});
    EXPECT_EQ(send.status, 4) << send.err;
    ToolRun diff = RunTool({"diff", "image.txt", "image.txt"});
    EXPECT_EQ(diff.status, 4) << diff.err;
    EXPECT_EQ(library.Read(scale), "1P3120A0100000599##Pear\n1P3121A5##New\n");
}

// A list cut inside a record's number ("31" of "3120A...") names another record, or none: which
// one the line was meant for is not known, so that run removes nothing.
TEST(CutList, ACutInsideTheNumberRemovesNoRecord) {
    TempDirectory directory;
    ScaleProcess fleet(1, 0);
    ASSERT_TRUE(fleet.Started());
    std::string scale = fleet.OutputLines().at(0);
    ToolRun before =
        RunTool({"send", "--type", "1", "--target", scale}, "3120A0100000599##Pear\n3121A5##Old\n");
    ASSERT_EQ(before.status, 0) << before.err;
    WriteWholeFile("list.txt", "3121A5##New\n31");
    ToolRun accepted =
        RunTool({"sync", "--file", "list.txt", "--type", "1", "--state", "state", "--target", scale,
                 "--remove-missing", "--max-remove", "all", "--accept-changes"});
    EXPECT_EQ(accepted.status, 0) << accepted.out << accepted.err;
    EXPECT_NE(accepted.err.find("no record is removed in this run"), std::string::npos)
        << accepted.err;
    Library library("library-state");
    EXPECT_EQ(library.Read(scale), "1P3120A0100000599##Pear\n1P3121A5##New\n");
}

}  // namespace
}  // namespace vudaduv::cli::test
