// The six exports against a recording double of the transports.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "send_requests.h"
#include "temp_directory.h"
#include "transport_double.h"
#include "unwritable_upload_file.h"
#include "vudaduv.h"

namespace vudaduv {
namespace {

using testing::AppendReplies;
using testing::Export;
using testing::ExportInfo;
using testing::FileExists;
using testing::kAllExports;
using testing::ReadWholeFile;
using testing::Requests;
using testing::Transport;
using testing::TransportCall;
using testing::Transports;
using testing::WriteWholeFile;
using Lines = std::vector<std::string>;

class SendTest : public testing::WithFreshTransports {};

// The one transport call of a send, or a failure when there was not exactly one.
const TransportCall& OnlyCall() {
    static const TransportCall none{};
    EXPECT_EQ(Transports().calls.size(), 1u);
    return Transports().calls.empty() ? none : Transports().calls.front();
}

struct SendCase {
    const char* name;
    uint32_t recordType;
    std::vector<const char*> lines;
    Lines plain;  // command list of the exports without En
    Lines en;     // command list of the En exports
};

const Lines kReadKeyTable{"!0K00A\r\n", "!0K01A\r\n", "!0K02A\r\n", "!0K03A\r\n"};

TEST_F(SendTest, CommandListReachesTheTransportOfEveryExport) {
    const SendCase cases[] = {
        {"read items",
         2,
         {"12", "5"},
         {"!0U0012A\r\n", "!0U0005A\r\n"},
         {"!0U0012A\r\n", "!0U0005A\r\n"}},
        {"item", 1, {"5Ax##ab"}, {"!0V0005AxB03650366CDE\r\n"}, {"!0V0005AxB097098CDE\r\n"}},
        {"rejected line between two",
         1,
         {"1Aa", "noa", "3Ab"},
         {"!0V0001AaBCDE\r\n", "!0V0003AbBCDE\r\n"},
         {"!0V0001AaBCDE\r\n", "!0V0003AbBCDE\r\n"}},
        {"message",
         3,
         {"5Ahi", "12Ahi"},
         {"!0X05A037203730000B\r\n", "!0X12A104105000B\r\n"},
         {"!0X05A104105000B\r\n", "!0X12A104105000B\r\n"}},
        {"message 5", 5, {"16Ahi"}, {"!0Z16A037203730000B\r\n"}, {"!0Z16A104105000B\r\n"}},
        {"label", 10, {"3AxByz"}, {"!0T03Ax\r\n", "!0R03Ayz\r\n"}, {"!0T03Ax\r\n", "!0R03Ayz\r\n"}},
        {"read labels",
         11,
         {"3", "20"},
         {"!0S03A\r\n", "!0Q03A\r\n", "!0S15A\r\n", "!0Q15A\r\n"},
         {"!0S03A\r\n", "!0Q03A\r\n", "!0S15A\r\n", "!0Q15A\r\n"}},
        {"read key table, no lines", 13, {}, kReadKeyTable, kReadKeyTable},
        {"read key table, five lines", 13, {"1", "2", "3", "4", "5"}, kReadKeyTable, kReadKeyTable},
        {"read free data, no lines", 8, {}, {"!0N\r\n"}, {"!0N\r\n"}},
        {"read free data, five lines", 8, {"a", "b", "c", "d", "e"}, {"!0N\r\n"}, {"!0N\r\n"}},
        {"free data", 7, {"x##A", ""}, {"!0Ox##A\r\n", "!0O\r\n"}, {"!0Ox##A\r\n", "!0O\r\n"}},
        {"type 0 passes",
         0,
         {"free 1", "", "5A##ab"},
         {"free 1", "", "5A##ab"},
         {"free 1", "", "5A##ab"}},
        {"type 14 passes", 14, {"one", "two"}, {"one", "two"}, {"one", "two"}},
        {"largest type passes", UINT32_MAX, {"one"}, {"one"}, {"one"}},
    };
    for (const ExportInfo& e : kAllExports) {
        for (const SendCase& c : cases) {
            Transports() = {};
            Requests request(c.recordType, c.lines);
            EXPECT_EQ(request.Send(e.which), 0) << e.name << ": " << c.name;
            const TransportCall& call = OnlyCall();
            EXPECT_EQ(call.transport, e.transport) << e.name;
            EXPECT_EQ(call.second.lines, e.en ? c.en : c.plain) << e.name << ": " << c.name;
        }
    }
}

TEST_F(SendTest, ClockCommandOfEveryExport) {
    for (const ExportInfo& e : kAllExports) {
        for (const auto& lines : {std::vector<const char*>{}, std::vector<const char*>{"x", "y"}}) {
            Transports() = {};
            Requests request(9, lines);
            EXPECT_EQ(request.Send(e.which), 0) << e.name;
            const Lines& commands = OnlyCall().second.lines;
            ASSERT_EQ(commands.size(), 1u) << e.name;
            ASSERT_EQ(commands[0].size(), 15u) << commands[0];
            EXPECT_EQ(commands[0].substr(0, 3), "!0P");
            EXPECT_EQ(commands[0].find_first_not_of("0123456789", 3), 13u) << commands[0];
            EXPECT_EQ(commands[0].substr(13), "\r\n");
        }
    }
}

TEST_F(SendTest, TcpExportsBuildATargetRecordAndACommandRecord) {
    for (Export which : {Export::kTcp, Export::kTcpEn}) {
        Transports() = {};
        Requests request(2, {"12"});
        ASSERT_EQ(request.Send(which), 0);
        const TransportCall& call = OnlyCall();
        EXPECT_NE(call.first.address, &request.tcp);
        EXPECT_NE(call.first.address, call.second.address);
        EXPECT_EQ(call.first.targets, (Lines{"127.0.0.1:4001", "[::1]"}));
        EXPECT_TRUE(call.first.lines.empty());
        EXPECT_TRUE(call.first.values.empty());
        EXPECT_FALSE(call.first.heldNullString);
        EXPECT_TRUE(call.second.targets.empty());
        EXPECT_TRUE(call.second.values.empty());
        EXPECT_EQ(call.second.lines, (Lines{"!0U0012A\r\n"}));
        EXPECT_FALSE(call.second.heldNullString);
    }
}

TEST_F(SendTest, StExportsPassTheCallersOwnRecord) {
    for (Export which : {Export::kTcpSt, Export::kTcpStEn}) {
        Transports() = {};
        Requests request(2, {"12", "7"});
        ASSERT_EQ(request.Send(which), 0);
        const TransportCall& call = OnlyCall();
        EXPECT_EQ(call.first.address, &request.st);
        EXPECT_EQ(call.first.targets, (Lines{"127.0.0.1:4001", "[::1]"}));
        EXPECT_EQ(call.first.lines, (Lines{"12", "7"}));
        EXPECT_EQ(call.first.values, (std::vector<uint32_t>{250, 250, 1}));
        EXPECT_NE(call.second.address, &request.st);
        EXPECT_TRUE(call.second.targets.empty());
        EXPECT_TRUE(call.second.values.empty());
        EXPECT_EQ(call.second.lines, (Lines{"!0U0012A\r\n", "!0U0007A\r\n"}));
    }
}

TEST_F(SendTest, CommExportsPassTheCallersOwnRecordAndCopyTheLink) {
    for (Export which : {Export::kComm, Export::kCommEn}) {
        Transports() = {};
        Requests request(2, {"12"});
        ASSERT_EQ(request.Send(which), 0);
        const TransportCall& call = OnlyCall();
        EXPECT_EQ(call.first.address, &request.comm);
        EXPECT_EQ(call.first.link, request.comm.link);
        EXPECT_EQ(call.first.lines, (Lines{"12"}));
        EXPECT_NE(call.second.address, &request.comm);
        EXPECT_EQ(call.second.link, request.comm.link);
        EXPECT_EQ(call.second.lines, (Lines{"!0U0012A\r\n"}));
    }
}

TEST_F(SendTest, RequestIsLeftAsItWas) {
    for (const ExportInfo& e : kAllExports) {
        Requests request(1, {"5Ax##ab", "noa"});
        const WQTCP tcp = request.tcp;
        const WQST st = request.st;
        const WQCOMM comm = request.comm;
        ASSERT_EQ(request.Send(e.which), 0);
        EXPECT_EQ(0, std::memcmp(&tcp, &request.tcp, sizeof tcp)) << e.name;
        EXPECT_EQ(0, std::memcmp(&st, &request.st, sizeof st)) << e.name;
        EXPECT_EQ(0, std::memcmp(&comm, &request.comm, sizeof comm)) << e.name;
        EXPECT_STREQ(request.lineItems[0], "5Ax##ab");
        EXPECT_STREQ(request.lineItems[1], "noa");
    }
}

struct NothingCase {
    const char* name;
    uint32_t recordType;
    std::vector<const char*> lines;
};

TEST_F(SendTest, NothingToSendReturnsMinusOneAndTouchesNothing) {
    const NothingCase cases[] = {
        {"no data lines", 2, {}},
        {"no data lines, type 1", 1, {}},
        {"no data lines, type 0", 0, {}},
        {"no data lines, type 7", 7, {}},
        {"every item line lacks A", 1, {"1x", "", "2##a"}},
        {"messages lack A", 3, {"5hi"}},
        {"label lacks B", 10, {"3Ax"}},
        {"key table too short", 12, {"0123"}},
    };
    const std::string previous = "0u0012AxB03650366CDE\r\n0v\r\n";
    for (const ExportInfo& e : kAllExports) {
        for (const NothingCase& c : cases) {
            Transports() = {};
            WriteWholeFile("Rec.txt", previous);
            Requests request(c.recordType, c.lines);
            EXPECT_EQ(request.Send(e.which), -1) << e.name << ": " << c.name;
            EXPECT_TRUE(Transports().calls.empty()) << e.name << ": " << c.name;
            EXPECT_EQ(ReadWholeFile("Rec.txt"), previous) << e.name << ": " << c.name;
        }
    }
}

TEST_F(SendTest, NothingToSendLeavesAMissingUploadFileMissing) {
    Requests request(2, {});
    EXPECT_EQ(request.Send(Export::kTcp), -1);
    EXPECT_FALSE(std::filesystem::exists("Rec.txt"));
}

TEST_F(SendTest, NullRequestReturnsMinusOneAndCallsNothing) {
    WriteWholeFile("Rec.txt", "0nxE\r\n");
    EXPECT_EQ(WQTCPSend(nullptr), -1);
    EXPECT_EQ(WQTCPSendEn(nullptr), -1);
    EXPECT_EQ(WQTCPSendST(nullptr), -1);
    EXPECT_EQ(WQTCPSendSTEn(nullptr), -1);
    EXPECT_EQ(WQCOMMSend(nullptr), -1);
    EXPECT_EQ(WQCOMMSendEn(nullptr), -1);
    EXPECT_TRUE(Transports().calls.empty());
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "0nxE\r\n");
}

TEST_F(SendTest, FailingTransportGivesMinusTwoAfterTheRewrite) {
    for (const ExportInfo& e : kAllExports) {
        for (int32_t result : {1, -5, 7, INT32_MIN}) {
            Transports() = {};
            Transports().result = result;
            Transports().leaveReplies = [](const Lines&) { AppendReplies({"0v", "0eX", "0nyE"}); };
            std::filesystem::remove("Rec.txt");
            Requests request(7, {"y"});
            EXPECT_EQ(request.Send(e.which), -2) << e.name << " " << result;
            EXPECT_EQ(ReadWholeFile("Rec.txt"), "0eX\r\n7Py\r\n") << e.name << " " << result;
        }
    }
}

TEST_F(SendTest, SuccessfulTransportGivesZeroAfterTheRewrite) {
    for (const ExportInfo& e : kAllExports) {
        Transports() = {};
        Transports().leaveReplies = [](const Lines&) { AppendReplies({"0x", "0s01Aa000"}); };
        WriteWholeFile("Rec.txt", "0q01Ab000\r\n");  // left over: the rewrite does not know it
        Requests request(3, {"1Aa"});
        EXPECT_EQ(request.Send(e.which), 0) << e.name;
        EXPECT_EQ(ReadWholeFile("Rec.txt"), "") << e.name;
    }
}

TEST_F(SendTest, RewriteRunsEvenWhenTheTransportLeavesNoFile) {
    for (const ExportInfo& e : kAllExports) {
        Transports() = {};
        std::filesystem::remove("Rec.txt");
        Requests request(8, {});
        EXPECT_EQ(request.Send(e.which), 0) << e.name;
        ASSERT_TRUE(FileExists("Rec.txt")) << e.name;
        EXPECT_EQ(ReadWholeFile("Rec.txt"), "") << e.name;
    }
}

TEST_F(SendTest, NullStringsReadAsEmpty) {
    const SendCase cases[] = {
        {"free data", 7, {nullptr}, {"!0O\r\n"}, {"!0O\r\n"}},
        {"read item",
         2,
         {"3", nullptr},
         {"!0U0003A\r\n", "!0U0000A\r\n"},
         {"!0U0003A\r\n", "!0U0000A\r\n"}},
        {"item rejected", 1, {nullptr, "4A"}, {"!0V0004ABCDE\r\n"}, {"!0V0004ABCDE\r\n"}},
        {"pass-through", 0, {nullptr}, {""}, {""}},
    };
    for (const ExportInfo& e : kAllExports) {
        for (const SendCase& c : cases) {
            Transports() = {};
            Requests request(c.recordType, c.lines);
            request.targetItems[1] = nullptr;
            EXPECT_EQ(request.Send(e.which), 0) << e.name << ": " << c.name;
            const TransportCall& call = OnlyCall();
            EXPECT_EQ(call.second.lines, e.en ? c.en : c.plain) << e.name << ": " << c.name;
            EXPECT_FALSE(call.second.heldNullString) << e.name << ": " << c.name;
            if (e.which == Export::kTcp || e.which == Export::kTcpEn) {
                EXPECT_EQ(call.first.targets, (Lines{"127.0.0.1:4001", ""})) << e.name;
                EXPECT_FALSE(call.first.heldNullString) << e.name;
            }
        }
    }
}

TEST_F(SendTest, EmptyListsWithAndWithoutItems) {
    for (const ExportInfo& e : kAllExports) {
        Transports() = {};
        Requests request(13, {});
        request.targetItems.clear();
        request.tcp.targets = {nullptr, 0};
        request.st.targets = {nullptr, 0};
        request.st.values = {nullptr, 0};
        const char* unused[] = {"not read"};
        request.tcp.lines = {unused, 0};
        request.st.lines = {unused, 0};
        request.comm.lines = {unused, 0};
        EXPECT_EQ(request.Send(e.which), 0) << e.name;
        const TransportCall& call = OnlyCall();
        EXPECT_EQ(call.second.lines, kReadKeyTable) << e.name;
        EXPECT_TRUE(call.first.targets.empty()) << e.name;
        EXPECT_FALSE(call.first.heldNullString) << e.name;
    }
}

TEST_F(SendTest, UnwritableUploadFileWithOutputGivesMinusThree) {
    for (const ExportInfo& e : kAllExports) {
        for (int32_t result : {0, 1}) {
            Transports() = {};
            Transports().result = result;
            bool made = true;
            testing::UnwritableUploadFile unwritable;
            Transports().leaveReplies = [&made, &unwritable](const Lines&) {
                made = unwritable.Make();
            };
            std::filesystem::remove("Rec.txt");
            Requests request(8, {});
            int32_t sent = request.Send(e.which);
            if (!made) GTEST_SKIP() << "no unwritable file on this system";
            EXPECT_EQ(sent, -3) << e.name << " " << result;
            EXPECT_EQ(Transports().calls.size(), 1u);
        }
    }
}

TEST_F(SendTest, UnwritableUploadFileWithoutOutputGivesTheTransportsResult) {
    for (const ExportInfo& e : kAllExports) {
        for (int32_t result : {0, 1}) {
            Transports() = {};
            Transports().result = result;
            Transports().leaveReplies = [](const Lines&) {
                std::filesystem::create_directory("Rec.txt");
            };
            Requests request(8, {});
            EXPECT_EQ(request.Send(e.which), result == 0 ? 0 : -2) << e.name << " " << result;
            std::filesystem::remove("Rec.txt");
        }
    }
}

struct DecodeCase {
    const char* reply;
    std::string plain;  // upload text after a send through an export without En
    std::string en;     // ... and through an En export
};

TEST_F(SendTest, EnExportsDecodeCodePageTextAndTheOthersZonePositionText) {
    const DecodeCase cases[] = {
        {"0u0005AxB03650366C1601DE", "1P0005Ax##ab##\xB0\xA1\r\n",
         "1P0005Ax##$\xF7"
         "B##\xA0\x01\r\n"},
        {"0u0005AxB097098C179DE", "1P0005Ax##\xA9\xE6\xA0\x02##\xA1\xEF\r\n",
         "1P0005Ax##ab##\xA9\xA6\r\n"},
        {"0w05A03720373B", "3P05Ahi\r\n", "3P05A%\xA8jI\r\n"},
        {"0y05A104105B", "5P05A\xAA\xC9\xA0\xA5\r\n", "5P05Ahi\r\n"},
        {"0y17A104105B", "5P17Ahi\r\n", "5P17Ahi\r\n"},
    };
    for (const ExportInfo& e : kAllExports) {
        for (const DecodeCase& c : cases) {
            Transports() = {};
            Transports().leaveReplies = [&c](const Lines&) { AppendReplies({c.reply}); };
            std::filesystem::remove("Rec.txt");
            Requests request(2, {"5"});
            EXPECT_EQ(request.Send(e.which), 0) << e.name;
            EXPECT_EQ(ReadWholeFile("Rec.txt"), e.en ? c.en : c.plain) << e.name << ": " << c.reply;
        }
    }
}

}  // namespace
}  // namespace vudaduv
