// The tool and the fleet's C library run the same sync: two fleets set up alike (two virtual
// scales each, the same items synced, the same changes made by hand) and one address where
// nothing listens; the tool syncs one fleet, the library the other, with the same list and
// options, and every scale's numbers, status and cause must agree.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "temp_directory.h"
#include "tool_process.h"
#include "vudaduv_fleet_c.h"

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;

std::string Items(int first, int last, const std::string& text) {
    std::string lines;
    for (int i = first; i <= last; ++i)
        lines += std::to_string(i) + "A1,25##" + text + " " + std::to_string(i) + "\n";
    return lines;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A fleet of two scales holding items 1 to 20 as synced into DIR, then changed behind the
// state's back on the first scale (items 3 and 4 sent otherwise): the probe may find it.
std::vector<std::string> SetUpFleet(ScaleProcess& fleet, const std::string& dir) {
    std::vector<std::string> scales = fleet.OutputLines();
    std::filesystem::create_directory(dir);
    for (const std::string& scale : scales) {
        std::string name = scale;
        for (char& c : name) c = c == ':' ? '_' : c;
        WriteWholeFile((dir + "/" + name + ".txt").c_str(), "");
    }
    // The tool keeps the state in the character set asked for; the library reads it as it is.
    std::vector<std::string> args = {"sync",    "--file", "first.txt", "--type", "1",
                                     "--state", dir,      "--charset", "CP1252"};
    for (const std::string& scale : scales) args.insert(args.end(), {"--target", scale});
    ToolRun first = RunTool(args);
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    ToolRun drift = RunTool({"send", "--file", "drift.txt", "--type", "1", "--target", scales[0]});
    EXPECT_EQ(drift.status, 0) << drift.out << drift.err;
    return scales;
}

struct Numbers {
    std::string status;
    int64_t planned, removals, written, confirmed, pending, unchanged, probed, differing, code;
    std::string codeName, cause;
};

bool operator==(const Numbers& a, const Numbers& b) {
    return a.status == b.status && a.planned == b.planned && a.removals == b.removals &&
           a.written == b.written && a.confirmed == b.confirmed && a.pending == b.pending &&
           a.unchanged == b.unchanged && a.probed == b.probed && a.differing == b.differing &&
           a.code == b.code && a.codeName == b.codeName && a.cause == b.cause;
}

std::ostream& operator<<(std::ostream& out, const Numbers& n) {
    return out << n.status << " planned " << n.planned << " removals " << n.removals << " written "
               << n.written << " confirmed " << n.confirmed << " pending " << n.pending
               << " unchanged " << n.unchanged << " probed " << n.probed << " differing "
               << n.differing << " " << n.codeName << " '" << n.cause << "'";
}

Numbers FromReport(const nlohmann::json& scale) {
    return {scale["status"],
            scale["planned"],
            scale["removals_planned"],
            scale["written"],
            scale["confirmed"],
            scale["pending"],
            scale["unchanged"],
            scale["probed"],
            scale["differing"],
            scale["transport_code"],
            scale["transport_code_name"],
            scale["failure"]};
}

std::string Text(VDFleetSession* session, uint32_t row, uint32_t field) {
    int32_t length = VDFleetResultText(session, row, field, nullptr, 0);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    VDFleetResultText(session, row, field, text.data(), static_cast<uint32_t>(text.size()));
    text.pop_back();
    return text;
}

int64_t Number(VDFleetSession* session, uint32_t row, uint32_t field) {
    int64_t value = -1;
    EXPECT_EQ(VDFleetResultNumber(session, row, field, &value), VDFLEET_OK) << field;
    return value;
}

Numbers FromLibrary(VDFleetSession* session, uint32_t row) {
    return {Text(session, row, VDFLEET_STATUS_NAME), Number(session, row, VDFLEET_PLANNED),
            Number(session, row, VDFLEET_REMOVALS),  Number(session, row, VDFLEET_WRITTEN),
            Number(session, row, VDFLEET_CONFIRMED), Number(session, row, VDFLEET_PENDING),
            Number(session, row, VDFLEET_UNCHANGED), Number(session, row, VDFLEET_PROBED),
            Number(session, row, VDFLEET_DIFFERING), Number(session, row, VDFLEET_CODE),
            Text(session, row, VDFLEET_CODE_NAME),   Text(session, row, VDFLEET_CAUSE)};
}

// The cause names the address the tool was given or the library, each its own: compared with the
// fleet's addresses made alike.
std::string Alike(std::string text, const std::vector<std::string>& from,
                  const std::vector<std::string>& to) {
    for (std::size_t i = 0; i < from.size(); ++i) {
        for (std::size_t at = text.find(from[i]); at != std::string::npos;
             at = text.find(from[i], at + to[i].size()))
            text.replace(at, from[i].size(), to[i]);
    }
    return text;
}

TEST(SameNumbers, TheToolAndTheFleetLibraryReportEveryScaleAlike) {
    TempDirectory directory;
    WriteWholeFile("first.txt", Items(1, 20, "Item"));
    WriteWholeFile("drift.txt", Items(3, 4, "Changed"));
    // Today's list: items 5 to 8 repriced, 19 and 20 gone, 21 and 22 new.
    std::string list =
        Items(1, 4, "Item") + Items(5, 8, "New") + Items(9, 18, "Item") + Items(21, 22, "Item");
    WriteWholeFile("list.txt", list);
    // One fleet after the other: each writes its addresses into the same file.
    ScaleProcess fleetA(2, 0);
    ASSERT_TRUE(fleetA.Started());
    std::vector<std::string> a = SetUpFleet(fleetA, "state-a");
    ScaleProcess fleetB(2, 0);
    ASSERT_TRUE(fleetB.Started());
    std::vector<std::string> b = SetUpFleet(fleetB, "state-b");
    ASSERT_NE(a, b);
    std::string down = "127.0.0.1:" + std::to_string(ClosedPort());
    a.push_back(down);
    b.push_back(down);

    // All probed (--probe 30 reads every record of the state), so that the random sample cannot
    // make the two runs differ.
    std::vector<std::string> args = {"sync",
                                     "--file",
                                     "list.txt",
                                     "--type",
                                     "1",
                                     "--state",
                                     "state-a",
                                     "--remove-missing",
                                     "--max-remove",
                                     "5",
                                     "--probe",
                                     "30",
                                     "--retries",
                                     "0",
                                     "--report",
                                     "json:a.json"};
    for (const std::string& scale : a) args.insert(args.end(), {"--target", scale});
    ToolRun tool = RunTool(args);
    EXPECT_EQ(tool.status, 1) << tool.out << tool.err;
    nlohmann::json report = nlohmann::json::parse(ReadWholeFile("a.json"));

    VDFleetOptions options{};
    options.size = sizeof options;
    options.tries = 1;
    std::string state = (std::filesystem::current_path() / "state-b").string();
    options.state_dir = state.c_str();
    VDFleetSession* session = nullptr;
    ASSERT_EQ(VDFleetOpen(&options, &session), VDFLEET_OK);
    std::vector<std::string> lines = Lines(list);
    std::vector<const char*> linePointers, addressPointers;
    for (const std::string& line : lines) linePointers.push_back(line.c_str());
    for (const std::string& scale : b) addressPointers.push_back(scale.c_str());
    VDFleetSyncRequest request{};
    request.size = sizeof request;
    request.record_type = 1;
    request.lines = linePointers.data();
    request.line_count = static_cast<uint32_t>(linePointers.size());
    request.addresses = addressPointers.data();
    request.address_count = static_cast<uint32_t>(addressPointers.size());
    request.flags = VDFLEET_SYNC_REMOVE_MISSING;
    request.cap_kind = VDFLEET_CAP_COUNT;
    request.cap_value = 5;
    request.probe = 30;
    EXPECT_EQ(VDFleetSync(session, &request), VDFLEET_SCALES);

    uint32_t rows = 0;
    ASSERT_EQ(VDFleetResultCount(session, &rows), VDFLEET_OK);
    ASSERT_EQ(rows, 3u);
    ASSERT_EQ(report["scales"].size(), 3u);
    for (uint32_t row = 0; row < rows; ++row) {
        Numbers fromTool = FromReport(report["scales"][row]);
        Numbers fromLibrary = FromLibrary(session, row);
        fromLibrary.cause = Alike(fromLibrary.cause, b, a);
        EXPECT_EQ(fromTool, fromLibrary) << "scale " << row;
    }
    // The scale changed behind the state's back was found by its probe and repaired; the other
    // was sent today's changes; the one that is off failed.
    EXPECT_EQ(report["scales"][0]["status"], "drift-repaired");
    EXPECT_EQ(report["scales"][1]["status"], "synced");
    EXPECT_EQ(report["scales"][1]["planned"], 6);
    EXPECT_EQ(report["scales"][1]["removals_planned"], 2);
    EXPECT_EQ(report["scales"][2]["status"], "failed");
    EXPECT_EQ(VDFleetClose(session), VDFLEET_OK);
}

}  // namespace
}  // namespace vudaduv::cli::test
